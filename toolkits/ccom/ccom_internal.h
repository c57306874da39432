// What the parts of the CryptoCom 3.x stand-in share: the last error, the objects behind the
// toolkit's handles, the curve's numbers and the process-wide random generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ccom_api.h"
#include "gost.h"
#include "standin.h"

namespace ccom {

// Last-error codes this stand-in answers.
enum : int {
  kErrParams = 1,
  kErrIo = 2,
  kErrMac = 3,
  kErrRandNotInited = 4,
  kErrContainer = 5,
  kErrBadSignature = 7,
  kErrPrivateKey = 8,
  kErrMode = 10,
  kErrMemory = 11,
  kErrParamId = 13,
  kErrKeyGen = 14,
  kErrSign = 16,
  kErrPublicKey = 17,
  kErrFileRead = 23,
  kErrFileWrite = 24,
  kErrFileNotFound = 25,
  kErrFileExists = 26,
  kErrNotSupported = 30,
};

void SetLastError(int code);

// Every handle starts with a tag, so that a handle of the wrong kind is refused instead of used.
enum : uint32_t {
  kTagPse = 0x45535043u,     // "CPSE"
  kTagPseCtx = 0x58545043u,  // "CPTX"
  kTagSign = 0x4e475343u,    // "CSGN"
  kTagDh = 0x48444343u,      // "CCDH"
  kTagCipher = 0x45544743u,  // "CGTE"
  kTagHash = 0x48544743u,    // "CGTH"
  kTagDead = 0xdeadc0deu,
};

constexpr gost::r3410_2001::Curve kCurve = gost::r3410_2001::Curve::CryptoProA;

}  // namespace ccom

// A private key as the PSE context hands it out: the scalar, little-endian as the GOST primitives
// take it.
struct CCOM_PSE {
  uint32_t tag = ccom::kTagPse;
  uint8_t d[32] = {};
  ~CCOM_PSE() {
    gost::Wipe(d, sizeof d);
    tag = ccom::kTagDead;
  }
};

namespace ccom {

// A usable private key handle, or null.
const CCOM_PSE* ValidKey(const CCOM_PSE* pse);

// Scalars and coordinates travel big-endian at the toolkit's interface and little-endian inside.
void Reverse32(const uint8_t* in, uint8_t* out);

// 0x04 || X || Y (big-endian) to a point on the curve; false for anything else.
bool DecodePublic(const unsigned char* in, int len, gost::r3410_2001::Point& point);
void EncodePublic(const gost::r3410_2001::Point& point, unsigned char out[65]);
// d in 1..q-1 (little-endian)?
bool ValidScalar(const uint8_t d[32]);

// The 64-byte signature of a digest, r || s big-endian.
bool SignDigest(const uint8_t d[32], const uint8_t digest[32], uint8_t signature[64]);
// GOST R 34.11-94 with the CryptoPro parameters in one go.
void HashCryptoPro(const void* data, size_t len, uint8_t digest[32]);

// The generator is seeded by reading a PSE; until then RAND_bytes refuses to work.
void SeedGenerator(const uint8_t seed[64]);

}  // namespace ccom

// A failing hook ends the call with its scripted code as the last error.
#define CCOM_HOOK(failure)                   \
  do {                                       \
    int scripted_ = standin::Hook(__func__); \
    if (scripted_ != 0) {                    \
      ccom::SetLastError(scripted_);         \
      return failure;                        \
    }                                        \
  } while (0)

// Release calls cannot fail: a scripted code only lands in the last error.
#define CCOM_HOOK_VOID()                               \
  do {                                                 \
    int scripted_ = standin::Hook(__func__);           \
    if (scripted_ != 0) ccom::SetLastError(scripted_); \
  } while (0)

#define CCOM_FAIL(code, failure) \
  do {                           \
    ccom::SetLastError(code);    \
    return failure;              \
  } while (0)
