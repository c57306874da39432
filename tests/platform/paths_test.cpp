// Windows path semantics: both separators, case-insensitive lookup of existing components, and
// new names created inside directories that were named in another case.
#include <filesystem>

#include "platform/platform.h"
#include "temp_dir.h"

namespace zk::platform {
namespace {

namespace fs = std::filesystem;

class PathsTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directories(Real("Keys/Sub"));
    MakeFile("Keys/Sub/Secret.Key", "abc");
  }
};

TEST_F(PathsTest, AcceptsBothSeparatorsAndAnyCase) {
  EXPECT_TRUE(IsFile(Win("Keys\\Sub\\Secret.Key")));
  EXPECT_TRUE(IsFile(Win("Keys/Sub\\Secret.Key")));
  EXPECT_TRUE(IsFile(Win("KEYS\\sub\\SECRET.KEY")));
  EXPECT_TRUE(IsDirectory(Win("keys\\SUB\\")));
  EXPECT_FALSE(IsFile(Win("keys\\SUB")));
  EXPECT_FALSE(IsDirectory(Win("KEYS\\SUB\\secret.key")));
  EXPECT_TRUE(PathExists(Win("keys\\.\\sub\\..\\SUB\\secret.key")));
  EXPECT_FALSE(PathExists(Win("Keys\\Sub\\Secret.Key2")));
  EXPECT_FALSE(PathExists(Win("Nothing\\Sub\\Secret.Key")));

  std::vector<uint8_t> data;
  ASSERT_TRUE(ReadWholeFile(Win("kEyS\\sUb\\sEcReT.kEy"), data));
  EXPECT_EQ(std::string(data.begin(), data.end()), "abc");
  EXPECT_EQ(FileSize(Win("KEYS\\SUB\\SECRET.KEY")), 3);
}

TEST_F(PathsTest, NewNamesGoIntoTheExistingDirectoryKeepingTheirOwnCase) {
  const std::string text = "new";
  ASSERT_TRUE(WriteWholeFile(Win("KEYS\\SUB\\New.File"), text.data(), text.size()));
  EXPECT_EQ(Content("Keys/Sub/New.File"), "new");
  ASSERT_TRUE(MakeDirectory(Win("keys\\NewDir")));
  EXPECT_TRUE(fs::is_directory(Real("Keys/NewDir")));
  ASSERT_TRUE(MoveFileTo(Win("KEYS\\SUB\\NEW.FILE"), Win("keys\\newdir\\Moved.File")));
  EXPECT_EQ(Content("Keys/NewDir/Moved.File"), "new");

  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(Win("KEYS"), entries));
  ASSERT_EQ(entries.size(), 2u);  // no second "KEYS" or "keys" appeared beside "Keys"
  EXPECT_EQ(entries[0].name, "NewDir");
  EXPECT_EQ(entries[1].name, "Sub");
}

TEST_F(PathsTest, MissingMiddleComponentIsNotCreatedOrGuessed) {
  const std::string text = "x";
  EXPECT_FALSE(WriteWholeFile(Win("KEYS\\Missing\\file"), text.data(), text.size()));
  EXPECT_FALSE(MakeDirectory(Win("keys\\missing\\deeper")));
  EXPECT_FALSE(fs::exists(Real("Keys/Missing")));
}

#ifndef _WIN32
TEST_F(PathsTest, NativePathMapsSeparatorsAndTheCaseFoundOnDisk) {
  const std::string root = root_.string();
  EXPECT_EQ(NativePath(Win("KEYS\\SUB\\SECRET.KEY")), root + "/Keys/Sub/Secret.Key");
  EXPECT_EQ(NativePath(Win("keys\\sub\\")), root + "/Keys/Sub/");
  // From the first missing component on, the rest is kept as written.
  EXPECT_EQ(NativePath(Win("KEYS\\NoSuch\\SUB")), root + "/Keys/NoSuch/SUB");
  EXPECT_EQ(NativePath("a\\b/c"), "a/b/c");
  EXPECT_EQ(NativePath(""), "");
}

TEST_F(PathsTest, ExactCaseWinsOverEntriesDifferingOnlyInCase) {
  MakeFile("Keys/Sub/SECRET.KEY", "upper");
  fs::create_directories(Real("KEYS/Sub"));
  MakeFile("KEYS/Sub/Secret.Key", "other dir");
  std::vector<uint8_t> data;
  ASSERT_TRUE(ReadWholeFile(Win("Keys\\Sub\\SECRET.KEY"), data));
  EXPECT_EQ(std::string(data.begin(), data.end()), "upper");
  ASSERT_TRUE(ReadWholeFile(Win("Keys\\Sub\\Secret.Key"), data));
  EXPECT_EQ(std::string(data.begin(), data.end()), "abc");
  ASSERT_TRUE(ReadWholeFile(Win("KEYS\\Sub\\Secret.Key"), data));
  EXPECT_EQ(std::string(data.begin(), data.end()), "other dir");
  // Without an exact match the choice is stable: the smallest name.
  EXPECT_EQ(NativePath(Win("keys\\Sub\\secret.key")), root_.string() + "/KEYS/Sub/Secret.Key");
  EXPECT_EQ(NativePath(Win("Keys\\Sub\\secret.key")), root_.string() + "/Keys/Sub/SECRET.KEY");
}
#endif

}  // namespace
}  // namespace zk::platform
