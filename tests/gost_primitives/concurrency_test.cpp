// The primitives hold no shared mutable state: threads that sign, verify, hash, encrypt and draw
// random bytes at once all get correct results.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "gost.h"

namespace {

namespace ec = gost::r3410_2001;

TEST(GostConcurrency, ThreadsUseThePrimitivesAtOnce) {
  std::atomic<int> failures{0};
  std::atomic<bool> go{false};
  auto work = [&](int id) {
    while (!go.load()) std::this_thread::yield();
    uint8_t state[gost::kRandomStateSize] = {};
    for (int round = 0; round < 8; ++round) {
      uint8_t d[32], digest[32], sig[64], x[32], y[128], sig94[64];
      ec::Point q;
      gost::RandomFill(state, digest, sizeof(digest));
      ec::Curve c = (id + round) % 2 ? ec::Curve::Test : ec::Curve::CryptoProA;
      if (ec::GenerateSecret(c, d) != 0 || ec::PublicFromSecret(c, d, q) != 0 ||
          ec::Sign(c, d, digest, sig) != 0 || ec::Verify(c, q, digest, sig) != 0)
        ++failures;
      sig[5] ^= 1;
      if (ec::Verify(c, q, digest, sig) == 0) ++failures;
      if (gost::r3410_94::GenerateSecret(x) != 0 || gost::r3410_94::PublicFromSecret(x, y) != 0 ||
          gost::r3410_94::Sign(x, digest, sig94) != 0 || gost::r3410_94::Verify(y, digest, sig94) != 0)
        ++failures;

      gost::R3411Hash h;
      uint8_t hd[32];
      if (!h.Init(gost::kSboxR3411TestParams)) ++failures;
      h.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
      h.Final(hd);
      static const uint8_t kAbc[4] = {0xf3, 0x13, 0x43, 0x48};  // RFC-set digest of "abc"
      if (std::memcmp(hd, kAbc, 4) != 0) ++failures;

      gost::Gost28147 cipher;
      cipher.SetKey(d, gost::kSboxR3411TestParams);
      uint8_t iv[8] = {uint8_t(id)}, data[37], back[37];
      std::memcpy(data, y, sizeof(data));
      gost::GammaMode g;
      g.Init(&cipher, iv);
      g.Crypt(data, back, sizeof(data));
      g.Init(&cipher, iv);
      g.Crypt(back, back, sizeof(back));
      if (std::memcmp(data, back, sizeof(data)) != 0) ++failures;
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) threads.emplace_back(work, i);
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
}

}  // namespace
