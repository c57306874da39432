// The generator of the Crypto COM 2.2 stand-in: one per process, usable between InitRand and
// FreeRand (nested pairs count), seeded by RandSeed and always mixed with system entropy, so that
// a copied random file never makes two processes draw the same session keys.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "cc_internal.h"
#include "standin_files.h"

namespace cc {
namespace {

struct Generator {
  std::mutex lock;
  uint8_t state[gost::kRandomStateSize] = {};
  int users = 0;
};

Generator& TheGenerator() {
  static standin::Immortal<Generator> generator;  // exports may still run while the process unloads
  return generator.get();
}

}  // namespace

bool GeneratorReady() {
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  return g.users > 0;
}

void RandomBytes(uint8_t* out, size_t len) {
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  gost::RandomFill(g.state, out, len);
}

}  // namespace cc

using namespace cc;

extern "C" {

int32_t CC_CALL InitRand(void) {
  CC_HOOK(InitRand, 0, CC_STATUS);
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  ++g.users;
  return kOk;
}

int32_t CC_CALL FreeRand(void) {
  CC_COUNT(FreeRand, 0);
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  if (g.users > 0) --g.users;
  return kOk;
}

int32_t CC_CALL RandSeed(const void* Seed, int32_t Len) {
  CC_HOOK(RandSeed, 8, CC_STATUS);
  if (Seed == nullptr || Len <= 0) return kBadCommand;
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  // The seed is hashed into the state: it adds to what is there and never replaces it.
  uint8_t digest[32];
  gost::R3411Hash hash;
  hash.InitCryptoPro();
  hash.Update(g.state, sizeof g.state);
  hash.Update(static_cast<const uint8_t*>(Seed), static_cast<size_t>(Len));
  hash.Final(digest);
  for (size_t i = 0; i < sizeof digest; ++i) g.state[i] ^= digest[i];
  gost::Wipe(digest, sizeof digest);
  return kOk;
}

int32_t CC_CALL GetRandom(void* Buffer, int32_t Len) {
  CC_HOOK(GetRandom, 8, CC_STATUS);
  if (Buffer == nullptr || Len < 0) return kBadCommand;
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> guard(g.lock);
  if (g.users == 0) return kInitRandom;
  gost::RandomFill(g.state, static_cast<uint8_t*>(Buffer), static_cast<size_t>(Len));
  return Len;
}

int32_t CC_CALL RandWriteFile(const char* Path) {
  CC_HOOK(RandWriteFile, 4, CC_STATUS);
  if (Path == nullptr || Path[0] == '\0') return kWriteError;
  uint8_t image[1024];
  {
    Generator& g = TheGenerator();
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.users == 0) return kInitRandom;
    gost::RandomFill(g.state, image, sizeof image);
  }
  const bool written = standin::WriteWholeFile(Path, image, sizeof image) == standin::WriteResult::kOk;
  gost::Wipe(image, sizeof image);
  return written ? kOk : kWriteError;
}

int32_t CC_CALL RandReadFile(const char* Path) {
  CC_HOOK(RandReadFile, 4, CC_STATUS);
  std::FILE* f = Path != nullptr ? std::fopen(Path, "rb") : nullptr;
  if (f == nullptr) return kInitRandom;
  uint8_t image[1024];
  const size_t got = std::fread(image, 1, sizeof image, f);
  std::fclose(f);
  if (got == 0) return kInitRandom;
  const int32_t status = RandSeed(image, static_cast<int32_t>(got));
  gost::Wipe(image, sizeof image);
  return status;
}

}  // extern "C"
