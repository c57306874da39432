// Key formats shared by the signature calls, the self-tests and the key-file writer.
#pragma once

#include <cstdint>

#include "gost.h"

namespace libcrypt {

constexpr gost::r3410_2001::Curve kCurve2001 = gost::r3410_2001::Curve::CryptoProA;
constexpr uint32_t kParamSet2001 = 1;  // the only parameter-set id a 2001 public key may carry

// Order q of the CryptoPro-A curve's base point, little-endian.
extern const uint8_t kOrder2001[32];

// 100-byte public key: id (4, LE) | X (32) | Y (32) | zero (32).
void EncodePublic2001(const gost::r3410_2001::Point& q, uint8_t out[100]);
// kBadKey for another id, non-zero padding or a point off the curve.
int DecodePublic2001(const uint8_t in[100], gost::r3410_2001::Point& q);

// 1 <= d < q.
bool ValidSecret2001(const uint8_t d[32]);
bool ValidSecret1994(const uint8_t x[32]);

// Parameters of the 1994 scheme and of the key agreement (the same group): p | q | a.
constexpr uint32_t kParametersSize = 128 + 32 + 128;
void Parameters(uint8_t out[kParametersSize]);

}  // namespace libcrypt
