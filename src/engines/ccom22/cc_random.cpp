// The binding's random arrangement: the toolkit's generator seeded for each operation from the
// random pool, optionally mixed with the Intel hardware source.
#include <algorithm>
#include <cstring>

#include "engines/ccom22/cc_dll.h"
#include "engines/ccom22/cc_keycache.h"
#include "frame/rwsyncs.h"
#include "platform/platform.h"

namespace zk::ccom22 {

namespace {
const char kIntelProvider[] = "Intel Hardware Cryptographic Service Provider";
constexpr uint32_t kIntelProviderType = 22;
constexpr size_t kSeedSize = 1024;
}  // namespace

TIntelProvider::TIntelProvider() {
  module_ = LoadToolkitLibrary("advapi32.dll");
  LibLoaded = module_ != nullptr;
  if (!LibLoaded) return;
  FunctionsPresent = true;
  Resolve(module_, "CryptAcquireContextA", acquire_);
  Resolve(module_, "CryptReleaseContext", release_);
  Resolve(module_, "CryptGenRandom", generate_);
}

TIntelProvider::~TIntelProvider() {
  if (acquired_ && release_ != nullptr) release_(provider_, 0);
  if (module_ != nullptr) platform::FreeModule(module_);
}

bool TIntelProvider::Generate(uint8_t* Out, size_t Len) {
  if (!LibLoaded || !FunctionsPresent) return false;
  if (!acquired_) acquired_ = acquire_(&provider_, nullptr, kIntelProvider, kIntelProviderType, 0) != 0;
  return acquired_ && generate_(provider_, static_cast<uint32_t>(Len), Out) != 0;
}

int32_t TCComDLL::GetRandomBytes(bool Hardware, uint8_t* Out, size_t Len) {
  if (!Hardware) {
    const int32_t got = api_->GetRandom(Out, static_cast<int32_t>(Len));
    return got < 0 ? got : kOk;
  }
  if (!intel_) intel_ = std::make_unique<TIntelProvider>();
  // The system's last error would collide with the adapter's codes: the source is unavailable.
  return intel_->Generate(Out, Len) ? kOk : kErrHardwareRandom;
}

int32_t TCComDLL::InitRandom(bool Hardware) {
  Secret<kSeedSize> seed;
  if (Hardware) {
    if (!intel_) intel_ = std::make_unique<TIntelProvider>();
    if (!intel_->Generate(seed.data(), kSeedSize)) return kErrHardwareRandom;
  }
  TKeyCacheLock hold;
  TRandomPool& pool = RandomPool();
  // At most the seed's size of the pool, mixed into the hardware bytes rather than over them.
  const size_t mixed = std::min(pool.Used, kSeedSize);
  for (size_t i = 0; i < mixed; ++i) seed.data()[i] ^= pool.Image.data()[i];
  if (int32_t status = api_->InitRand()) return status;
  api_->RandSeed(seed.data(), static_cast<int32_t>(kSeedSize));
  uint8_t b[4] = {};
  Secret<32> stir;
  int32_t status = GetRandomBytes(Hardware, b, sizeof b);
  if (status == kOk) status = GetRandomBytes(Hardware, stir.data(), stir.size());
  if (status != kOk) {
    api_->FreeRand();
    return status;
  }
  // The pool is stirred at a random place, so that the next random file differs from this one.
  const size_t at = size_t{b[0]} + b[1] + b[2] + b[3];
  std::memcpy(pool.Image.data() + at, stir.data(), stir.size());
  pool.Used = std::max(pool.Used, at + stir.size());
  pool.SeededHardware = Hardware ? 1 : 0;
  return kOk;
}

void TCComDLL::FreeRandom() { api_->FreeRand(); }

int32_t TCComDLL::RefreshRandom(bool Hardware) {
  Secret<32> fresh;
  if (int32_t status = GetRandomBytes(Hardware, fresh.data(), fresh.size())) return status;
  api_->RandSeed(fresh.data(), static_cast<int32_t>(fresh.size()));
  if (!Hardware) {
    const uint16_t millis = static_cast<uint16_t>(platform::MonotonicMilliseconds() % 1000);
    api_->RandSeed(&millis, sizeof millis);
  }
  return kOk;
}

}  // namespace zk::ccom22
