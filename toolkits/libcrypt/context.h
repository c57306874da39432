// Contexts of the Crypto-C stand-in. The caller owns a work block of 4228 bytes: the substitution
// table, then the context area, then a copy of its generator state. A context (a cipher key
// schedule alone takes 4 KB) lives on the heap; the context area holds only a header naming it.
// The header never holds a pointer: it holds an id that this module looks up, so a block that
// was never initialised, was cleared, was copied after its context was released, or holds stray
// bytes is refused with a status instead of being followed into freed memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engines/cryptoc/libcrypt_api.h"

namespace libcrypt {

// Statuses this toolkit answers (the engine has a text for each).
enum Status : int {
  kOk = 0,
  kNoContext = 1,      // the block holds no live context
  kWrongContext = 2,   // the block's context is of another kind
  kBadKey = 3,         // a key the call needs is missing or unusable; table the hash lacks
  kKeyPresent = 4,     // the context already holds that key
  kBadSignature = 5,
  kFileOpen = 10,
  kFileSeek = 11,
  kFileRead = 12,
  kFileClose = 13,
  kBadRequest = 14,    // arguments or order the context cannot serve; out of memory
  kNullPointer = 15,
};

enum class Kind : uint32_t {
  kBlock = 1,
  kGamma = 2,
  kFeedback = 3,
  kMac = 4,
  kHash = 5,
  kSign1994 = 6,
  kSign2001 = 7,
  kAgreement = 8,
};

// Header layout in the work block (little-endian, unaligned):
constexpr size_t kHeaderOffset = zk::cryptoc::kSboxSize;  // right after the table
constexpr uint32_t kHeaderMagic = 0x3143434CU;             // "LCC1"
//   +0 magic (4)   +4 kind (4)   +8 context id (8)   -> 16 bytes; the rest of the area is unused
constexpr size_t kHeaderSize = 16;

struct Context {
  explicit Context(Kind k) : kind(k) {}
  virtual ~Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  const Kind kind;
};

inline const uint8_t* Sbox(const void* work) { return static_cast<const uint8_t*>(work); }

// Puts a new context into the block. A live context the block held is released first (the block
// is initialised anew). Answers 0, or kBadRequest when memory runs out (the context is dropped).
int Install(void* work, std::unique_ptr<Context> context);

// The block's live context of the given kind: kNoContext or kWrongContext otherwise.
int Find(void* work, Kind kind, Context*& context);

template <class T>
int FindAs(void* work, Kind kind, T*& context) {
  Context* found = nullptr;
  const int status = Find(work, kind, found);
  context = static_cast<T*>(found);
  return status;
}

// Releases the block's context if it is of this kind (wiping its secrets) and clears the header.
// A block holding no live context answers 0 (clearing twice is harmless); another kind answers
// kWrongContext and stays as it is.
int Release(void* work, Kind kind);

// Little-endian helpers for key material.
bool IsZero(const uint8_t* p, size_t len);
// a < b, both little-endian of the same length.
bool LessThan(const uint8_t* a, const uint8_t* b, size_t len);

}  // namespace libcrypt

// Every export starts here: a scripted answer from the control entry ends the call.
#define LIBCRYPT_HOOK()                                \
  do {                                                 \
    const int scripted_ = standin::Hook(__func__);     \
    if (scripted_ != 0) return scripted_;              \
  } while (0)
