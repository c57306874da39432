// The toolkits' generator over a caller-held 76-byte state.
//
// Each call: an all-zero state is first filled from the system; this call's GOST 28147-89 key is
// the state's first 32 bytes XORed with 32 fresh system bytes; the gamma under that key, started
// from state bytes 32..39, gives first the next state and then the caller's bytes. So the output
// reveals neither the old nor the new state (both lie behind the cipher), and even a restored old
// state yields new output, since the fresh bytes differ. The key is not hashed: a GOST R 34.11-94
// digest per call cost several times the rest, and CryptoCom runs this generator once per process
// under one lock, for every envelope of every engine.
#include <cstring>

#include "gost.h"

namespace gost {

void RandomFill(uint8_t state[kRandomStateSize], uint8_t* out, size_t len) {
  if (state == nullptr) return;
  if (out == nullptr) len = 0;

  bool allZero = true;
  for (size_t i = 0; i < kRandomStateSize; ++i) allZero = allZero && state[i] == 0;
  if (allZero) SystemRandom(state, kRandomStateSize);

  uint8_t fresh[32], key[32], next[kRandomStateSize] = {};
  SystemRandom(fresh, sizeof(fresh));
  for (size_t i = 0; i < sizeof(key); ++i) key[i] = static_cast<uint8_t>(state[i] ^ fresh[i]);

  Gost28147 cipher;
  cipher.SetKey(key, kSboxR3411TestParams);
  GammaMode gamma;
  gamma.Init(&cipher, state + 32);
  gamma.Crypt(next, next, sizeof(next));
  std::memcpy(state, next, kRandomStateSize);
  if (len > 0) {
    std::memset(out, 0, len);
    gamma.Crypt(out, out, len);
  }

  gamma.Wipe();
  cipher.Wipe();
  Wipe(fresh, sizeof(fresh));
  Wipe(key, sizeof(key));
  Wipe(next, sizeof(next));
}

}  // namespace gost
