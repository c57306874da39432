// The part of CryptoAPI's "advapi32.dll" that the Crypto COM 2.2 adapter asks for on Linux: the
// Intel hardware random provider (type 22) and its generator, answered from the system's
// generator. Any other provider is refused, as on a machine without that hardware.
#include <cstdint>
#include <cstring>

#include "gost.h"
#include "standin.h"

namespace {
const char kIntelProvider[] = "Intel Hardware Cryptographic Service Provider";
constexpr uint32_t kIntelProviderType = 22;
constexpr uintptr_t kIntelHandle = 0x1C22;
}  // namespace

STANDIN_EXPORT int32_t CryptAcquireContextA(uintptr_t* Provider, const char* Container, const char* Name,
                                            uint32_t Type, uint32_t Flags) {
  if (standin::Hook("CryptAcquireContextA") != 0 || Provider == nullptr) return 0;
  if (Container != nullptr || Name == nullptr || std::strcmp(Name, kIntelProvider) != 0 ||
      Type != kIntelProviderType || Flags != 0)
    return 0;
  *Provider = kIntelHandle;
  return 1;
}

STANDIN_EXPORT int32_t CryptGenRandom(uintptr_t Provider, uint32_t Len, uint8_t* Buffer) {
  if (standin::Hook("CryptGenRandom") != 0 || Provider != kIntelHandle || (Buffer == nullptr && Len > 0)) return 0;
  gost::SystemRandom(Buffer, Len);
  return 1;
}

STANDIN_EXPORT int32_t CryptReleaseContext(uintptr_t Provider, uint32_t) {
  standin::Hook("CryptReleaseContext");
  return Provider == kIntelHandle ? 1 : 0;
}

STANDIN_EXPORT int StandIn_Control(const char* command) { return standin::Control(command); }
