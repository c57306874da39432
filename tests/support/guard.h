// Buffers that end at an inaccessible page: a write or read past the announced size faults at
// once, with or without a sanitizer, on Linux (mmap/mprotect) and under Wine
// (VirtualAlloc/VirtualProtect).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zk::suite {

class GuardedBuffer {
 public:
  // `size` usable bytes, filled with `fill`; the byte after the last one is inaccessible.
  explicit GuardedBuffer(size_t size, uint8_t fill = 0);
  // A copy of `bytes`, ending at the guard.
  explicit GuardedBuffer(const std::vector<uint8_t>& bytes);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  char* chars() { return reinterpret_cast<char*>(data_); }
  size_t size() const { return size_; }
  std::vector<uint8_t> Bytes(size_t n) const { return std::vector<uint8_t>(data_, data_ + n); }
  // The text up to the first NUL; `terminated` says whether one was found within the buffer.
  std::string Str(bool* terminated = nullptr) const;

 private:
  void* base_ = nullptr;
  size_t mapped_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace zk::suite
