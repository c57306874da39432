// A fresh directory under the system temp directory for one test, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace zk::platform::testing {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("zk_platform_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // The root as a Windows-style string with a backslash between it and `relative`.
  std::string Win(const std::string& relative = "") const {
    std::string path = root_.string();
    return relative.empty() ? path : path + "\\" + relative;
  }
  std::filesystem::path Real(const std::string& relative) const { return root_ / relative; }

  void MakeFile(const std::string& relative, const std::string& content) const {
    std::ofstream(Real(relative), std::ios::binary) << content;
  }
  std::string Content(const std::string& relative) const {
    std::ifstream in(Real(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path root_;
};

}  // namespace zk::platform::testing
