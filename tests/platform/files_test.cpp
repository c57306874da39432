// Whole-file reads and writes, listing, moving and removing, through Windows-style paths.
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "temp_dir.h"

namespace zk::platform {
namespace {

namespace fs = std::filesystem;
using FilesTest = testing::TempDirTest;

std::string Read(const std::string& path, size_t maxSize = SIZE_MAX) {
  std::vector<uint8_t> data{'s', 't', 'a', 'l', 'e'};
  if (!ReadWholeFile(path, data, maxSize)) return data.empty() ? "<failed>" : "<failed, kept data>";
  return std::string(data.begin(), data.end());
}

bool Write(const std::string& path, const std::string& content) {
  return WriteWholeFile(path, content.data(), content.size());
}

TEST_F(FilesTest, WriteCreatesAndReplacesWithExactlyTheGivenBytes) {
  const std::string binary("a\0b\r\n\xff", 6);
  ASSERT_TRUE(Write(Win("f.bin"), binary));
  EXPECT_EQ(Read(Win("f.bin")), binary);
  ASSERT_TRUE(Write(Win("f.bin"), std::string(100000, 'x')));
  ASSERT_TRUE(Write(Win("f.bin"), "short"));
  EXPECT_EQ(Read(Win("f.bin")), "short");  // nothing of the longer content is left behind
  ASSERT_TRUE(WriteWholeFile(Win("f.bin"), nullptr, 0));
  EXPECT_EQ(FileSize(Win("f.bin")), 0);
  EXPECT_EQ(Read(Win("f.bin")), "");
  EXPECT_FALSE(WriteWholeFile(Win("f.bin"), nullptr, 1));

  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(Win(), entries));
  ASSERT_EQ(entries.size(), 1u);  // no temporary file stays beside the target
  EXPECT_EQ(entries[0].name, "f.bin");
}

TEST_F(FilesTest, FailedWriteLeavesTheDirectoryAndFilesAlone) {
  fs::create_directories(Real("dir/inner"));
  EXPECT_FALSE(Write(Win("dir"), "data"));
  EXPECT_TRUE(fs::is_directory(Real("dir/inner")));
  EXPECT_FALSE(Write(Win("missing\\f.bin"), "data"));
  EXPECT_FALSE(fs::exists(Real("missing")));
}

TEST_F(FilesTest, ReadIsBoundedByMaxSizeAndSizeIsForFilesOnly) {
  MakeFile("hundred", std::string(100, 'z'));
  EXPECT_EQ(Read(Win("hundred"), 100), std::string(100, 'z'));
  EXPECT_EQ(Read(Win("hundred"), 99), "<failed>");
  EXPECT_EQ(Read(Win("hundred"), 0), "<failed>");
  MakeFile("empty", "");
  EXPECT_EQ(Read(Win("empty"), 0), "");
  EXPECT_EQ(Read(Win("absent")), "<failed>");
  EXPECT_EQ(FileSize(Win("hundred")), 100);
  EXPECT_EQ(FileSize(Win("absent")), -1);
  fs::create_directories(Real("dir"));
  EXPECT_EQ(Read(Win("dir")), "<failed>");
  EXPECT_EQ(FileSize(Win("dir")), -1);
}

TEST_F(FilesTest, ListsNamesAndKindsWithoutDotEntries) {
  std::vector<DirEntry> entries{{"stale", false}};
  ASSERT_TRUE(ListDirectory(Win(), entries));
  EXPECT_TRUE(entries.empty());

  fs::create_directories(Real("b_dir"));
  MakeFile("a.txt", "1");
  MakeFile("c", "");
  ASSERT_TRUE(ListDirectory(Win() + "\\", entries));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "a.txt");
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_EQ(entries[1].name, "b_dir");
  EXPECT_TRUE(entries[1].isDirectory);
  EXPECT_EQ(entries[2].name, "c");
  EXPECT_FALSE(entries[2].isDirectory);

  EXPECT_FALSE(ListDirectory(Win("absent"), entries));
  EXPECT_FALSE(ListDirectory(Win("a.txt"), entries));
}

TEST_F(FilesTest, MoveNeverReplacesAnExistingTarget) {
  MakeFile("from", "source");
  MakeFile("to", "target");
  EXPECT_FALSE(MoveFileTo(Win("from"), Win("to")));
  EXPECT_EQ(Content("from"), "source");
  EXPECT_EQ(Content("to"), "target");

  ASSERT_TRUE(MoveFileTo(Win("from"), Win("moved")));
  EXPECT_FALSE(fs::exists(Real("from")));
  EXPECT_EQ(Content("moved"), "source");
  EXPECT_FALSE(MoveFileTo(Win("from"), Win("again")));
  EXPECT_FALSE(fs::exists(Real("again")));

  fs::create_directories(Real("dir/inner"));
  ASSERT_TRUE(MoveFileTo(Win("dir"), Win("renamed")));
  EXPECT_TRUE(fs::is_directory(Real("renamed/inner")));
}

TEST_F(FilesTest, RemoveAndMakeDirectoryReportFailure) {
  MakeFile("f", "1");
  EXPECT_TRUE(RemoveFile(Win("f")));
  EXPECT_FALSE(RemoveFile(Win("f")));
  EXPECT_TRUE(MakeDirectory(Win("d")));
  EXPECT_FALSE(MakeDirectory(Win("d")));
  EXPECT_FALSE(RemoveFile(Win("d")));
  EXPECT_TRUE(fs::is_directory(Real("d")));
}

}  // namespace
}  // namespace zk::platform
