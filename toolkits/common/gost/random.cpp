// The toolkits' generator over a caller-held 76-byte state.
//
// Each call: an all-zero state is first filled from the system; 32 fresh system bytes and the
// whole state are hashed (GOST R 34.11-94, CryptoPro set) into this call's GOST 28147-89 key;
// the gamma under that key, started from state bytes 32..39, gives first the next state and then
// the caller's bytes. So the output reveals neither the old nor the new state, and even a
// restored old state yields new output, since the fresh bytes differ.
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
  R3411Hash h;
  h.InitCryptoPro();
  h.Update(state, kRandomStateSize);
  h.Update(fresh, sizeof(fresh));
  h.Final(key);

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
