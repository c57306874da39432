#include "engines/cryptoc/crypc_registry.h"

#include <map>
#include <memory>
#include <string>

#include "engines/cryptoc/crypc_codes.h"

namespace zk::cryptoc {

namespace {

TCriticalSection& RegistryLock() {
  static TCriticalSection lock;
  return lock;
}

std::map<std::string, std::unique_ptr<TCryptoC_DLL>>& Registry() {
  static std::map<std::string, std::unique_ptr<TCryptoC_DLL>> registry;
  return registry;
}

}  // namespace

int32_t FetchBinding(const KeySettings& Settings, TPasswordRequestFunc PasswordRequest, TCryptoC_DLL*& Binding) {
  SectionLock hold(RegistryLock());
  const std::string key = Settings.RegistryKey();
  auto at = Registry().find(key);
  if (at == Registry().end()) {
    auto binding = std::make_unique<TCryptoC_DLL>(Settings);
    if (!binding->LibLoaded) return kErrLibraryMissing;
    if (!binding->FunctionsPresent) return kErrFunctionsMissing;
    binding->SetPasswordRequestFunc(PasswordRequest);
    at = Registry().emplace(key, std::move(binding)).first;
  }
  Binding = at->second.get();
  return kOk;
}

void DropAllBindingKeys() {
  SectionLock hold(RegistryLock());
  for (auto& entry : Registry()) entry.second->DropAllKeys();
}

}  // namespace zk::cryptoc
