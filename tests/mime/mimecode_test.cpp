#include "frame/mimecode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>

namespace {

using Bytes = std::string;
// Null output is a result of its own, distinct from an empty one.
using Result = std::optional<Bytes>;

Result Take(uint8_t* out, int32_t outLen) {
  if (!out) {
    EXPECT_EQ(outLen, 0);
    return std::nullopt;
  }
  EXPECT_GT(outLen, 0);
  Bytes bytes(reinterpret_cast<char*>(out), static_cast<size_t>(outLen));
  zk::MimeFree(out);
  return bytes;
}

// A length other than the data's own only for the argument checks.
Result Encode(const Bytes& data, std::optional<int32_t> len = std::nullopt) {
  uint8_t* out = reinterpret_cast<uint8_t*>(1);
  int32_t outLen = -1;
  zk::MimeEncode(reinterpret_cast<const uint8_t*>(data.data()),
                 len.value_or(static_cast<int32_t>(data.size())), &out, &outLen);
  return Take(out, outLen);
}

Result Decode(const Bytes& text) {
  uint8_t* out = reinterpret_cast<uint8_t*>(1);
  int32_t outLen = -1;
  zk::MimeDecode(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()), &out,
                 &outLen);
  return Take(out, outLen);
}

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Bit-by-bit transcription of the format, independent of the codec's tables and block loops.
Bytes ReferenceEncode(const Bytes& data) {
  Bytes text;
  for (size_t i = 0; i < data.size(); i += 3) {
    const size_t n = std::min<size_t>(3, data.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = group << 8 | (k < n ? static_cast<uint8_t>(data[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) text += k < (8 * n + 5) / 6 ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return text;
}

// Accumulator decoder: skip foreign characters, stop at "=", flush 24 bits before adding more,
// keep whole bytes of what is left.
Result ReferenceDecode(const Bytes& text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  Bytes out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    const size_t value = kAlphabet.find(c);
    if (value == std::string::npos) continue;
    if (bits == 24) {
      for (int shift = 16; shift >= 0; shift -= 8) out += static_cast<char>(acc >> shift);
      acc = 0;
      bits = 0;
    }
    acc = acc << 6 | static_cast<uint32_t>(value);
    bits += 6;
  }
  acc >>= bits % 8;
  for (int i = bits / 8 - 1; i >= 0; --i) out += static_cast<char>(acc >> (8 * i));
  if (out.empty()) return std::nullopt;
  return out;
}

TEST(MimeEncode, GroupsAndPadding) {
  EXPECT_EQ(Encode("abc"), "YWJj");
  EXPECT_EQ(Encode(Bytes(1, '\0')), "AA==");
  EXPECT_EQ(Encode(Bytes(2, '\0')), "AAA=");
  EXPECT_EQ(Encode("\xFF\xFF\xFF"), "////");
  EXPECT_EQ(Encode("\xFB\xEF\xBE"), "++++");
}

TEST(MimeEncode, NothingToEncodeGivesNull) {
  EXPECT_EQ(Encode(""), std::nullopt);
  EXPECT_EQ(Encode("abc", -5), std::nullopt);
  uint8_t* out = reinterpret_cast<uint8_t*>(1);
  int32_t outLen = -1;
  zk::MimeEncode(nullptr, 3, &out, &outLen);
  EXPECT_EQ(Take(out, outLen), std::nullopt);
}

// 4 * ceil(Len / 3) must not wrap: such lengths are refused before any byte is read.
TEST(MimeEncode, LengthWhoseTextExceedsInt32IsRefused) {
  EXPECT_EQ(Encode("x", 1610612734), std::nullopt);
  EXPECT_EQ(Encode("x", INT32_MAX), std::nullopt);
}

TEST(MimeCodec, Rfc4648Vectors) {
  const std::pair<Bytes, Bytes> vectors[] = {{"f", "Zg=="},     {"fo", "Zm8="},         {"foo", "Zm9v"},
                                             {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& [data, text] : vectors) {
    EXPECT_EQ(Encode(data), text);
    EXPECT_EQ(Decode(text), data);
  }
}

TEST(MimeDecode, WholeGroupsAndLeftovers) {
  EXPECT_EQ(Decode("YWJj"), "abc");
  EXPECT_EQ(Decode("YR=="), "a");          // spare low bits are dropped, not rejected
  EXPECT_EQ(Decode("Q==="), std::nullopt);  // one character holds no whole byte
  const Result all = Decode(kAlphabet);
  ASSERT_TRUE(all.has_value());
  EXPECT_EQ(all->size(), 48u);
  EXPECT_EQ(Encode(*all), kAlphabet);
}

TEST(MimeDecode, LengthMustBeMultipleOfFourIncludingSkippedCharacters) {
  EXPECT_EQ(Decode("YWJ"), std::nullopt);
  EXPECT_EQ(Decode("YWJjZGVm\r\n"), std::nullopt);
  EXPECT_EQ(Decode("YWJj\r\nZGVm  "), "abcdef");
  EXPECT_EQ(Decode(""), std::nullopt);
  uint8_t* out = reinterpret_cast<uint8_t*>(1);
  int32_t outLen = -1;
  zk::MimeDecode(nullptr, 4, &out, &outLen);
  EXPECT_EQ(Take(out, outLen), std::nullopt);
}

TEST(MimeDecode, StopsAtFirstPadding) {
  EXPECT_EQ(Decode("YQ==YWJj"), "a");
  EXPECT_EQ(Decode("YWJjYWJjYWJj=WJjYWJjYWJj"), "abcabcabc");
  EXPECT_EQ(Decode("=WJj"), std::nullopt);
}

TEST(MimeDecode, NoAlphabetCharacterGivesNull) {
  EXPECT_EQ(Decode(" \r\n*"), std::nullopt);
  EXPECT_EQ(Decode(Bytes(64, '\xFF')), std::nullopt);
}

TEST(MimeCodec, EveryByteValueRoundTrips) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (int shift = 0; shift < 3; ++shift) {
    const Bytes data = all.substr(shift);
    EXPECT_EQ(Encode(data), ReferenceEncode(data));
    EXPECT_EQ(Decode(ReferenceEncode(data)), data);
  }
}

// Every length up to a few blocks, so each tail and block boundary of the encoder is met.
TEST(MimeCodec, RandomDataMatchesReferenceAtEveryLength) {
  std::mt19937 rng(1234);
  for (int len = 1; len <= 200; ++len) {
    Bytes data(static_cast<size_t>(len), '\0');
    for (char& b : data) b = static_cast<char>(rng());
    const Bytes text = ReferenceEncode(data);
    ASSERT_EQ(Encode(data), text) << len;
    ASSERT_EQ(Decode(text), data) << len;
  }
}

const Bytes kForeign = std::string("\r\n \t-*.!\x00\x7F\x80\xFF", 12);

// Pads with foreign characters to the next multiple of 4 so that the length rule does not hide
// the decoding itself.
Bytes PadToGroup(Bytes text, std::mt19937& rng) {
  while (text.size() % 4 != 0) text += kForeign[rng() % kForeign.size()];
  return text;
}

// A foreign run or a "=" at every position moves the switch between block decoding and
// character-by-character decoding across every alignment.
TEST(MimeDecode, InsertionAtEveryPositionMatchesReference) {
  std::mt19937 rng(99);
  Bytes data(60, '\0');
  for (char& b : data) b = static_cast<char>(rng());
  const Bytes clean = ReferenceEncode(data);
  const Bytes inserts[] = {"\n", "\r\n", " \t*", "=", "==", "\xFF=", Bytes(5, '\0')};
  for (const Bytes& insert : inserts) {
    for (size_t pos = 0; pos <= clean.size(); ++pos) {
      Bytes text = clean;
      text.insert(pos, insert);
      text = PadToGroup(text, rng);
      ASSERT_EQ(Decode(text), ReferenceDecode(text)) << pos << " " << insert.size();
    }
  }
}

TEST(MimeDecode, RandomNoiseMatchesReference) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    Bytes data(rng() % 300, '\0');
    for (char& b : data) b = static_cast<char>(rng());
    Bytes text = ReferenceEncode(data);
    const int insertions = static_cast<int>(rng() % 12);
    for (int i = 0; i < insertions; ++i) {
      const char c = rng() % 16 == 0 ? '=' : kForeign[rng() % kForeign.size()];
      text.insert(text.begin() + static_cast<std::ptrdiff_t>(rng() % (text.size() + 1)), c);
    }
    if (rng() % 4 != 0) text = PadToGroup(text, rng);
    ASSERT_EQ(Decode(text), ReferenceDecode(text)) << round;
  }
}

}  // namespace
