// VKO GOST R 34.10-2001 and the key wrap that carries a session key under the agreed key.
#include <cstring>

#include "gost.h"

namespace gost {
namespace vko2001 {

namespace {

bool IsZero(const uint8_t* p, size_t n) {
  uint8_t acc = 0;
  for (size_t i = 0; i < n; ++i) acc |= p[i];
  return acc == 0;
}

void Mac4(const Gost28147& cipher, const uint8_t ukm[8], const uint8_t key[32], uint8_t out[4]) {
  MacMode mac;
  mac.Init(&cipher);
  mac.Update(ukm, 8);
  mac.Update(key, 32);
  uint8_t full[8];
  mac.Final(full);
  std::memcpy(out, full, 4);
  mac.Wipe();
  Wipe(full, sizeof full);
}

}  // namespace

// (ukm * d mod q) * Peer is computed as d * (ukm * Peer): Peer has order q.
int Agree(r3410_2001::Curve curve, const uint8_t d[32], const r3410_2001::Point& peer, const uint8_t ukm[8],
          bool cryptoPro, uint8_t kek[32]) {
  uint8_t factor[32] = {};
  std::memcpy(factor, ukm, 8);
  if (IsZero(factor, 8)) factor[0] = 1;
  r3410_2001::Point scaled{}, shared{};
  int status = r3410_2001::Multiply(curve, factor, peer, scaled);
  if (status == kSignOk) status = r3410_2001::Multiply(curve, d, scaled, shared);
  if (status == kSignOk) {
    R3411Hash hash;
    if (cryptoPro ? hash.InitCryptoPro() : hash.Init(kSboxR3411TestParams)) {
      hash.Update(shared.x, 32);
      hash.Update(shared.y, 32);
      hash.Final(kek);
    } else {
      status = kSignBadKey;
    }
  }
  Wipe(&scaled, sizeof scaled);
  Wipe(&shared, sizeof shared);
  return status;
}

void Wrap(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t key[32], const uint8_t sbox[kSboxSize],
          uint8_t wrapped[36]) {
  Gost28147 cipher;
  cipher.SetKey(kek, sbox);
  for (size_t at = 0; at < 32; at += 8) cipher.EncryptBlock(key + at, wrapped + at);
  Mac4(cipher, ukm, key, wrapped + 32);
}

bool Unwrap(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t wrapped[36], const uint8_t sbox[kSboxSize],
            uint8_t key[32]) {
  Gost28147 cipher;
  cipher.SetKey(kek, sbox);
  for (size_t at = 0; at < 32; at += 8) cipher.DecryptBlock(wrapped + at, key + at);
  uint8_t check[4];
  Mac4(cipher, ukm, key, check);
  uint8_t diff = 0;
  for (size_t i = 0; i < 4; ++i) diff |= static_cast<uint8_t>(check[i] ^ wrapped[32 + i]);
  if (diff == 0) return true;
  Wipe(key, 32);
  return false;
}

}  // namespace vko2001
}  // namespace gost
