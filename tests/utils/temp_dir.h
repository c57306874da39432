// A fresh directory under the system's temporary directory, removed with everything in it.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace zk::test {

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("zk_utils_" + std::to_string(stamp) + "_" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory as the library sees it, without a trailing separator.
  std::string Dir() const { return path_.string(); }
  // A Windows-style path below the directory ("sub\\name").
  std::string Win(const std::string& relative) const { return Dir() + "\\" + relative; }

  void MakeFile(const std::string& relative, const std::string& content = "x") const {
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }
  void MakeDir(const std::string& relative) const { std::filesystem::create_directories(path_ / relative); }
  std::string Read(const std::string& relative) const {
    std::ifstream in(path_ / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& relative) const { return std::filesystem::exists(path_ / relative); }

 private:
  std::filesystem::path path_;
};

}  // namespace zk::test
