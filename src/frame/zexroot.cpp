#include "frame/zexroot.h"

#include <mutex>

#include "frame/errors.h"

namespace zk {

namespace {

struct RootState {
  std::mutex mutex;  // the host sets the root once, but a lock costs nothing and keeps readers safe
  std::string root;
  std::vector<std::string> searchDirs;
};

RootState& State() {
  static RootState state;
  return state;
}

bool HasDirectoryPart(const std::string& name) { return name.find_first_of("\\/:") != std::string::npos; }

// Everything up to and including the last separator.
std::string DirectoryOf(const std::string& fileName) {
  size_t pos = fileName.find_last_of("\\/:");
  return pos == std::string::npos ? std::string() : fileName.substr(0, pos + 1);
}

void PrependToPathVariable(const std::vector<std::string>& dirs) {
  std::string path;
  platform::GetEnv("Path", path);
  for (const std::string& dir : dirs) path = path.empty() ? dir : dir + ";" + path;
  platform::SetEnv("Path", path);
}

}  // namespace

void SetZEXRoot(const std::string& Path) {
  std::string withDelimiter = Path;
  if (withDelimiter.empty() || withDelimiter.back() != '\\') withDelimiter += '\\';
  std::vector<std::string> dirs;
  {
    std::lock_guard<std::mutex> hold(State().mutex);
    if (!State().root.empty()) {
      if (State().root == withDelimiter) return;
      throw Exception("Could not set ZEXRoot to '" + Path + "'. Already set to '" + State().root + "'.");
    }
    // No directory at all: taking "\" would fix the root to the drive's root for the whole process.
    if (Path.empty()) return;
    State().root = withDelimiter;
    State().searchDirs = {withDelimiter + "EXE\\", withDelimiter + "SYSTEM\\", withDelimiter + "USER\\"};
    dirs = State().searchDirs;
  }
  PrependToPathVariable(dirs);
}

std::string GetZEXRoot() {
  std::lock_guard<std::mutex> hold(State().mutex);
  return State().root;
}

std::vector<std::string> GetToolkitSearchDirs() {
  std::lock_guard<std::mutex> hold(State().mutex);
  return State().searchDirs;
}

void ResetZEXRootForTesting() {
  std::lock_guard<std::mutex> hold(State().mutex);
  State().root.clear();
  State().searchDirs.clear();
}

std::string FindLibraryFile(const std::string& Name) {
  if (HasDirectoryPart(Name)) return Name;
  std::string hostDir = DirectoryOf(platform::HostExecutableFileName());
  if (!hostDir.empty() && platform::IsFile(hostDir + Name)) return hostDir + Name;
  for (const std::string& dir : GetToolkitSearchDirs()) {
    if (platform::IsFile(dir + Name)) return dir + Name;
  }
  return Name;
}

platform::ModuleHandle LoadLibraryWithSearch(const std::string& Name) {
  return platform::LoadModule(FindLibraryFile(Name));
}

platform::ModuleHandle LoadToolkitLibrary(const std::string& Name) {
  if (platform::ModuleHandle module = LoadLibraryWithSearch(Name)) return module;
  // Toolkits lying next to this library are found even when nothing else points there.
  std::string ownFile = platform::LibraryFileName();
  if (ownFile.empty()) return nullptr;
  return LoadLibraryWithSearch(DirectoryOf(ownFile) + Name);
}

}  // namespace zk
