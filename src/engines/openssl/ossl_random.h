// The process-wide random generator over libcrypto's RAND functions, seeded once per process from
// a seed file (or, failing that, from the bytes of the user's secret key file) and written back to
// that seed file at unload, so that the next process starts from a fresh seed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "frame/rwsyncs.h"
#include "frame/zexroot.h"

namespace zk::ossl {

// Exactly this many bytes of a seed file count; the file written back has this size.
constexpr int32_t kSeedFileBytes = 1024;

class TOpenSSLRandomGenerator : public TCrypto_DLL {
 public:
  ~TOpenSSLRandomGenerator() override;

  // Loads libcrypto and resolves the RAND functions (again after a failed load).
  void Load();
  // Seeds from the first 1024 bytes of the file when not seeded yet; true when seeded.
  bool SeedFromFile(const std::string& FileName);
  // Seeds from Data when not seeded yet and remembers FileName as the file to write back.
  void SeedFromData(const uint8_t* Data, int32_t Len, const std::string& FileName);
  bool AddTimeEntropy();
  bool RandomBytes(uint8_t* Buffer, int32_t Len);
  const std::string& SeedFile() const { return SeedFile_; }

 private:
  using RandBytesFn = int (*)(unsigned char* buf, int num);
  using RandSeedFn = void (*)(const void* buf, int num);

  void WriteSeedFile();

  std::string SeedFile_;
  platform::ModuleHandle module_ = nullptr;
  RandBytesFn RAND_bytes_ = nullptr;
  RandSeedFn RAND_seed_ = nullptr;
  std::atomic<uint64_t> lastInterval_{UINT64_MAX};  // the interval in which AddTimeEntropy added last
  std::atomic<bool> loaded_{false};     // the library is in place (LibLoaded); set once
  std::atomic<bool> seeded_{false};     // SeedFile_ is set; set once
  TRWCriticalSection lock_;
};

// The one generator of the process (created on first use).
TOpenSSLRandomGenerator& OSSLRandom();
// The unload step: writes the seed file back and frees the generator.
void FinalizeOSSLRandom();

// Makes the generator ready for an operation that needs randomness or signs: seeds it from
// SeedFileName, else from the secret key file's bytes, then adds the current time. Returns 0, or
// -63 (library not loaded), -64 (a RAND function missing), -10 (not seedable).
int32_t EnsureRandomReady(const std::string& SeedFileName, const std::string& SecretKeyFile);

}  // namespace zk::ossl
