#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "standin_files.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class StandInFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / "zk_standin_files_test";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(StandInFiles, WritesExactlyTheBytesAndReplacesAnOlderFile) {
  const fs::path file = dir_ / "key.sec";
  const std::string first("\0\1\2 key", 8), second = "shorter";
  ASSERT_EQ(standin::WriteWholeFile(file.string().c_str(), first.data(), first.size()), standin::WriteResult::kOk);
  EXPECT_EQ(ReadAll(file), first);
  ASSERT_EQ(standin::WriteWholeFile(file.string().c_str(), second.data(), second.size()), standin::WriteResult::kOk);
  EXPECT_EQ(ReadAll(file), second);  // no tail of the longer file left
  ASSERT_EQ(standin::WriteWholeFile(file.string().c_str(), nullptr, 0), standin::WriteResult::kOk);
  EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(StandInFiles, RefusesWhatCannotBeWrittenAndLeavesNothing) {
  const fs::path missing = dir_ / "no such dir" / "key.sec";
  EXPECT_EQ(standin::WriteWholeFile(missing.string().c_str(), "x", 1), standin::WriteResult::kOpenFailed);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(standin::WriteWholeFile(dir_.string().c_str(), "x", 1), standin::WriteResult::kOpenFailed);
  EXPECT_TRUE(fs::is_directory(dir_));
  EXPECT_EQ(standin::WriteWholeFile(nullptr, "x", 1), standin::WriteResult::kOpenFailed);
  const fs::path file = dir_ / "key.sec";
  EXPECT_EQ(standin::WriteWholeFile(file.string().c_str(), nullptr, 5), standin::WriteResult::kOpenFailed);
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
