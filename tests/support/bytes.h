// Byte and file helpers every engine's tests share: deterministic random data, whole-file reads
// and writes (MinGW's copy_file cannot replace a file, so copies are read and written), and
// little-endian fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk::suite {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n, uint32_t seed);
Bytes Text(const std::string& s);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& data);
// Creates or replaces `to`.
void CopyFileBytes(const std::string& from, const std::string& to);

uint32_t Le32(const uint8_t* p);
// Appends the value as four little-endian bytes.
void PutLe32(Bytes& out, uint32_t value);
// Overwrites four bytes at `at`.
void SetLe32(Bytes& data, size_t at, uint32_t value);

std::string Cp1251(const char* utf8);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "zk_suite");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace zk::suite
