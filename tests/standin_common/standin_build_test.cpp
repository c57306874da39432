// What zk_add_standin builds: stdcall exports under undecorated and decorated names, found
// through the platform layer as a binding finds them, and the file version of each build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "zk_mint.h"

namespace {

namespace fs = std::filesystem;
using namespace zk::platform;

fs::path ProbeFile(const char* build) {
  return fs::path(NativePath(HostExecutableFileName())).parent_path() / build / "probe.dll";
}

class StandInBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadModule(ProbeFile("versioned").string());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeModule(module_); }
  template <typename Fn>
  Fn Find(const char* name) {
    return reinterpret_cast<Fn>(FindSymbol(module_, name));
  }
  ModuleHandle module_ = nullptr;
};

using Binary = int(ZK_STDCALL*)(int, int);
using Unary = int(ZK_STDCALL*)(int);
using Text = int (*)(const char*);

TEST_F(StandInBuild, StdcallFunctionsAreFoundUnderTheNamesBindingsResolve) {
  const Binary sum = Find<Binary>("ProbeSum");
  const Binary mul = Find<Binary>("_ProbeMul@8");
  const Unary neg = Find<Unary>("__ProbeNeg@4");
  ASSERT_TRUE(sum && mul && neg);
  // Repeated calls: a callee that did not clean its arguments would unbalance the stack.
  int total = 0;
  for (int i = 0; i < 1000; ++i) total += sum(i, 1) + mul(i, 2) + neg(i);
  EXPECT_EQ(total, 1000 + 2 * 499500);
  for (const char* notExported : {"ProbeMul@8", "_ProbeMul@8x", "_ProbeMul@", "_@8", "ProbeUnknown"}) {
    EXPECT_EQ(FindSymbol(module_, notExported), nullptr) << notExported;
  }
#ifdef _WIN32
  EXPECT_EQ(FindSymbol(module_, "ProbeMul"), nullptr);  // only the decorated name leaves the DLL
#endif
  ModuleHandle omitted = LoadModule(ProbeFile("unversioned").string());
  ASSERT_NE(omitted, nullptr);
  EXPECT_EQ(FindSymbol(omitted, "ProbeSum"), nullptr);  // left out with OMIT
  FreeModule(omitted);
}

TEST_F(StandInBuild, EachBuildHasItsOwnFileVersion) {
  const std::string file = ModuleFileName(module_);
  ASSERT_FALSE(file.empty());
  EXPECT_TRUE(fs::equivalent(NativePath(file), ProbeFile("versioned")));
  uint32_t ms = 0, ls = 0;
  ASSERT_TRUE(FileVersion(file, ms, ls));
  EXPECT_EQ(ms, (6u << 16) | 1u);
  EXPECT_EQ(ls, (300u << 16) | 65535u);
  EXPECT_FALSE(FileVersion(ProbeFile("unversioned").string(), ms, ls));
  EXPECT_EQ(ModuleFileName(nullptr), "");
}

TEST_F(StandInBuild, DevicesDetachAndAttachThroughTheControlEntry) {
  const Text control = Find<Text>("ProbeControl");
  const Text attached = Find<Text>("ProbeAttached");
  ASSERT_TRUE(control && attached);
  ASSERT_EQ(control("reset"), 0);
  EXPECT_EQ(attached("TM:COM1"), 1);
  ASSERT_EQ(control("detach tm:com1 2"), 0);
  EXPECT_EQ(attached("TM:COM1"), 0);
  EXPECT_EQ(attached("SC:GSR4"), 1);  // only the named device
  EXPECT_EQ(attached("TM:COM1"), 0);
  EXPECT_EQ(attached("TM:COM1"), 1);  // attached after two queries
  ASSERT_EQ(control("detach SC:GSR4"), 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(attached("SC:GSR4"), 0);
  ASSERT_EQ(control("attach sc:gsr4"), 0);
  EXPECT_EQ(attached("SC:GSR4"), 1);
  for (const char* bad : {"detach", "detach TM:COM1 0", "detach TM:COM1 x", "attach", "attach a b"}) {
    EXPECT_EQ(control(bad), -1) << bad;
  }
}

#ifndef _WIN32
// The version record is read from the file, whatever the file holds.
TEST(StandInVersionFile, DamagedFilesHaveNoVersion) {
  std::ifstream in(ProbeFile("versioned"), std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(in)), {});
  const std::string signature("\xBD\x04\xEF\xFE\x00\x00\x01\x00", 8);
  const size_t record = image.find(signature);
  ASSERT_NE(record, std::string::npos);
  const fs::path copy = fs::temp_directory_path() / ("zk_probe_" + std::to_string(::getpid()) + ".dll");
  auto versionOf = [&](const std::string& bytes) {
    std::ofstream(copy, std::ios::binary | std::ios::trunc) << bytes;
    uint32_t ms = 0, ls = 0;
    return FileVersion(copy.string(), ms, ls);
  };
  EXPECT_TRUE(versionOf(image));
  std::string wrongSignature = image;
  wrongSignature[record] ^= 1;
  EXPECT_FALSE(versionOf(wrongSignature));
  for (size_t length : {size_t{0}, size_t{4}, size_t{63}, image.size() / 2, image.size() - 1}) {
    EXPECT_FALSE(versionOf(image.substr(0, length))) << length;
  }
  fs::remove(copy);
}
#endif

}  // namespace
