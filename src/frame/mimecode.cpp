// Base64 codec. Both directions run a table-driven fast loop over whole blocks and fall back to a
// byte-at-a-time path only where the input needs it (tails, padding, characters outside the alphabet).
#include "frame/mimecode.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace zk {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kPad = '=';

// Every 12-bit value mapped to its two output characters: one lookup per half of a 3-byte group.
struct PairTable {
  uint8_t chars[4096][2];
};

constexpr PairTable MakePairTable() {
  PairTable table{};
  for (int i = 0; i < 4096; ++i) {
    table.chars[i][0] = static_cast<uint8_t>(kAlphabet[i >> 6]);
    table.chars[i][1] = static_cast<uint8_t>(kAlphabet[i & 63]);
  }
  return table;
}

// Character value pre-shifted to its place in a 4-character group, so a group decodes with four
// lookups OR-ed together. Characters outside the alphabet carry kInvalid, which survives the OR.
constexpr uint32_t kInvalid = 0x80000000u;

struct DecodeTable {
  uint32_t shifted[4][256];
};

constexpr int AlphabetValue(int c) {
  for (int v = 0; v < 64; ++v) {
    if (kAlphabet[v] == c) return v;
  }
  return -1;
}

constexpr DecodeTable MakeDecodeTable() {
  DecodeTable table{};
  for (int c = 0; c < 256; ++c) {
    const int v = AlphabetValue(c);
    for (int slot = 0; slot < 4; ++slot) {
      table.shifted[slot][c] = v < 0 ? kInvalid : static_cast<uint32_t>(v) << (18 - 6 * slot);
    }
  }
  return table;
}

constexpr PairTable kPairs = MakePairTable();
constexpr DecodeTable kDecode = MakeDecodeTable();
// The last slot holds the plain 6-bit values.
constexpr const uint32_t* kValue = kDecode.shifted[3];

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

inline void StoreBigEndian64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}
#else
inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | p[i];
  return v;
}

inline void StoreBigEndian64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}
#endif

inline void PutPair(uint8_t* out, uint32_t twelveBits) {
  std::memcpy(out, kPairs.chars[twelveBits], 2);
}

// The upper 48 bits of v (6 input bytes) become 8 characters.
inline void EncodeSix(uint8_t* out, uint64_t v) {
  PutPair(out, static_cast<uint32_t>(v >> 52));
  PutPair(out + 2, static_cast<uint32_t>(v >> 40) & 0xFFF);
  PutPair(out + 4, static_cast<uint32_t>(v >> 28) & 0xFFF);
  PutPair(out + 6, static_cast<uint32_t>(v >> 16) & 0xFFF);
}

uint8_t* EncodeBlocks(const uint8_t* in, const uint8_t* end, uint8_t* out) {
  // Each step reads 8 bytes at in + 6, so 14 must remain.
  while (end - in >= 14) {
    EncodeSix(out, LoadBigEndian64(in));
    EncodeSix(out + 8, LoadBigEndian64(in + 6));
    in += 12;
    out += 16;
  }
  while (end - in >= 3) {
    const uint32_t v = static_cast<uint32_t>(in[0]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[2];
    PutPair(out, v >> 12);
    PutPair(out + 2, v & 0xFFF);
    in += 3;
    out += 4;
  }
  const ptrdiff_t rest = end - in;
  if (rest > 0) {
    const uint32_t v = static_cast<uint32_t>(in[0]) << 16 | (rest == 2 ? static_cast<uint32_t>(in[1]) << 8 : 0);
    out[0] = static_cast<uint8_t>(kAlphabet[v >> 18]);
    out[1] = static_cast<uint8_t>(kAlphabet[(v >> 12) & 63]);
    out[2] = rest == 2 ? static_cast<uint8_t>(kAlphabet[(v >> 6) & 63]) : kPad;
    out[3] = kPad;
    out += 4;
  }
  return out;
}

struct DecodeCursor {
  const uint8_t* in;
  const uint8_t* inEnd;
  uint8_t* out;
  uint8_t* outEnd;
};

inline uint32_t DecodeGroup(const uint8_t* p) {
  return kDecode.shifted[0][p[0]] | kDecode.shifted[1][p[1]] | kDecode.shifted[2][p[2]] |
         kDecode.shifted[3][p[3]];
}

// Consumes 8-character blocks made only of alphabet characters. Each block is stored with one
// 8-byte write of which 6 bytes count, so 8 bytes of room are required.
void DecodeCleanBlocks(DecodeCursor& c) {
  while (c.inEnd - c.in >= 8 && c.outEnd - c.out >= 8) {
    const uint32_t first = DecodeGroup(c.in);
    const uint32_t second = DecodeGroup(c.in + 4);
    if ((first | second) & kInvalid) return;
    StoreBigEndian64(c.out, (static_cast<uint64_t>(first) << 40) | (static_cast<uint64_t>(second) << 16));
    c.in += 8;
    c.out += 6;
  }
}

// Reads one group character by character: skips what is outside the alphabet, stops before "=".
// Returns the number of alphabet characters gathered (4 unless the text ended or "=" was met).
int GatherGroup(DecodeCursor& c, uint32_t& bits) {
  int count = 0;
  while (count < 4 && c.in < c.inEnd && *c.in != kPad) {
    const uint32_t v = kValue[*c.in++];
    if (v & kInvalid) continue;
    bits = bits << 6 | v;
    ++count;
  }
  return count;
}

// Leftover characters keep only their whole bytes: 2 give 1 byte, 3 give 2; the spare low bits
// are dropped.
void EmitBits(DecodeCursor& c, uint32_t bits, int count) {
  const int totalBits = 6 * count;
  bits >>= totalBits % 8;
  for (int i = totalBits / 8 - 1; i >= 0; --i) {
    *c.out++ = static_cast<uint8_t>(bits >> (8 * i));
  }
}

// Returns the end of the decoded bytes. Never writes more than 3 bytes per 4 alphabet characters,
// which the caller's allocation of Len / 4 * 3 bytes always holds.
uint8_t* DecodeText(DecodeCursor c) {
  for (;;) {
    DecodeCleanBlocks(c);
    uint32_t bits = 0;
    const int count = GatherGroup(c, bits);
    EmitBits(c, bits, count);
    if (count < 4) return c.out;
  }
}

void Clear(uint8_t** Out, int32_t* OutLen) {
  if (Out) *Out = nullptr;
  if (OutLen) *OutLen = 0;
}

}  // namespace

void MimeEncode(const uint8_t* Data, int32_t Len, uint8_t** Out, int32_t* OutLen) {
  Clear(Out, OutLen);
  if (!Data || Len < 1 || !Out || !OutLen) return;
  // 4 * ceil(Len / 3) passes INT32_MAX for Len above about 1.6 GB; such input is refused rather
  // than given a wrapped length.
  const int64_t size = 4 * ((static_cast<int64_t>(Len) + 2) / 3);
  if (size > INT32_MAX) return;
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
  if (!block) return;
  EncodeBlocks(Data, Data + Len, block);
  *Out = block;
  *OutLen = static_cast<int32_t>(size);
}

void MimeDecode(const uint8_t* Text, int32_t Len, uint8_t** Out, int32_t* OutLen) {
  Clear(Out, OutLen);
  if (!Text || Len < 1 || Len % 4 != 0 || !Out || !OutLen) return;
  const size_t capacity = static_cast<size_t>(Len / 4) * 3;
  auto* block = static_cast<uint8_t*>(std::malloc(capacity));
  if (!block) return;
  const uint8_t* end = DecodeText({Text, Text + Len, block, block + capacity});
  const size_t produced = static_cast<size_t>(end - block);
  if (produced == 0) {
    std::free(block);
    return;
  }
  if (produced < capacity) {
    // Shrinking in place where the allocator can; the caller gets a block of the exact size.
    auto* exact = static_cast<uint8_t*>(std::realloc(block, produced));
    if (!exact) {
      std::free(block);
      return;
    }
    block = exact;
  }
  *Out = block;
  *OutLen = static_cast<int32_t>(produced);
}

void MimeFree(uint8_t* Block) { std::free(Block); }

}  // namespace zk
