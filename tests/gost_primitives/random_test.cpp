// The state-driven generator and the system source: seeding of a zero state, the state moving on,
// no repeats even from a restored state, and the bounds of the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "gost.h"
#include "test_util.h"

namespace {

using gost_test::Hex;

TEST(RandomFill, SeedsAZeroStateAdvancesAndNeverRepeats) {
  uint8_t state[gost::kRandomStateSize] = {};
  uint8_t a[40], b[40];
  gost::RandomFill(state, a, sizeof(a));
  EXPECT_NE(std::string(2 * gost::kRandomStateSize, '0'), Hex(state, sizeof(state))) << "not seeded";
  EXPECT_NE(std::string(80, '0'), Hex(a, sizeof(a)));

  uint8_t saved[gost::kRandomStateSize];
  std::memcpy(saved, state, sizeof(saved));
  gost::RandomFill(state, b, sizeof(b));
  EXPECT_NE(Hex(saved, sizeof(saved)), Hex(state, sizeof(state))) << "state did not advance";
  EXPECT_NE(Hex(a, 40), Hex(b, 40));

  // A caller that restores an old state still gets new bytes and a new state.
  uint8_t again[gost::kRandomStateSize];
  std::memcpy(again, saved, sizeof(again));
  uint8_t c[40];
  gost::RandomFill(again, c, sizeof(c));
  EXPECT_NE(Hex(b, 40), Hex(c, 40));
  EXPECT_NE(Hex(state, sizeof(state)), Hex(again, sizeof(again)));

  // Two zero states seeded independently go apart; the output never shows the state.
  uint8_t s1[gost::kRandomStateSize] = {}, s2[gost::kRandomStateSize] = {};
  uint8_t o1[gost::kRandomStateSize], o2[gost::kRandomStateSize];
  gost::RandomFill(s1, o1, sizeof(o1));
  gost::RandomFill(s2, o2, sizeof(o2));
  EXPECT_NE(Hex(s1, sizeof(s1)), Hex(s2, sizeof(s2)));
  EXPECT_NE(Hex(o1, sizeof(o1)), Hex(s1, sizeof(s1)));
}

// Writes exactly len bytes (lengths around the 8-byte gamma block), nothing past them; no output
// buffer still advances the state.
TEST(RandomFill, WritesExactlyTheRequestedBytes) {
  uint8_t state[gost::kRandomStateSize] = {};
  for (size_t len : {0, 1, 7, 8, 9, 63, 64, 65, 1000}) {
    std::vector<uint8_t> buf(len + 16, 0x5C);
    gost::RandomFill(state, buf.data() + 8, len);
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(0x5C, buf[i]) << len;
      EXPECT_EQ(0x5C, buf[len + 8 + i]) << len;
    }
    if (len >= 64) {  // 64 random bytes take about 57 distinct values; 32 or fewer is a fault
      std::set<uint8_t> distinct(buf.begin() + 8, buf.begin() + 8 + len);
      EXPECT_GT(distinct.size(), 32u) << len;
    }
  }
  uint8_t before[gost::kRandomStateSize];
  std::memcpy(before, state, sizeof(before));
  gost::RandomFill(state, nullptr, 0);
  EXPECT_NE(Hex(before, sizeof(before)), Hex(state, sizeof(state)));
}

TEST(SystemRandom, FillsWithoutRepeating) {
  uint8_t a[32] = {}, b[32] = {};
  gost::SystemRandom(a, sizeof(a));
  gost::SystemRandom(b, sizeof(b));
  EXPECT_NE(Hex(a, 32), Hex(b, 32));
  EXPECT_NE(std::string(64, '0'), Hex(a, 32));
}

TEST(Wipe, ClearsExactlyTheGivenBytes) {
  uint8_t buf[24];
  std::memset(buf, 0x77, sizeof(buf));
  gost::Wipe(buf + 4, 16);
  for (size_t i = 0; i < sizeof(buf); ++i) EXPECT_EQ(i >= 4 && i < 20 ? 0 : 0x77, buf[i]) << i;
}

}  // namespace
