// Key agreement and key transport of RFC 4357 on the shared primitives: VKO GOST R 34.10-2001
// (section 5.2) and the GOST 28147-89 key wrap (section 6.1).
#pragma once

#include <cstdint>

#include "gost.h"

namespace gost {

// KEK = GOST R 34.11-94 (CryptoPro parameters) of (UKM * d mod q) * Peer, the point written as
// X || Y, 32 little-endian bytes each. UKM is a little-endian 64-bit number; zero counts as 1.
// kSignBadKey when Peer is not a point of the curve.
int Vko2001(r3410_2001::Curve curve, const uint8_t d[32], const r3410_2001::Point& peer, const uint8_t ukm[8],
            uint8_t kek[32]);

constexpr size_t kWrappedKeySize = 36;
// Wrapped = ECB(KEK, CEK) (32) || the first 4 bytes of the MAC of CEK under KEK starting from UKM.
void WrapKey(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t cek[32], const uint8_t sbox[kSboxSize],
             uint8_t wrapped[kWrappedKeySize]);
// False (cek wiped) when the MAC does not match: a wrong key or a damaged wrapping.
bool UnwrapKey(const uint8_t kek[32], const uint8_t ukm[8], const uint8_t wrapped[kWrappedKeySize],
               const uint8_t sbox[kSboxSize], uint8_t cek[32]);

}  // namespace gost
