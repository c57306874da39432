// Loading real system libraries and looking up symbols.
#include <filesystem>

#include "platform/platform.h"
#include "temp_dir.h"

namespace zk::platform {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
const char* const kSystemLibrary = "kernel32.dll";
const char* const kSymbol = "GetCurrentThreadId";
#else
const char* const kSystemLibrary = "libm.so.6";
const char* const kSymbol = "cos";
#endif

TEST(ModulesTest, LoadsASystemLibraryAndCallsIntoIt) {
  ModuleHandle module = LoadModule(kSystemLibrary);
  ASSERT_NE(module, nullptr);
  void* symbol = FindSymbol(module, kSymbol);
  ASSERT_NE(symbol, nullptr);
#ifdef _WIN32
  using GetThreadIdFn = unsigned long(__stdcall*)();
  EXPECT_EQ(reinterpret_cast<GetThreadIdFn>(symbol)(), CurrentThreadId());
#else
  using CosFn = double (*)(double);
  EXPECT_EQ(reinterpret_cast<CosFn>(symbol)(0.0), 1.0);
#endif
  EXPECT_EQ(FindSymbol(module, "zk_no_such_symbol"), nullptr);
  FreeModule(module);
}

TEST(ModulesTest, MissingModulesAndSymbolsGiveNull) {
  EXPECT_EQ(LoadModule("zk_no_such_module.dll"), nullptr);
  EXPECT_EQ(LoadModule(""), nullptr);
  // A null module has no symbols, even ones the process itself has.
  EXPECT_EQ(FindSymbol(nullptr, kSymbol), nullptr);
  EXPECT_EQ(FindSymbol(nullptr, "malloc"), nullptr);
  FreeModule(nullptr);
}

TEST(ModulesTest, OwnFileNamesNameTheRunningProgram) {
  const std::string host = HostExecutableFileName();
  ASSERT_FALSE(host.empty());
  EXPECT_TRUE(fs::is_regular_file(host));
  EXPECT_EQ(fs::path(host).stem().string(), "zk_platform_tests");
  // The tests link the library statically, so its module is the program.
  EXPECT_EQ(fs::equivalent(LibraryFileName(), host), true);
}

class FileVersionTest : public testing::TempDirTest {};

TEST_F(FileVersionTest, OnlyFilesWithAVersionResourceHaveOne) {
  uint32_t ms = 7;
  uint32_t ls = 7;
  MakeFile("plain.dll", "not a module");
  EXPECT_FALSE(FileVersion(Win("plain.dll"), ms, ls));
  EXPECT_FALSE(FileVersion(Win("absent.dll"), ms, ls));
  EXPECT_EQ(ms, 7u);
  EXPECT_EQ(ls, 7u);
#ifdef _WIN32
  std::string systemRoot;
  ASSERT_TRUE(GetEnv("SystemRoot", systemRoot));
  ASSERT_TRUE(FileVersion(systemRoot + "\\system32\\kernel32.dll", ms, ls));
  EXPECT_GE(ms >> 16, 5u);  // every kernel32 since Windows 2000
#endif
}

TEST(LibraryVersion, TheBuiltLibraryCarriesTheProjectVersion) {
  const fs::path library = fs::path(HostExecutableFileName()).parent_path() / ZK_LIBRARY_FROM_TESTS;
  uint32_t ms = 0, ls = 0;
  ASSERT_TRUE(FileVersion(library.string(), ms, ls)) << library;
  EXPECT_EQ(ms, (uint32_t{ZK_VERSION_MAJOR} << 16) | ZK_VERSION_MINOR);
  EXPECT_EQ(ls, 0u);
}

#ifndef _WIN32
// A copy of a system library under a toolkit-like name in a directory of our own.
class LocalModuleTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_FALSE(SystemLibraryPath().empty());
    fs::create_directories(Real("Toolkit"));
    fs::copy_file(SystemLibraryPath(), Real("Toolkit/stand_in.dll"));
  }
  static fs::path SystemLibraryPath() {
    for (const char* dir : {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/lib64", "/usr/lib64", "/lib"}) {
      if (fs::exists(fs::path(dir) / kSystemLibrary)) return fs::path(dir) / kSystemLibrary;
    }
    return {};
  }
};

TEST_F(LocalModuleTest, LoadedByWindowsPath) {
  ModuleHandle module = LoadModule(Win("TOOLKIT\\Stand_In.DLL"));
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindSymbol(module, kSymbol), nullptr);
  FreeModule(module);
}

TEST_F(LocalModuleTest, BareNameIsSearchedInThePathVariable) {
  std::string saved;
  const bool hadPath = GetEnv("Path", saved);
  ASSERT_TRUE(SetEnv("Path", Win("absent") + ";;" + Win("TOOLKIT") + "\\"));
  ModuleHandle module = LoadModule("stand_in.dll");
  SetEnv("Path", hadPath ? saved : "");
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindSymbol(module, kSymbol), nullptr);
  FreeModule(module);
}
#endif

}  // namespace
}  // namespace zk::platform
