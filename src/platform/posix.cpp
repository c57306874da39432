// POSIX implementation of the platform layer. The rest of the library speaks Windows paths, so
// every file function first maps its path through NativePath: either separator, and a path
// that does not exist with its exact case is looked up component by component ignoring case.
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <type_traits>

#include "platform/calendar.h"
#include "platform/faults.h"

namespace zk::platform {
namespace {

bool HasSeparator(const std::string& s) { return s.find_first_of("/\\") != std::string::npos; }

bool Exists(const std::string& native) {
  struct stat st;
  return !native.empty() && ::stat(native.c_str(), &st) == 0;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  return ::strcasecmp(a.c_str(), b) == 0;
}

// The entry of `dir` whose name equals `name` ignoring (ASCII) case; the smallest such name
// when several differ only in case, so the choice does not depend on directory order.
bool FindEntryIgnoringCase(const std::string& dir, const std::string& name, std::string& found) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return false;
  bool any = false;
  while (const dirent* e = ::readdir(d)) {
    if (!EqualsIgnoringCase(name, e->d_name)) continue;
    if (!any || found > e->d_name) found = e->d_name;
    any = true;
  }
  ::closedir(d);
  return any;
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string ResolveIgnoringCase(const std::string& slashed) {
  const std::vector<std::string> parts = SplitComponents(slashed);
  std::string result;
  bool resolving = true;  // false once a component is missing: the rest is kept as given
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += '/';
    const std::string& part = parts[i];
    std::string match;
    if (resolving && !part.empty() && part != "." && part != ".." && !Exists(result + part)) {
      if (FindEntryIgnoringCase(result, part, match)) {
        result += match;
        continue;
      }
      resolving = false;
    }
    result += part;
  }
  return result;
}

struct FileDescriptor {
  int fd;
  explicit FileDescriptor(int f) : fd(f) {}
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// setenv/getenv are not safe against each other across threads; the library's own calls are.
std::mutex& EnvironmentMutex() {
  static std::mutex m;
  return m;
}

// Directories of the Windows-style ";"-separated "Path" variable, searched last as the
// Windows loader does.
ModuleHandle LoadFromPathVariable(const std::string& fileName) {
  std::string pathVariable;
  if (!GetEnv("Path", pathVariable)) return nullptr;
  size_t start = 0;
  while (start <= pathVariable.size()) {
    size_t end = pathVariable.find(';', start);
    if (end == std::string::npos) end = pathVariable.size();
    const std::string dir = pathVariable.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    const std::string candidate = NativePath(dir + "/" + fileName);
    if (!IsFile(candidate)) continue;
    if (void* h = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  }
  return nullptr;
}

std::string AbsolutePath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

// "_Name@N" (a stdcall name as Win32 decorates it) gives "Name"; any other name gives "".
std::string StdcallPlainName(const char* name) {
  const char* at = std::strrchr(name, '@');
  if (name[0] != '_' || at == nullptr || at == name + 1 || at[1] == '\0') return {};
  for (const char* d = at + 1; *d != '\0'; ++d) {
    if (*d < '0' || *d > '9') return {};
  }
  return std::string(name + 1, at);
}

}  // namespace

// --- Modules -------------------------------------------------------------------------------

ModuleHandle LoadModule(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  if (HasSeparator(fileName)) {
    return ::dlopen(NativePath(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (void* h = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  return LoadFromPathVariable(fileName);
}

void* FindSymbol(ModuleHandle module, const char* name) {
  // dlsym(nullptr, ...) would search the whole process; a missing module has no symbols.
  if (module == nullptr || name == nullptr) return nullptr;
  if (void* symbol = ::dlsym(module, name)) return symbol;
  const std::string plain = StdcallPlainName(name);
  return plain.empty() ? nullptr : ::dlsym(module, plain.c_str());
}

std::string ModuleFileName(ModuleHandle module) {
  link_map* map = nullptr;
  if (module == nullptr || ::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return {};
  // The main program has no name of its own in the loader's list.
  if (map->l_name == nullptr || map->l_name[0] == '\0') return HostExecutableFileName();
  return AbsolutePath(map->l_name);
}

void FreeModule(ModuleHandle module) {
  if (module != nullptr) ::dlclose(module);
}

std::string HostExecutableFileName() {
  std::vector<char> buffer(512);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

std::string ResolveOwnFileName() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&LibraryFileName), &info) == 0) return {};
  // The main program has no name of its own in the loader's list.
  if (info.dli_fname == nullptr || std::strchr(info.dli_fname, '/') == nullptr) {
    return HostExecutableFileName();
  }
  return AbsolutePath(info.dli_fname);
}

// The loader keeps a module's name as the host passed it; a relative name means something else
// once the host changes its working directory, so it is made absolute while this module loads.
const std::string& OwnFileNameAtLoad() {
  static const std::string name = ResolveOwnFileName();
  return name;
}
[[maybe_unused]] const bool kOwnFileNameResolved = !OwnFileNameAtLoad().empty();

}  // namespace

std::string LibraryFileName() {
  const std::string& atLoad = OwnFileNameAtLoad();
  return atLoad.empty() ? ResolveOwnFileName() : atLoad;
}

// --- Environment ---------------------------------------------------------------------------

bool GetEnv(const std::string& name, std::string& value) {
  std::lock_guard<std::mutex> lock(EnvironmentMutex());
  const char* v = std::getenv(name.c_str());
  if (v == nullptr) return false;
  value = v;
  return true;
}

bool SetEnv(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  std::lock_guard<std::mutex> lock(EnvironmentMutex());
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

// --- Files and directories -----------------------------------------------------------------

std::string NativePath(const std::string& path) {
  std::string slashed = path;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  if (slashed.empty() || Exists(slashed)) return slashed;
  return ResolveIgnoringCase(slashed);
}

bool PathExists(const std::string& path) { return Exists(NativePath(path)); }

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& entries) {
  const std::string native = NativePath(dir);
  DIR* d = ::opendir(native.c_str());
  if (d == nullptr) return false;
  entries.clear();
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    DirEntry entry;
    entry.name = e->d_name;
    if (e->d_type == DT_DIR) {
      entry.isDirectory = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      entry.isDirectory = ::stat((native + "/" + entry.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool RemoveFile(const std::string& path) {
  if (FileChangeFails(FileChange::Remove, path)) return false;
  return ::unlink(NativePath(path).c_str()) == 0;
}

bool MoveFileTo(const std::string& from, const std::string& to) {
  if (FileChangeFails(FileChange::Move, to)) return false;
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  if (!Exists(source)) return false;
  // Refuses an existing target atomically; not every file system supports the flag.
  if (::syscall(SYS_renameat2, AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), 1u) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0) return false;
  return ::rename(source.c_str(), target.c_str()) == 0;
}

bool MakeDirectory(const std::string& path) { return ::mkdir(NativePath(path).c_str(), 0777) == 0; }

int64_t FileSize(const std::string& path) {
  FileDescriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, size_t maxSize) {
  data.clear();
  FileDescriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (static_cast<uint64_t>(st.st_size) > maxSize) return false;
  data.reserve(static_cast<size_t>(st.st_size));
  // Read to the end rather than trusting the size: the file may grow while we read it.
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) return true;
    if (static_cast<size_t>(n) > maxSize - data.size()) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  data.clear();
  return false;
}

bool CreateNewFile(const std::string& path, const void* data, size_t size) {
  if (data == nullptr && size > 0) return false;
  if (FileChangeFails(FileChange::Create, path)) return false;
  const std::string native = NativePath(path);
  bool ok;
  {
    FileDescriptor file(::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.fd < 0) return false;
    ok = WriteAll(file.fd, static_cast<const uint8_t*>(data), size) && ::fsync(file.fd) == 0;
    ok = (::close(file.fd) == 0) && ok;
    file.fd = -1;
  }
  if (!ok) ::unlink(native.c_str());
  return ok;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (FileChangeFails(FileChange::Move, to)) return false;
  return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

std::string TemporaryNameBeside(const std::string& nearPath) {
  static std::atomic<unsigned> counter{0};
  const std::string native = NativePath(nearPath);
  const size_t slash = native.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
  char name[48];
  std::snprintf(name, sizeof name, "~zk%x.%x.tmp", static_cast<unsigned>(::getpid()), counter++);
  return dir + name;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
  // Written beside the target and renamed over it, so a failed write never leaves a cut-off file
  // in place of the old one.
  const std::string temporary = TemporaryNameBeside(path);
  if (!CreateNewFile(temporary, data, size)) return false;
  if (ReplaceFile(temporary, path)) return true;
  ::unlink(temporary.c_str());
  return false;
}

// --- Time ----------------------------------------------------------------------------------

double Now() {
  timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  ::localtime_r(&ts.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                        static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                        static_cast<unsigned>(local.tm_min),
                        // A leap second is folded into the last second of the day.
                        static_cast<unsigned>(std::min(local.tm_sec, 59)),
                        static_cast<unsigned>(ts.tv_nsec / 1000000));
}

uint64_t MonotonicMilliseconds() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepMilliseconds(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

uint32_t LastError() { return static_cast<uint32_t>(errno); }

std::string SystemErrorText(uint32_t code) {
  char buffer[256] = {};
  // The GNU strerror_r may answer a static text instead of filling the buffer.
  const auto text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  if constexpr (std::is_same_v<decltype(text), const int>) return buffer;
  else return text != nullptr ? std::string(text) : std::string();
}

}  // namespace zk::platform
