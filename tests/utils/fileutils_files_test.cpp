// File, directory and numbering helpers against real directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/fileutils.h"
#include "utils/temp_dir.h"

namespace zk {
namespace {

using test::TempDir;

TEST(NextNumberInMask, TakesLargestNumberAtTheStarIgnoringCase) {
  TempDir t;
  for (const char* name : {"crl1.pem", "crl7.pem", "CRL12.PEM", "crl3.old.pem", "crl3.crl"}) t.MakeFile(name);
  EXPECT_EQ(NextNumberInMask(t.Dir(), "crl*.pem"), 13);
}

TEST(NextNumberInMask, SkipsNamesThatAreNotUsableNumbers) {
  TempDir t;
  // Not numbers, an empty number part, a number beyond int32, and a sign.
  for (const char* name : {"crl4.pem", "crlx.pem", "crl.pem", "crl5x.pem", "crl99999999999.pem", "crl-9.pem"}) {
    t.MakeFile(name);
  }
  EXPECT_EQ(NextNumberInMask(t.Dir(), "crl*.pem"), 5);
}

TEST(NextNumberInMask, IgnoresDirectoriesAndDotFiles) {
  TempDir t;
  t.MakeFile("c2.cer");
  t.MakeDir("c40.cer");
  EXPECT_EQ(NextNumberInMask(t.Dir(), "c*.cer"), 3);
  t.MakeFile(".k9.x");
  EXPECT_EQ(NextNumberInMask(t.Dir(), ".k*.x"), 1);
}

TEST(NextNumberInMask, ZeroWithoutStarMissingDirOrNoNextNumber) {
  TempDir t;
  t.MakeFile("c2.cer");
  EXPECT_EQ(NextNumberInMask(t.Dir(), "c2.cer"), 0);
  EXPECT_EQ(NextNumberInMask(t.Win("missing"), "c*.cer"), 0);
  EXPECT_EQ(NextNumberInMask("", "c*.cer"), 0);
  EXPECT_EQ(NextNumberInMask(t.Dir(), "pk*.pub"), 1);
  t.MakeFile("c2147483647.cer");
  EXPECT_EQ(NextNumberInMask(t.Dir(), "c*.cer"), 0);  // int32 has no number after it
}

TEST(NextNumberByExtension, ReadsLastThreeDigitsOfBaseNameFiles) {
  TempDir t;
  for (const char* name : {"uid.001", "UID.012", "uid.pem", "uid.7", "other.050", "uidx.099", "uid"}) {
    t.MakeFile(name);
  }
  t.MakeDir("uid.200");
  EXPECT_EQ(NextNumberByExtension(t.Dir(), "uid"), 13);
  EXPECT_EQ(NextNumberByExtension(t.Dir(), "none"), 1);
  EXPECT_EQ(NextNumberByExtension(t.Dir(), "u*"), 1);  // the base name is not a mask
  EXPECT_EQ(NextNumberByExtension(t.Win("missing"), "uid"), 0);
}

TEST(FindFilesByExtension, MatchesLastCharactersIgnoringCaseAndRecurses) {
  TempDir t;
  for (const char* name : {"a.crt", "B.CRT", "c.txt", "dcrt", ".hidden.crt", "sub/d.crt", "sub/deeper/e.Crt",
                           "sub.crt/f.crt", ".git/g.crt"}) {
    t.MakeFile(name);
  }
  std::vector<std::string> flat{"kept"};
  FindFilesByExtension(t.Dir(), "crt", flat, false);
  std::sort(flat.begin(), flat.end());
  EXPECT_EQ(flat, (std::vector<std::string>{t.Win("B.CRT"), t.Win("a.crt"), t.Win("dcrt"), "kept"}));

  std::vector<std::string> deep;
  FindFilesByExtension(t.Dir() + "\\", "CRT", deep, true);
  std::sort(deep.begin(), deep.end());
  EXPECT_EQ(deep, (std::vector<std::string>{t.Win("B.CRT"), t.Win("a.crt"), t.Win("dcrt"), t.Win("sub.crt\\f.crt"),
                                            t.Win("sub\\d.crt"), t.Win("sub\\deeper\\e.Crt")}));
}

TEST(FindFilesByExtension, MissingDirectoryAddsNothing) {
  TempDir t;
  std::vector<std::string> list{"kept"};
  FindFilesByExtension(t.Win("missing"), "crt", list, true);
  FindFilesByExtension("", "crt", list, true);
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
}

TEST(ReadFileToBuffer, ReadsOnlyWhenTheFileFits) {
  TempDir t;
  t.MakeFile("ten", "0123456789");
  std::vector<uint8_t> buffer(16, 0xEE);
  int32_t size = 9;
  EXPECT_FALSE(ReadFileToBuffer(t.Win("ten"), buffer.data(), size));
  EXPECT_EQ(size, 9);
  EXPECT_EQ(buffer, std::vector<uint8_t>(16, 0xEE));

  size = 16;
  ASSERT_TRUE(ReadFileToBuffer(t.Win("ten"), buffer.data(), size));
  EXPECT_EQ(size, 10);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 10), "0123456789");
  EXPECT_EQ(buffer[10], 0xEE);
}

TEST(ReadFileToBuffer, RefusesBadArgumentsAndMissingFiles) {
  TempDir t;
  t.MakeFile("ten", "0123456789");
  uint8_t buffer[16] = {};
  int32_t size = 16;
  EXPECT_FALSE(ReadFileToBuffer(t.Win("missing"), buffer, size));
  EXPECT_FALSE(ReadFileToBuffer(t.Win("ten"), nullptr, size));
  size = -1;
  EXPECT_FALSE(ReadFileToBuffer(t.Win("ten"), buffer, size));
  EXPECT_EQ(size, -1);
}

TEST(WriteBufferToFile, ReplacesContentAndRefusesBadSizes) {
  TempDir t;
  t.MakeFile("f", "a much longer old content");
  ASSERT_TRUE(WriteBufferToFile(t.Win("f"), "new", 3));
  EXPECT_EQ(t.Read("f"), "new");
  EXPECT_FALSE(WriteBufferToFile(t.Win("g"), "new", -1));
  EXPECT_FALSE(WriteBufferToFile(t.Win("g"), nullptr, 3));
  EXPECT_FALSE(t.Exists("g"));
  ASSERT_TRUE(WriteBufferToFile(t.Win("empty"), nullptr, 0));
  EXPECT_EQ(FileSizePlusOne(t.Win("empty")), 1);
}

TEST(CopyFileByStreams, CopiesOverAnExistingFileButNotFromAMissingOne) {
  TempDir t;
  t.MakeFile("src", std::string("bin\0ary", 7));
  t.MakeFile("dst", "older and longer");
  ASSERT_TRUE(CopyFileByStreams(t.Win("src"), t.Win("dst")));
  EXPECT_EQ(t.Read("dst"), std::string("bin\0ary", 7));
  EXPECT_FALSE(CopyFileByStreams(t.Win("missing"), t.Win("dst")));
  EXPECT_EQ(t.Read("dst"), std::string("bin\0ary", 7));
}

TEST(FileSizePlusOne, ZeroForWhatCannotBeOpenedAsAFile) {
  TempDir t;
  t.MakeFile("five", "12345");
  t.MakeDir("sub");
  EXPECT_EQ(FileSizePlusOne(t.Win("five")), 6);
  EXPECT_EQ(FileSizePlusOne(t.Win("missing")), 0);
  EXPECT_EQ(FileSizePlusOne(t.Win("sub")), 0);
}

TEST(DirectoryExists, OnlyForDirectories) {
  TempDir t;
  t.MakeFile("file");
  EXPECT_TRUE(DirectoryExists(t.Dir()));
  EXPECT_TRUE(DirectoryExists(t.Dir() + "\\"));
  EXPECT_FALSE(DirectoryExists(t.Win("file")));
  EXPECT_FALSE(DirectoryExists(t.Win("missing")));
  EXPECT_FALSE(DirectoryExists(""));
}

}  // namespace
}  // namespace zk
