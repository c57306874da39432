#include "engines/ccom3x/ccom_loader.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "frame/rwsyncs.h"

namespace zk::ccom3x {

namespace {

const char kToolkitFile[] = "ccom.dll";
const char kOptionalFunction[] = "GOSTH_file_digest";

TCriticalSection& LoaderLock() {
  static TCriticalSection lock;
  return lock;
}

TCCom3xDll_loader*& Instance() {
  static TCCom3xDll_loader* instance = nullptr;
  return instance;
}

const char* const kFunctionNames[] = {
#define ZK_CCOM_NAME_STRING(name) #name,
    ZK_CCOM_FUNCTION_NAMES(ZK_CCOM_NAME_STRING)
#undef ZK_CCOM_NAME_STRING
};

}  // namespace

// Defined with the binding registry: drops every binding while the module is still loaded.
void FinalizeBindings();
void PrepareBindingStatics();

bool ResolveToolkitFunctions(platform::ModuleHandle module, CComApi& api) {
  bool complete = true;
  for (size_t i = 0; i < kToolkitFunctionCount; ++i) {
    api.All[i] = platform::FindSymbol(module, kFunctionNames[i]);
    if (api.All[i] == nullptr && std::strcmp(kFunctionNames[i], kOptionalFunction) != 0) complete = false;
  }
#define ZK_CCOM_RESOLVE_TYPED(name) api.name = reinterpret_cast<decltype(&::name)>(platform::FindSymbol(module, #name));
  ZK_CCOM_CALLED_NAMES(ZK_CCOM_RESOLVE_TYPED)
#undef ZK_CCOM_RESOLVE_TYPED
  return complete;
}

static void FinalizeAdapter() {
  FinalizeBindings();
  TCCom3xDll_loader::Finalize();
}

void PrepareUnloadOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Everything the exit step uses exists before it is registered, so it is destroyed after.
    LoaderLock();
    PrepareBindingStatics();
    std::atexit(FinalizeAdapter);
  });
}

TCCom3xDll_loader& TCCom3xDll_loader::Acquire() {
  PrepareUnloadOnce();
  SectionLock hold(LoaderLock());
  TCCom3xDll_loader*& instance = Instance();
  if (instance == nullptr) instance = new TCCom3xDll_loader();
  if (!instance->Loaded()) instance->Load();
  return *instance;
}

void TCCom3xDll_loader::Load() {
  platform::ModuleHandle module = LoadToolkitLibrary(kToolkitFile);
  if (module == nullptr) return;
  auto init = reinterpret_cast<decltype(&::CADB_init)>(platform::FindSymbol(module, "CADB_init"));
  if (init == nullptr) {
    // Without its initialisation the toolkit is unusable: it counts as not loaded.
    platform::FreeModule(module);
    return;
  }
  close_ = reinterpret_cast<decltype(&::CADB_close)>(platform::FindSymbol(module, "CADB_close"));
  module_ = module;
  init();
}

void TCCom3xDll_loader::Finalize() {
  SectionLock hold(LoaderLock());
  TCCom3xDll_loader*& instance = Instance();
  if (instance == nullptr) return;
  if (instance->module_ != nullptr) {
    if (instance->close_ != nullptr) instance->close_();
#if !defined(_WIN32)
    // On Windows this runs inside the library's own detach, where unloading another DLL is
    // unsafe; the reference then lapses with the process.
    platform::FreeModule(instance->module_);
#endif
  }
  delete instance;
  instance = nullptr;
}

}  // namespace zk::ccom3x
