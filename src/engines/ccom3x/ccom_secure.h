// Wiping of secrets (session keys, pairwise keys, agreed values, opaque private keys).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk::ccom3x {

// Overwrites with zeros in a way the compiler may not drop.
inline void SecureWipe(void* data, size_t size) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) p[i] = 0;
}

// A fixed-size secret on the stack or in a member, wiped when it goes.
template <size_t N>
struct Secret {
  uint8_t bytes[N] = {};
  Secret() = default;
  Secret(const Secret& other) { for (size_t i = 0; i < N; ++i) bytes[i] = other.bytes[i]; }
  Secret& operator=(const Secret& other) {
    for (size_t i = 0; i < N; ++i) bytes[i] = other.bytes[i];
    return *this;
  }
  ~Secret() { SecureWipe(bytes, N); }
  uint8_t* data() { return bytes; }
  const uint8_t* data() const { return bytes; }
};

}  // namespace zk::ccom3x
