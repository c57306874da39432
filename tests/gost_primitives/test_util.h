// Hex helpers and a reproducible byte source for the GOST primitive tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace gost_test {

inline std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof(b), "%02x", p[i]);
    s += b;
  }
  return s;
}

inline std::vector<uint8_t> FromHex(const std::string& h) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < h.size(); i += 2) v.push_back(uint8_t(std::stoul(h.substr(i, 2), nullptr, 16)));
  return v;
}

// Big-endian hex (as the standards print numbers) to little-endian bytes of a fixed length.
inline std::vector<uint8_t> LeFromBeHex(const std::string& h, size_t len) {
  std::vector<uint8_t> be = FromHex(h);
  std::vector<uint8_t> le(len, 0);
  for (size_t i = 0; i < be.size() && i < len; ++i) le[i] = be[be.size() - 1 - i];
  return le;
}

// A decimal number (as RFC 5832 prints them) to little-endian bytes of a fixed length.
inline std::vector<uint8_t> LeFromDecimal(const std::string& dec, size_t len) {
  std::vector<uint8_t> le(len, 0);
  for (char ch : dec) {
    unsigned carry = unsigned(ch - '0');
    for (size_t i = 0; i < len; ++i) {
      unsigned v = le[i] * 10u + carry;
      le[i] = uint8_t(v);
      carry = v >> 8;
    }
  }
  return le;
}

inline std::vector<uint8_t> Bytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

}  // namespace gost_test
