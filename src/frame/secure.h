// Memory for secrets (key file contents, session keys, pairwise keys, key schedules, agreed
// values): wiped before it is released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zk {

// Overwrites with zeros in a way the compiler may not drop. With GCC and Clang a plain memset
// followed by an empty statement that claims to read the memory: as safe as the byte-wise volatile
// loop, and tens of times faster on the megabyte buffers of bulk encryption.
inline void SecureWipe(void* data, size_t size) {
  if (data == nullptr || size == 0) return;
#if defined(__GNUC__)
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
#else
  volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) p[i] = 0;
#endif
}

// Compares two byte runs in a time that depends only on their size, so a forger learns nothing
// from how long a refusal takes (MACs, check values, derived keys).
inline bool ConstantTimeEqual(const void* a, const void* b, size_t size) {
  const volatile uint8_t* x = static_cast<const volatile uint8_t*>(a);
  const volatile uint8_t* y = static_cast<const volatile uint8_t*>(b);
  uint8_t difference = 0;
  for (size_t i = 0; i < size; ++i) difference |= static_cast<uint8_t>(x[i] ^ y[i]);
  return difference == 0;
}

// A byte buffer that wipes itself when it is destroyed or cleared.
class SecureBytes {
 public:
  SecureBytes() = default;
  explicit SecureBytes(size_t size) : bytes_(size) {}
  SecureBytes(const uint8_t* data, size_t size) : bytes_(data, data + size) {}
  ~SecureBytes() { Clear(); }
  SecureBytes(const SecureBytes&) = delete;
  SecureBytes& operator=(const SecureBytes&) = delete;

  void Clear() {
    SecureWipe(bytes_.data(), bytes_.size());
    bytes_.clear();
  }
  // Replaces the content with Size zero bytes; the old bytes are wiped first.
  void Allocate(size_t size) {
    Clear();
    bytes_.assign(size, 0);
  }
  // Replaces the content; the old bytes are wiped first.
  void Assign(const uint8_t* data, size_t size) {
    Clear();
    bytes_.assign(data, data + size);
  }
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

 private:
  std::vector<uint8_t> bytes_;
};

// A fixed-size secret on the stack or in a member, wiped when it goes.
template <size_t N>
struct Secret {
  uint8_t bytes[N] = {};
  Secret() = default;
  Secret(const Secret& other) { Copy(other); }
  Secret& operator=(const Secret& other) {
    Copy(other);
    return *this;
  }
  ~Secret() { SecureWipe(bytes, N); }
  uint8_t* data() { return bytes; }
  const uint8_t* data() const { return bytes; }
  static constexpr size_t size() { return N; }

 private:
  void Copy(const Secret& other) {
    for (size_t i = 0; i < N; ++i) bytes[i] = other.bytes[i];
  }
};

}  // namespace zk
