#include "engines/openssl/ossl_random.h"

#include <vector>

#include "engines/openssl/ossl_api.h"
#include "engines/openssl/ossl_locks.h"
#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/ossl_objects.h"
#include "frame/secure.h"
#include "platform/platform.h"

namespace zk::ossl {

namespace {

// The secret key file is at most this long; its bytes seed the generator when no seed file works.
constexpr size_t kMaxKeyFileBytes = 2048;
// The time is added to the generator at most once in this many milliseconds.
constexpr uint64_t kTimeEntropyIntervalMs = 100;

}  // namespace

TCriticalSection& OSSLRandomInstanceLock() {
  static TCriticalSection lock;
  return lock;
}

namespace {

std::atomic<TOpenSSLRandomGenerator*>& Instance() {
  static std::atomic<TOpenSSLRandomGenerator*> instance{nullptr};
  return instance;
}

}  // namespace

TOpenSSLRandomGenerator::~TOpenSSLRandomGenerator() {
  WriteLock hold(lock_);
  WriteSeedFile();
  ReleaseLibcrypto(module_);
}

void TOpenSSLRandomGenerator::Load() {
  // Every operation asks; once the library is in place the answer never changes until unload.
  if (loaded_.load(std::memory_order_acquire)) return;
  WriteLock hold(lock_);
  if (LibLoaded) return;
  module_ = LoadLibcrypto();
  if (module_ == nullptr) return;
  LibLoaded = true;
  PrepareLibraryOnce(module_);
  FunctionsPresent = true;
  Resolve(module_, "RAND_bytes", RAND_bytes_);
  Resolve(module_, "RAND_seed", RAND_seed_);
  loaded_.store(true, std::memory_order_release);
}

bool TOpenSSLRandomGenerator::SeedFromFile(const std::string& FileName) {
  // Seeded once per process: later operations need not queue for the write lock to learn it.
  if (seeded_.load(std::memory_order_acquire)) return true;
  WriteLock hold(lock_);
  if (!SeedFile_.empty()) return true;
  if (!FunctionsPresent || FileName.empty()) return false;
  // The file is read through the platform layer, which knows the library's Windows paths.
  std::vector<uint8_t> seed;
  if (!ReadFileHead(FileName, static_cast<size_t>(kSeedFileBytes), seed)) return false;
  const bool enough = seed.size() >= static_cast<size_t>(kSeedFileBytes);
  if (enough) {
    RAND_seed_(seed.data(), kSeedFileBytes);
    SeedFile_ = FileName;
    seeded_.store(true, std::memory_order_release);
  }
  SecureWipe(seed.data(), seed.size());
  return enough;
}

void TOpenSSLRandomGenerator::SeedFromData(const uint8_t* Data, int32_t Len, const std::string& FileName) {
  WriteLock hold(lock_);
  if (!SeedFile_.empty() || !FunctionsPresent || Data == nullptr || Len <= 0) return;
  RAND_seed_(Data, Len);
  SeedFile_ = FileName;
  seeded_.store(true, std::memory_order_release);
}

bool TOpenSSLRandomGenerator::AddTimeEntropy() {
  // Every RAND_seed reseeds libcrypto's one shared generator under its lock, and after it every
  // thread's own generator reseeds from that one: engines on several threads would take turns
  // there on every operation. Four bytes of the time add next to nothing to a generator that
  // seeds itself from the system, so they go in once per interval.
  const uint64_t monotonic = platform::MonotonicMilliseconds();
  const uint64_t interval = monotonic / kTimeEntropyIntervalMs;
  if (lastInterval_.load(std::memory_order_relaxed) == interval || lastInterval_.exchange(interval) == interval) {
    return true;
  }
  const uint32_t ticks = static_cast<uint32_t>(monotonic ^ static_cast<uint64_t>(platform::Now() * 86400000.0));
  ReadLock hold(lock_);
  if (!FunctionsPresent) return true;
  RAND_seed_(&ticks, sizeof(ticks));
  return true;
}

bool TOpenSSLRandomGenerator::RandomBytes(uint8_t* Buffer, int32_t Len) {
  ReadLock hold(lock_);
  return FunctionsPresent && Buffer != nullptr && Len >= 0 && RAND_bytes_(Buffer, Len) == 1;
}

void TOpenSSLRandomGenerator::WriteSeedFile() {
  if (!FunctionsPresent || SeedFile_.empty()) return;
  uint8_t state[kSeedFileBytes];
  // A generator that cannot deliver leaves the old file alone rather than writing a weak one.
  if (RAND_bytes_(state, kSeedFileBytes) == 1) platform::WriteWholeFile(SeedFile_, state, sizeof(state));
  SecureWipe(state, sizeof(state));
}

TOpenSSLRandomGenerator& OSSLRandom() {
  // Every operation asks: the lock is for the first one only.
  if (TOpenSSLRandomGenerator* instance = Instance().load(std::memory_order_acquire)) return *instance;
  SectionLock hold(OSSLRandomInstanceLock());
  std::atomic<TOpenSSLRandomGenerator*>& instance = Instance();
  if (instance.load() == nullptr) instance.store(new TOpenSSLRandomGenerator(), std::memory_order_release);
  return *instance.load();
}

void FinalizeOSSLRandom() {
  SectionLock hold(OSSLRandomInstanceLock());
  delete Instance().exchange(nullptr);
}

int32_t EnsureRandomReady(const std::string& SeedFileName, const std::string& SecretKeyFile) {
  TOpenSSLRandomGenerator& generator = OSSLRandom();
  generator.Load();
  if (!generator.LibLoaded) return kErrRandomLibraryMissing;
  if (!generator.FunctionsPresent) return kErrRandomFunctionsMissing;
  if (!generator.SeedFromFile(SeedFileName)) {
    std::vector<uint8_t> keyBytes;
    if (SecretKeyFile.empty() || !ReadFileHead(SecretKeyFile, kMaxKeyFileBytes, keyBytes) ||
        keyBytes.empty()) {
      return kErrRandomNotSeeded;
    }
    generator.SeedFromData(keyBytes.data(), static_cast<int32_t>(keyBytes.size()), SeedFileName);
    SecureWipe(keyBytes.data(), keyBytes.size());
  }
  generator.AddTimeEntropy();
  return 0;
}

}  // namespace zk::ossl
