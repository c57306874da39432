// "cc.dll" loaded once per process, its functions resolved by their decorated names, and the
// unload step that writes the random file back and forgets the cached key files.
#include <cstdlib>
#include <mutex>

#include "engines/ccom22/cc_dll.h"
#include "engines/ccom22/cc_keycache.h"
#include "frame/rwsyncs.h"

namespace zk::ccom22 {

namespace {

const char kToolkitFile[] = "cc.dll";

struct TToolkit {
  platform::ModuleHandle Module = nullptr;
  CcApi Api;
  bool Missing = false;
};

TCriticalSection& LoaderLock() {
  static TCriticalSection lock;
  return lock;
}

TToolkit*& Instance() {
  static TToolkit* instance = nullptr;
  return instance;
}

template <typename Fn>
void ResolveOne(TToolkit& toolkit, const std::string& name, Fn& target) {
  target = reinterpret_cast<Fn>(platform::FindSymbol(toolkit.Module, name.c_str()));
  if (target == nullptr) toolkit.Missing = true;
}

void FinalizeToolkit() {
  SectionLock hold(LoaderLock());
  TToolkit*& instance = Instance();
  if (instance == nullptr) return;
#if defined(_WIN32)
  // This runs inside the library's own detach, where the toolkit may already have been detached:
  // the random file was written back at the last reload, and the keys are only wiped.
  ForgetAllFiles();
#else
  if (!instance->Missing) {
    TCComDLL binding;
    FlushKeyCache(binding);
  }
  ForgetAllFiles();
  platform::FreeModule(instance->Module);
#endif
  delete instance;
  instance = nullptr;
}

}  // namespace

const CcApi* ToolkitApi(bool& Missing) {
  static std::once_flag once;
  std::call_once(once, [] {
    // What the exit step uses exists before it is registered, so it is destroyed after it.
    LoaderLock();
    RandomPool();
    std::atexit(FinalizeToolkit);
  });
  SectionLock hold(LoaderLock());
  TToolkit*& instance = Instance();
  if (instance == nullptr) {
    platform::ModuleHandle module = LoadToolkitLibrary(kToolkitFile);
    if (module == nullptr) return nullptr;
    instance = new TToolkit();
    instance->Module = module;
#define ZK_CC_RESOLVE(name, bytes) ResolveOne(*instance, "_" #name "@" #bytes, instance->Api.name);
    ZK_CC_FUNCTIONS(ZK_CC_RESOLVE)
#undef ZK_CC_RESOLVE
  }
  Missing = instance->Missing;
  return &instance->Api;
}

}  // namespace zk::ccom22
