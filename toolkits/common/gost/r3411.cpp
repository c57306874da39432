// GOST R 34.11-94 through libgcrypt, which knows two parameter sets: the test set of the
// standard's examples and CryptoPro's.
#include <cstring>

#include "gost.h"
#include "gost_internal.h"

namespace gost {

R3411Hash::~R3411Hash() { Clear(); }

namespace {
bool Open(void*& handle, int algo) {
  InitLibgcrypt();
  gcry_md_hd_t h = nullptr;
  if (gcry_md_open(&h, algo, 0) != 0) return false;
  handle = h;
  return true;
}
}  // namespace

bool R3411Hash::Init(const uint8_t sbox[kSboxSize]) {
  Clear();
  if (sbox == nullptr || std::memcmp(sbox, kSboxR3411TestParams, kSboxSize) != 0) return false;
  return Open(handle_, GCRY_MD_GOSTR3411_94);
}

bool R3411Hash::InitCryptoPro() {
  Clear();
  return Open(handle_, GCRY_MD_GOSTR3411_CP);
}

void R3411Hash::Update(const uint8_t* data, size_t len) {
  if (handle_ != nullptr && len > 0) gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, len);
}

// Without a successful Init the result is all zero bytes, never uninitialised memory.
void R3411Hash::Final(uint8_t out[32]) {
  std::memset(out, 0, 32);
  if (handle_ == nullptr) return;
  gcry_md_hd_t h = static_cast<gcry_md_hd_t>(handle_);
  const unsigned char* d = gcry_md_read(h, 0);
  if (d != nullptr) std::memcpy(out, d, 32);
  Clear();
}

void R3411Hash::Clear() {
  if (handle_ != nullptr) gcry_md_close(static_cast<gcry_md_hd_t>(handle_));  // wipes its state
  handle_ = nullptr;
}

}  // namespace gost
