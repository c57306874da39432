#include "engines/cryptoc/crypc_registry.h"

#include <memory>

#include "engines/cryptoc/crypc_codes.h"
#include "frame/bindingregistry.h"

namespace zk::cryptoc {

namespace {

TBindingRegistry<TCryptoC_DLL>& Registry() {
  static TBindingRegistry<TCryptoC_DLL> registry;
  return registry;
}

}  // namespace

int32_t FetchBinding(const KeySettings& Settings, TPasswordRequestFunc PasswordRequest, TCryptoC_DLL*& Binding) {
  auto create = [&](std::shared_ptr<TCryptoC_DLL>& created) {
    created = std::make_shared<TCryptoC_DLL>(Settings);
    if (!created->LibLoaded) return kErrLibraryMissing;
    if (!created->FunctionsPresent) return kErrFunctionsMissing;
    created->SetPasswordRequestFunc(PasswordRequest);
    return kOk;
  };
  std::shared_ptr<TCryptoC_DLL> binding;
  const int32_t code = Registry().Fetch(Settings.RegistryKey(), create, binding);
  // The registry keeps every binding until the process ends, so the pointer stays valid.
  Binding = binding.get();
  return code;
}

void DropAllBindingKeys() {
  for (const auto& binding : Registry().All()) binding->DropAllKeys();
}

}  // namespace zk::cryptoc
