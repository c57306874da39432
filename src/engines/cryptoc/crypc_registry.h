// The process-wide registry of Crypto-C bindings: one per set of key settings, shared by every
// engine with those settings, alive until the process ends.
#pragma once

#include <cstdint>

#include "engines/cryptoc/crypc_dll.h"

namespace zk::cryptoc {

// The binding for the settings, created on first need: 0, -29 (no toolkit) or -30 (a function
// missing). The binding receives the password-request function.
int32_t FetchBinding(const KeySettings& Settings, TPasswordRequestFunc PasswordRequest, TCryptoC_DLL*& Binding);
// Every binding forgets all its keys.
void DropAllBindingKeys();

}  // namespace zk::cryptoc
