// Memory for secrets (keys, agreed values, work blocks with key schedules): wiped before release.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk::cryptoc {

// Overwrites with zeros in a way the compiler may not drop.
inline void SecureWipe(void* data, size_t size) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) p[i] = 0;
}

// A fixed-size block on the stack that is wiped when it goes out of scope.
template <size_t N>
struct SecretBlock {
  uint8_t bytes[N] = {};
  ~SecretBlock() { SecureWipe(bytes, N); }
  uint8_t* data() { return bytes; }
  const uint8_t* data() const { return bytes; }
  static constexpr size_t size() { return N; }
};

}  // namespace zk::cryptoc
