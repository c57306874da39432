// Publishing a replacement file: whatever step fails, the files on disk are exactly as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "frame/publish.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using Snapshot = std::map<std::string, std::string>;  // name -> content ("<dir>" for directories)

int g_failAt = 0;  // the file change that fails (1-based); 0: none
int g_changes = 0;

bool FailKth(zk::platform::FileChange, const std::string&) { return ++g_changes == g_failAt; }

class PublishFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zk_publish_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    zk::platform::SetFileFaultHookForTesting(nullptr);
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }
  Snapshot Files() const {
    Snapshot files;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      std::ifstream in(entry.path(), std::ios::binary);
      files[entry.path().filename().string()] =
          entry.is_directory() ? "<dir>" : std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
  }
  Snapshot WithoutTemporaries(Snapshot files) const {
    for (auto it = files.begin(); it != files.end();) it = it->first.rfind("~zk", 0) == 0 ? files.erase(it) : ++it;
    return files;
  }
  // Runs the publication from the same start with the k-th file change failing, for every k up to
  // the number of changes a whole run makes. Before the new file serves, a failure must leave the
  // directory exactly as it was; after, only a set-aside file under a temporary name may remain.
  void ExpectAllOrNothing(const std::function<void()>& Start, const std::string& Target,
                          const std::vector<zk::RetiredFile>& Retired, bool Replace, const Snapshot& Expected) {
    const std::string data = "new content";
    zk::platform::SetFileFaultHookForTesting(&FailKth);
    for (g_failAt = 1; g_failAt < 20; ++g_failAt) {
      fs::remove_all(dir_);
      fs::create_directories(dir_);
      Start();
      const Snapshot before = Files();
      g_changes = 0;
      const bool published = zk::PublishFile(Target, data.data(), data.size(), Retired, Replace);
      if (!published) {
        EXPECT_EQ(Files(), before) << "change " << g_failAt << " failed";
        continue;
      }
      EXPECT_EQ(WithoutTemporaries(Files()), Expected) << "change " << g_failAt << " failed";
      if (g_failAt > g_changes) {
        EXPECT_EQ(Files(), Expected);
        EXPECT_GE(g_failAt, 3);  // at least the write and the move into place came before
        return;
      }
    }
    ADD_FAILURE() << "the publication never completed";
  }

  fs::path dir_;
};

TEST_F(PublishFileTest, NewNameRetiresTheOldFilesOnlyOnceInPlace) {
  ExpectAllOrNothing([&] {
    Write("c1.cer", "old one");
    Write("c2.cer", "old two");
    Write("c3.cer", "someone else");
  }, Path("c4.cer"), {{Path("c1.cer"), ""}, {Path("c2.cer"), ""}}, false,
                     {{"c3.cer", "someone else"}, {"c4.cer", "new content"}});
}

TEST_F(PublishFileTest, ReplacingInPlaceKeepsTheOldFileUntilTheLastStep) {
  ExpectAllOrNothing([&] {
    Write("uid.pub", "old");
    Write("pk1.pub", "older copy");
  }, Path("uid.pub"), {{Path("uid.pub"), ""}, {Path("pk1.pub"), ""}}, true,
                     {{"uid.pub", "new content"}});
}

TEST_F(PublishFileTest, ArchivedFilesTakeTheirNewNamesAndDropOlderArchives) {
  ExpectAllOrNothing([&] {
    Write("c1.crl", "old list");
    Write("c1.old", "older list");
  }, Path("c2.crl"), {{Path("c1.crl"), Path("c1.old")}}, false,
                     {{"c1.old", "old list"}, {"c2.crl", "new content"}});
}

TEST_F(PublishFileTest, ADirectoryInTheWayOfAnyNameChangesNothing) {
  Write("c1.crl", "old list");
  fs::create_directory(dir_ / "c2.crl");
  const Snapshot before = Files();
  EXPECT_FALSE(zk::PublishFile(Path("c2.crl"), "x", 1, {{Path("c1.crl"), Path("c1.old")}}, false));
  EXPECT_FALSE(zk::PublishFile(Path("c2.crl"), "x", 1, {}, true));
  EXPECT_EQ(Files(), before);
  fs::remove(dir_ / "c2.crl");
  fs::create_directory(dir_ / "c1.old");
  fs::create_directory(dir_ / "c1.old" / "inside");
  const Snapshot blocked = Files();
  EXPECT_FALSE(zk::PublishFile(Path("c3.crl"), "x", 1, {{Path("c1.crl"), Path("c1.old")}}, false));
  EXPECT_EQ(Files(), blocked);
}

TEST_F(PublishFileTest, TemporaryNamesStayShortBesideALongTarget) {
  // As long as a target may get: Windows counts the whole path (MAX_PATH), POSIX one name.
#ifdef _WIN32
  const size_t longest = 259 - Path("").size();
#else
  const size_t longest = 255;
#endif
  const std::string longName = std::string(longest - 4, 'U') + ".pub";
  ASSERT_TRUE(zk::PublishFile(Path(longName), "k", 1, {}, true));
  ASSERT_TRUE(zk::PublishFile(Path(longName), "K", 1, {}, true));
  EXPECT_EQ(Files(), (Snapshot{{longName, "K"}}));
#ifndef _WIN32  // Windows may accept longer paths (long-path support, Wine): nothing to refuse there
  const std::string tooLong = std::string(longest - 3, 'U') + ".pub";
  EXPECT_FALSE(zk::PublishFile(Path(tooLong), "k", 1, {}, true));
  EXPECT_EQ(Files(), (Snapshot{{longName, "K"}}));
#endif
}

}  // namespace
