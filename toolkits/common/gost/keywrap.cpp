#include "keywrap.h"

#include <cstring>

namespace gost {

namespace {

void CekMac(const Gost28147& cipher, const uint8_t ukm[8], const uint8_t cek[32], uint8_t mac[4]) {
  MacMode m;
  m.Init(&cipher, ukm);
  m.Update(cek, 32);
  uint8_t full[8];
  m.Final(full);
  std::memcpy(mac, full, 4);
  m.Wipe();
  Wipe(full, sizeof(full));
}

}  // namespace

int Vko2001(r3410_2001::Curve curve, const uint8_t d[32], const r3410_2001::Point& peer, const uint8_t ukm[8],
            uint8_t kek[32]) {
  uint8_t scalar[32] = {};
  std::memcpy(scalar, ukm, 8);
  bool zero = true;
  for (int i = 0; i < 8; ++i) zero = zero && ukm[i] == 0;
  if (zero) scalar[0] = 1;
  // Peer has order q, so d * (UKM * Peer) is (UKM * d mod q) * Peer.
  r3410_2001::Point scaled{}, shared{};
  int status = r3410_2001::Multiply(curve, scalar, peer, scaled);
  if (status == kSignOk) status = r3410_2001::Multiply(curve, d, scaled, shared);
  if (status == kSignOk) {
    R3411Hash h;
    h.InitCryptoPro();
    h.Update(shared.x, 32);
    h.Update(shared.y, 32);
    h.Final(kek);
  }
  Wipe(&shared, sizeof(shared));
  Wipe(&scaled, sizeof(scaled));
  return status;
}

void WrapKey(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t cek[32], const uint8_t sbox[kSboxSize],
             uint8_t wrapped[kWrappedKeySize]) {
  Gost28147 cipher;
  cipher.SetKey(kek, sbox);
  for (int i = 0; i < 32; i += 8) cipher.EncryptBlock(cek + i, wrapped + i);
  CekMac(cipher, ukm, cek, wrapped + 32);
}

bool UnwrapKey(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t wrapped[kWrappedKeySize],
               const uint8_t sbox[kSboxSize], uint8_t cek[32]) {
  Gost28147 cipher;
  cipher.SetKey(kek, sbox);
  for (int i = 0; i < 32; i += 8) cipher.DecryptBlock(wrapped + i, cek + i);
  uint8_t mac[4];
  CekMac(cipher, ukm, cek, mac);
  uint8_t diff = 0;
  for (int i = 0; i < 4; ++i) diff |= static_cast<uint8_t>(mac[i] ^ wrapped[32 + i]);
  if (diff == 0) return true;
  Wipe(cek, 32);
  return false;
}

}  // namespace gost
