// Including, removing and refreshing correspondents' public keys: what lands on disk and what the
// engines see afterwards.
#include <filesystem>

#include "ccom3x/ccom_fixture.h"
#include "engines/ccom3x/ccom_codes.h"
#include "platform/platform.h"

namespace ccomtest {
namespace {

namespace fs = std::filesystem;
using namespace zk::ccom3x;

class CcomStock : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.AddUser("alice", "Alice UID");
    box_.AddUser("bob", "Bob UID");
    box_.AddUser("carol", "Carol UID");
    alice_ = EngineFor(box_, "alice");
  }
  std::vector<std::string> AbonentFiles(const std::string& user) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(box_.AbonentsDir(user))) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  Sandbox box_;
  std::unique_ptr<zk::TCryptoCom3xEngine> alice_;
};

TEST_F(CcomStock, IncludeWritesTheFileUnderItsUidAndReplacesEarlierOnes) {
  ASSERT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("bob").c_str()), 0);
  EXPECT_EQ(AbonentFiles("alice"), std::vector<std::string>{"Bob UID.pub"});
  EXPECT_EQ(ReadFileBytes(box_.AbonentsDir("alice") + "/Bob UID.pub"), ReadFileBytes(box_.PublicKeyFile("bob")));
  CodecResult e = Encode(*alice_, Text("hello bob"), "Bob UID");
  ASSERT_EQ(e.code, 0);
  EXPECT_EQ(Decode(*EngineFor(box_, "bob"), e.data).data, Text("hello bob"));

  // Bob's new key: the old file goes, the new one takes the UID's name.
  Sandbox other;
  other.AddUser("bob", "Bob UID");
  ASSERT_EQ(alice_->IncludePublicKey(other.PublicKeyFile("bob").c_str()), 0);
  EXPECT_EQ(AbonentFiles("alice"), std::vector<std::string>{"Bob UID.pub"});
  EXPECT_EQ(ReadFileBytes(box_.AbonentsDir("alice") + "/Bob UID.pub"), ReadFileBytes(other.PublicKeyFile("bob")));
  e = Encode(*alice_, Text("hello new bob"), "Bob UID");
  EXPECT_EQ(Decode(*EngineFor(other, "bob"), e.data).data, Text("hello new bob"));
}

bool FailCreation(zk::platform::FileChange change, const std::string&) {
  return change == zk::platform::FileChange::Create;
}
bool FailMoves(zk::platform::FileChange change, const std::string&) { return change == zk::platform::FileChange::Move; }

// A write that fails, a move that fails, or directories in the way of both names the engine may
// pick: the include fails and bob's old key is still the one on disk and in use.
TEST_F(CcomStock, FailedIncludeLeavesTheOldKeyServing) {
  ASSERT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("bob").c_str()), 0);
  const Bytes old = ReadFileBytes(box_.AbonentsDir("alice") + "/Bob UID.pub");
  Sandbox other;
  other.AddUser("bob", "Bob UID");
  for (zk::platform::FileFaultHook fault : {&FailCreation, &FailMoves}) {
    zk::platform::SetFileFaultHookForTesting(fault);
    EXPECT_EQ(alice_->IncludePublicKey(other.PublicKeyFile("bob").c_str()), kErrWritePublicKey);
    zk::platform::SetFileFaultHookForTesting(nullptr);
    EXPECT_EQ(AbonentFiles("alice"), std::vector<std::string>{"Bob UID.pub"});
    EXPECT_EQ(ReadFileBytes(box_.AbonentsDir("alice") + "/Bob UID.pub"), old);
  }
  // Bob's key under a numbered name, his own name and the next number taken by directories.
  fs::rename(box_.AbonentsDir("alice") + "/Bob UID.pub", box_.AbonentsDir("alice") + "/pk1.pub");
  fs::create_directory(box_.AbonentsDir("alice") + "/Bob UID.pub");
  fs::create_directory(box_.AbonentsDir("alice") + "/pk2.pub");
  alice_->ClearCash();
  EXPECT_EQ(alice_->IncludePublicKey(other.PublicKeyFile("bob").c_str()), kErrWritePublicKey);
  EXPECT_EQ(AbonentFiles("alice"), (std::vector<std::string>{"Bob UID.pub", "pk1.pub", "pk2.pub"}));
  EXPECT_EQ(ReadFileBytes(box_.AbonentsDir("alice") + "/pk1.pub"), old);
  const CodecResult e = Encode(*alice_, Text("still old bob"), "Bob UID");
  ASSERT_EQ(e.code, 0);
  EXPECT_EQ(Decode(*EngineFor(box_, "bob"), e.data).data, Text("still old bob"));
}

TEST_F(CcomStock, NamesThatCannotHoldTheUidGetNumberedFiles) {
  // "Bob UID.pub" already holds carol's key: bob's goes to pk1.pub.
  box_.GiveKey("alice", "carol", "Bob UID.pub");
  ASSERT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("bob").c_str()), 0);
  EXPECT_EQ(AbonentFiles("alice"), (std::vector<std::string>{"Bob UID.pub", "pk1.pub"}));
  // UIDs that would leave the directory or are no file names.
  box_.AddUser("sneaky", "..\\..\\evil");
  box_.AddUser("colon", "a:b");
  ASSERT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("sneaky").c_str()), 0);
  ASSERT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("colon").c_str()), 0);
  EXPECT_EQ(AbonentFiles("alice"), (std::vector<std::string>{"Bob UID.pub", "pk1.pub", "pk2.pub", "pk3.pub"}));
  EXPECT_FALSE(fs::exists(box_.Dir() + "/evil.pub"));
  // A UID too long for a file name.
  box_.AddUser("long", std::string(254, 'L'));
  ASSERT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("long").c_str()), 0);
  EXPECT_EQ(AbonentFiles("alice").size(), 5u);
  for (const char* uid : {"Bob UID", "Carol UID", "..\\..\\evil", "a:b"}) {
    EXPECT_EQ(Encode(*alice_, Text("x"), uid).code, 0) << uid;
  }
  EXPECT_EQ(Encode(*alice_, Text("x"), std::string(254, 'L').c_str()).code, 0);
}

TEST_F(CcomStock, IncludeRefusals) {
  EXPECT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("alice").c_str()), kErrIncludeOwnKey);
  EXPECT_EQ(alice_->IncludePublicKey((box_.Dir() + "/none.pub").c_str()), kErrBadPublicKeyFile);
  Bytes truncated = ReadFileBytes(box_.PublicKeyFile("bob"));
  truncated.pop_back();
  WriteFileBytes(box_.Dir() + "/short.pub", truncated);
  EXPECT_EQ(alice_->IncludePublicKey((box_.Dir() + "/short.pub").c_str()), kErrBadPublicKeyFile);
  EXPECT_TRUE(AbonentFiles("alice").empty());
  Configure(*alice_, kAbonentsDir, box_.Dir() + "/missing");
  EXPECT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("bob").c_str()), kErrAbonentsDir);
  EXPECT_EQ(alice_->RemoveCertificate("Bob UID"), kErrAbonentsDir);
  EXPECT_EQ(alice_->UpdateCertificateCash("Bob UID"), kErrAbonentsDir);
}

TEST_F(CcomStock, RemoveDeletesEveryFileOfTheUid) {
  box_.GiveKey("alice", "bob", "one.pub");
  fs::create_directories(box_.AbonentsDir("alice") + "/sub");
  box_.GiveKey("alice", "bob", "sub/two.pub");
  box_.GiveKey("alice", "carol");
  ASSERT_EQ(Encode(*alice_, Text("x"), "Bob UID").code, 0);
  EXPECT_EQ(alice_->RemoveCertificate("Alice UID"), kErrOwnKey);
  ASSERT_EQ(alice_->RemoveCertificate("Bob UID"), 0);
  EXPECT_EQ(AbonentFiles("alice"), (std::vector<std::string>{"carol.pub", "sub"}));
  EXPECT_FALSE(fs::exists(box_.AbonentsDir("alice") + "/sub/two.pub"));
  EXPECT_EQ(Encode(*alice_, Text("x"), "Bob UID").code, kErrBadPublicKeyFile);
  EXPECT_EQ(Encode(*alice_, Text("x"), "Carol UID").code, 0);
  EXPECT_EQ(alice_->RemoveCertificate("Bob UID"), 0) << "nothing left to remove";
}

TEST_F(CcomStock, RefreshRereadsOneUid) {
  box_.GiveKey("alice", "bob");
  auto bob = EngineFor(box_, "bob");
  SignResult s = Sign(*bob, Text("doc"));
  ASSERT_EQ(Verify(*alice_, Text("doc"), s.signature).code, 0);
  EXPECT_EQ(alice_->UpdateCertificateCash("Alice UID"), kErrOwnKey);

  // Bob's file replaced on disk by a new key: the cached one serves until the refresh.
  Sandbox other;
  other.AddUser("bob", "Bob UID");
  CopyFileBytes(other.PublicKeyFile("bob"), box_.AbonentsDir("alice") + "/bob.pub");
  SignResult fresh = Sign(*EngineFor(other, "bob"), Text("doc"));
  EXPECT_EQ(Verify(*alice_, Text("doc"), fresh.signature).code, kErrBadSignature);
  ASSERT_EQ(alice_->UpdateCertificateCash("Bob UID"), 0);
  EXPECT_EQ(Verify(*alice_, Text("doc"), fresh.signature).code, 0);
  EXPECT_EQ(Verify(*alice_, Text("doc"), s.signature).code, kErrBadSignature);

  // Not cached yet but on disk: found by the refresh (under any name of the tree).
  box_.GiveKey("alice", "carol", "whatever.pub");
  EXPECT_EQ(Encode(*alice_, Text("x"), "Carol UID").code, kErrBadPublicKeyFile);
  ASSERT_EQ(alice_->UpdateCertificateCash("Carol UID"), 0);
  EXPECT_EQ(Encode(*alice_, Text("x"), "Carol UID").code, 0);

  // Gone from disk: the refresh rebuilds the cache and reports the UID missing.
  fs::remove(box_.AbonentsDir("alice") + "/bob.pub");
  EXPECT_EQ(alice_->UpdateCertificateCash("Bob UID"), kErrBadPublicKeyFile);
  EXPECT_EQ(Verify(*alice_, Text("doc"), fresh.signature).code, kErrBadPublicKeyFile);
  EXPECT_EQ(Encode(*alice_, Text("x"), "Carol UID").code, 0) << "the rebuilt cache still has carol";
  EXPECT_EQ(alice_->UpdateCertificateCash("Nobody"), kErrBadPublicKeyFile);
}

TEST_F(CcomStock, EnginesOfOtherBindingsOnTheSameDirectorySeeChanges) {
  auto twin = EngineFor(box_, "alice");
  Configure(*twin, kKeyDevice, "ETOKEN");  // another binding, same directory
  EXPECT_EQ(Encode(*twin, Text("x"), "Bob UID").code, kErrBadPublicKeyFile);
  ASSERT_EQ(alice_->IncludePublicKey(box_.PublicKeyFile("bob").c_str()), 0);
  EXPECT_EQ(Encode(*twin, Text("x"), "Bob UID").code, 0);
  ASSERT_EQ(alice_->RemoveCertificate("Bob UID"), 0);
  EXPECT_EQ(Encode(*twin, Text("x"), "Bob UID").code, kErrBadPublicKeyFile);
}

}  // namespace
}  // namespace ccomtest
