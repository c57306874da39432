// SHA-0: the original Secure Hash Algorithm of 1993, which differs from SHA-1 only in that the message
// schedule has no one-bit rotation. The engine's "SHA" signatures are made over this digest, and current
// OpenSSL builds no longer offer it, so it is kept here on its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk::ossl {

constexpr size_t kSha0DigestSize = 20;

// Incremental form: Update any number of times, then Final once (the context is wiped by Final).
class Sha0Context {
 public:
  Sha0Context();
  ~Sha0Context();
  Sha0Context(const Sha0Context&) = delete;
  Sha0Context& operator=(const Sha0Context&) = delete;

  void Update(const uint8_t* data, size_t len);
  void Final(uint8_t out[kSha0DigestSize]);

 private:
  void Compress(const uint8_t block[64]);
  void Wipe();

  uint32_t state_[5];
  uint64_t total_bytes_;
  uint8_t pending_[64];
  size_t pending_len_;
};

void Sha0(const uint8_t* data, size_t len, uint8_t out[kSha0DigestSize]);

}  // namespace zk::ossl
