#include "zk_loader.h"

#include <cstdlib>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace zkhost {
namespace {

#if defined(_WIN32)
void* LoadModuleFile(const std::string& fileName, std::string& error) {
  HMODULE module = LoadLibraryA(fileName.c_str());
  if (!module) error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}
void* ModuleSymbol(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
void FreeModuleFile(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
#else
void* LoadModuleFile(const std::string& fileName, std::string& error) {
  // A bare name would make dlopen search the system's library path instead of the current
  // directory, unlike LoadLibraryA; a host means the file it names.
  std::string path = fileName.find('/') == std::string::npos ? "./" + fileName : fileName;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* reason = dlerror();
    error = reason ? reason : "dlopen failed";
  }
  return module;
}
void* ModuleSymbol(void* module, const char* name) { return dlsym(module, name); }
void FreeModuleFile(void* module) { dlclose(module); }
#endif

}  // namespace

const char* DefaultLibraryFileName() {
#if defined(_WIN32)
  return "zk_mint.dll";
#else
  return "libzk_mint.so";
#endif
}

std::string ExecutableDirectory() {
  std::string path;
#if defined(_WIN32)
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) {
      path.assign(buffer.data(), length);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  size_t slash = path.find_last_of("\\/");
#else
  std::vector<char> buffer(4096);
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return "";
  path.assign(buffer.data(), static_cast<size_t>(length));
  size_t slash = path.find_last_of('/');
#endif
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string DemoToolkitDirectory() {
  const std::string beside = ExecutableDirectory();
#if defined(_WIN32)
  const std::string installed = beside + "zkmint-demo\\";
  const DWORD attributes = GetFileAttributesA(installed.c_str());
  const bool haveInstalled = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  const std::string installed = beside + "zkmint-demo/";
  const bool haveInstalled = access(installed.c_str(), X_OK) == 0;
#endif
  return haveInstalled ? installed : beside;
}

bool PrependToolkitSearchPath(const std::string& dir) {
#if defined(_WIN32)
  const char* name = "PATH";
#else
  const char* name = "Path";
#endif
  const char* old = std::getenv(name);
  const std::string value = old && *old ? dir + ";" + old : dir;
#if defined(_WIN32)
  return SetEnvironmentVariableA(name, value.c_str()) != 0 && _putenv_s(name, value.c_str()) == 0;
#else
  return setenv(name, value.c_str(), 1) == 0;
#endif
}

std::string LocateLibrary(const std::string& explicitPath) {
  if (!explicitPath.empty()) return explicitPath;
  const char* fromEnvironment = std::getenv("ZK_MINT_LIBRARY");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  std::string besideExecutable = ExecutableDirectory() + DefaultLibraryFileName();
#if !defined(_WIN32)
  // An installed zkmint lies in bin/ and the library in lib/.
  std::string installed = ExecutableDirectory() + "../lib/" + DefaultLibraryFileName();
  if (access(besideExecutable.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
#endif
  return besideExecutable;
}

ZkLibrary::~ZkLibrary() { Close(); }

bool ZkLibrary::Open(const std::string& fileName, std::string& error) {
  Close();
  void* module = LoadModuleFile(fileName, error);
  if (!module) {
    error = "cannot load " + fileName + ": " + error;
    return false;
  }
  ZkApi api;
  std::string missing;
#define ZK_RESOLVE(name)                                                     \
  api.name = reinterpret_cast<decltype(api.name)>(ModuleSymbol(module, #name)); \
  if (!api.name) missing += std::string(missing.empty() ? "" : ", ") + #name;
  ZK_MINT_EXPORT_NAMES(ZK_RESOLVE)
#undef ZK_RESOLVE
  if (!missing.empty()) {
    FreeModuleFile(module);
    error = fileName + " lacks the exports: " + missing;
    return false;
  }
  module_ = module;
  api_ = api;
  fileName_ = fileName;
  return true;
}

void ZkLibrary::Close() {
  if (!module_) return;
  FreeModuleFile(module_);
  module_ = nullptr;
  api_ = ZkApi();
  fileName_.clear();
}

HostModule::~HostModule() { Close(); }

bool HostModule::Open(const std::string& fileName, std::string& error) {
  Close();
  module_ = LoadModuleFile(fileName, error);
  if (!module_) error = "cannot load " + fileName + ": " + error;
  return module_ != nullptr;
}

void HostModule::Close() {
  if (module_) FreeModuleFile(module_);
  module_ = nullptr;
}

void* HostModule::Symbol(const char* name) const { return module_ ? ModuleSymbol(module_, name) : nullptr; }

}  // namespace zkhost
