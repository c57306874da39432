// TSyncExceptStr: readers never see a text that was not set as a whole.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "frame/crypto_engine.h"
#include "lock_probe.h"

namespace {

using zk::TSyncExceptStr;

// Text k is one letter repeated; lengths differ so that assignments reallocate.
std::string TextNumber(int k) { return std::string(static_cast<size_t>(1 + k * 37 % 300), static_cast<char>('a' + k)); }

bool IsWholeText(const std::string& text) {
  if (text.empty()) return true;  // nothing set yet
  const int k = text[0] - 'a';
  return k >= 0 && k < 26 && text == TextNumber(k);
}

class SyncExceptStr : public locktest::LockTest {};

TEST_F(SyncExceptStr, ConcurrentSetAndGetNeverTear) {
  TSyncExceptStr holder;
  constexpr int kWriters = 4, kReaders = 4, kSetsPerWriter = 20000;
  std::atomic<int> writersLeft{kWriters};
  std::atomic<long> torn{0}, reads{0};
  locktest::Barrier start(kWriters + kReaders);
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      start.ArriveAndWait();
      for (int i = 0; i < kSetsPerWriter; ++i) holder.SetText(TextNumber((w * 7 + i) % 26));
      --writersLeft;
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      start.ArriveAndWait();
      while (writersLeft.load() > 0) {
        if (!IsWholeText(holder.GetText())) ++torn;
        ++reads;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_TRUE(IsWholeText(holder.GetText()));
  EXPECT_FALSE(holder.GetText().empty());
}

TEST_F(SyncExceptStr, GetReturnsTheLastSetText) {
  TSyncExceptStr holder;
  EXPECT_EQ(holder.GetText(), "");
  holder.SetText("first");
  holder.SetText("second");
  EXPECT_EQ(holder.GetText(), "second");
}

}  // namespace
