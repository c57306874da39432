#include "support/bytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "frame/cp1251.h"

namespace zk::suite {

namespace fs = std::filesystem;

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(generator());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void CopyFileBytes(const std::string& from, const std::string& to) { WriteFileBytes(to, ReadFileBytes(from)); }

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void SetLe32(Bytes& data, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) data.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

std::string Cp1251(const char* utf8) { return zk::Utf8ToCp1251(utf8); }

TempDir::TempDir(const std::string& prefix) {
  std::random_device seed;
  for (int attempt = 0; dir_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / (prefix + "_" + std::to_string(seed()));
    std::error_code ignored;
    if (fs::create_directory(candidate, ignored)) dir_ = candidate.string();
    if (attempt > 100) throw std::runtime_error("no test directory");
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

}  // namespace zk::suite
