// The process-wide root directory and the toolkit library search beneath it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "frame/errors.h"
#include "frame/zexroot.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class RootDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    zk::ResetZEXRootForTesting();
    zk::platform::GetEnv("Path", savedPath_);
  }
  void TearDown() override {
    zk::ResetZEXRootForTesting();
    zk::platform::SetEnv("Path", savedPath_);
    if (!sandbox_.empty()) fs::remove_all(sandbox_);
  }
  // A fresh root with EXE, SYSTEM and USER; returned in the library's form (ending in "\").
  std::string MakeSandbox() {
    sandbox_ = fs::temp_directory_path() / ("zk_root_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(sandbox_);
    for (const char* sub : {"EXE", "SYSTEM", "USER"}) fs::create_directories(sandbox_ / sub);
    return sandbox_.string() + "\\";
  }
  void Touch(const std::string& sub, const std::string& name) { std::ofstream(sandbox_ / sub / name) << "x"; }

  fs::path sandbox_;
  std::string savedPath_;
};

std::string ThrownMessage(const std::string& path) {
  try {
    zk::SetZEXRoot(path);
  } catch (const zk::Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

TEST_F(RootDirectory, FirstCallerFixesItAndEqualValuesAreAccepted) {
  zk::SetZEXRoot("C:\\Bank");
  EXPECT_EQ(zk::GetZEXRoot(), "C:\\Bank\\");
  EXPECT_NO_THROW(zk::SetZEXRoot("C:\\Bank\\"));
  EXPECT_NO_THROW(zk::SetZEXRoot("C:\\Bank"));
  EXPECT_EQ(ThrownMessage("c:\\bank"), "Could not set ZEXRoot to 'c:\\bank'. Already set to 'C:\\Bank\\'.");
  EXPECT_EQ(zk::GetZEXRoot(), "C:\\Bank\\");
}

TEST_F(RootDirectory, SearchDirectoriesAreInFrontOfPathUserFirst) {
  zk::platform::SetEnv("Path", "C:\\Windows");
  zk::SetZEXRoot("C:\\Bank");
  std::string path;
  ASSERT_TRUE(zk::platform::GetEnv("Path", path));
  EXPECT_EQ(path, "C:\\Bank\\USER\\;C:\\Bank\\SYSTEM\\;C:\\Bank\\EXE\\;C:\\Windows");
  std::vector<std::string> dirs = zk::GetToolkitSearchDirs();
  ASSERT_EQ(dirs.size(), 3u);
  EXPECT_EQ(dirs[0], "C:\\Bank\\EXE\\");
  EXPECT_EQ(dirs[2], "C:\\Bank\\USER\\");
  // A refused second root leaves Path alone.
  ThrownMessage("D:\\Other");
  ASSERT_TRUE(zk::platform::GetEnv("Path", path));
  EXPECT_EQ(path.rfind("C:\\Bank\\USER\\;", 0), 0u);
  EXPECT_EQ(path.find("D:\\Other"), std::string::npos);
}

TEST_F(RootDirectory, EmptyPathLeavesTheRootUnsetAndPathAlone) {
  // Fixed once per process: an empty value would pin it to the drive's root for good.
  zk::platform::SetEnv("Path", "C:\\Windows");
  EXPECT_NO_THROW(zk::SetZEXRoot(""));
  EXPECT_EQ(zk::GetZEXRoot(), "");
  EXPECT_TRUE(zk::GetToolkitSearchDirs().empty());
  std::string path;
  ASSERT_TRUE(zk::platform::GetEnv("Path", path));
  EXPECT_EQ(path, "C:\\Windows");
  EXPECT_NO_THROW(zk::SetZEXRoot("C:\\Bank"));
  EXPECT_EQ(zk::GetZEXRoot(), "C:\\Bank\\");
  // Once set, an empty value differs from it like any other.
  EXPECT_EQ(ThrownMessage(""), "Could not set ZEXRoot to ''. Already set to 'C:\\Bank\\'.");
}

TEST_F(RootDirectory, NamesWithADirectoryAreReturnedUnchanged) {
  EXPECT_EQ(zk::FindLibraryFile("D:\\x\\a.dll"), "D:\\x\\a.dll");
  EXPECT_EQ(zk::FindLibraryFile("D:a.dll"), "D:a.dll");
  EXPECT_EQ(zk::FindLibraryFile("zk_nowhere.dll"), "zk_nowhere.dll");
}

TEST_F(RootDirectory, SearchOrderIsExeThenSystemThenUser) {
  std::string root = MakeSandbox();
  zk::SetZEXRoot(root);
  Touch("USER", "only_user.dll");
  EXPECT_EQ(zk::FindLibraryFile("only_user.dll"), root + "USER\\only_user.dll");
  Touch("SYSTEM", "only_user.dll");
  EXPECT_EQ(zk::FindLibraryFile("only_user.dll"), root + "SYSTEM\\only_user.dll");
  Touch("EXE", "only_user.dll");
  EXPECT_EQ(zk::FindLibraryFile("only_user.dll"), root + "EXE\\only_user.dll");
}

TEST_F(RootDirectory, HostDirectoryComesBeforeTheRoot) {
  std::string root = MakeSandbox();
  zk::SetZEXRoot(root);
  std::string hostFile = zk::platform::HostExecutableFileName();
  ASSERT_FALSE(hostFile.empty());
  fs::path hostDir = fs::path(zk::platform::NativePath(hostFile)).parent_path();
  std::string name = "zk_hostdir_probe_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".dll";
  Touch("EXE", name);
  std::ofstream(hostDir / name) << "x";
  std::string found = zk::FindLibraryFile(name);
  fs::remove(hostDir / name);
  EXPECT_NE(found, root + "EXE\\" + name);
  EXPECT_EQ(zk::platform::NativePath(found), (hostDir / name).string());
}

// The probe module (its own copy of the frame) sits in "probe" beside this program, with a
// stand-in toolkit next to it that nothing else points at.
class ToolkitBesideModule : public RootDirectory {
 protected:
  using LoadToolkit = int (*)(const char*);

  void SetUp() override {
    RootDirectory::SetUp();
    savedCwd_ = fs::current_path();
    probeDir_ = fs::path(zk::platform::NativePath(zk::platform::HostExecutableFileName())).parent_path() / "probe";
    ASSERT_TRUE(fs::exists(probeDir_ / ZK_PROBE_TOOLKIT));
  }
  void TearDown() override {
    if (module_ != nullptr) zk::platform::FreeModule(module_);
    fs::current_path(savedCwd_);
    RootDirectory::TearDown();
  }
  // What the module's LoadToolkitLibrary finds for the toolkit's bare name, asked from a working
  // directory where the toolkit is not.
  int AskModuleFromElsewhere() {
    auto load = reinterpret_cast<LoadToolkit>(zk::platform::FindSymbol(module_, "ZkProbeLoadToolkit"));
    if (load == nullptr) return -2;
    fs::current_path(fs::temp_directory_path());
    return load(ZK_PROBE_TOOLKIT);
  }

  fs::path savedCwd_, probeDir_;
  zk::platform::ModuleHandle module_ = nullptr;
};

TEST_F(ToolkitBesideModule, FoundThroughTheModulesOwnDirectory) {
  module_ = zk::platform::LoadModule((probeDir_ / ZK_PROBE_MODULE).string());
  ASSERT_NE(module_, nullptr);
  EXPECT_EQ(AskModuleFromElsewhere(), 42);
}

TEST_F(ToolkitBesideModule, FoundWhenTheModuleWasLoadedByARelativeNameAndTheHostMovedOn) {
  fs::current_path(probeDir_);
  module_ = zk::platform::LoadModule(std::string(".\\") + ZK_PROBE_RELATIVE_MODULE);
  ASSERT_NE(module_, nullptr);
  EXPECT_EQ(AskModuleFromElsewhere(), 42);
}

TEST_F(RootDirectory, MissingToolkitGivesNullHandle) {
  EXPECT_EQ(zk::LoadToolkitLibrary("zk_no_such_toolkit.dll"), nullptr);
}

}  // namespace
