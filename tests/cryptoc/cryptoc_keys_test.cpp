// The key state: the secret key under its two time-outs, the public-key cache and the changes to
// the correspondents' directory that IncludePublicKey, RemoveCertificate and UpdateCertificateCash
// make.
#include <atomic>
#include <functional>
#include <set>
#include <filesystem>

#include "cryptoc/cryptoc_fixture.h"
#include "platform/platform.h"

namespace cctest {
namespace {

namespace fs = std::filesystem;
using zk::cryptoc::TCryptoC_DLL;

std::atomic<uint64_t> g_now{1000000};
uint64_t FakeClock() { return g_now.load(); }
void Advance(double seconds) { g_now += static_cast<uint64_t>(seconds * 1000); }

class CryptoCKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    zk::TKeyTimeouts::SetClockForTesting(&FakeClock);
    Toolkit().Control("reset");
    for (const char* uid : {"Alice", "Bob"}) box.AddUser(uid);
    alice = box.Engine("Alice");
    bob = box.Engine("Bob");
  }
  void TearDown() override {
    zk::TKeyTimeouts::SetClockForTesting(nullptr);
    Toolkit().Control("reset");
  }
  // Loading the key pair draws the mask from the generator and nothing else in a signature does,
  // so the generator's calls count the loads.
  int KeyLoadsDuring(const std::function<void()>& operation) {
    const int before = Toolkit().Calls("CrypC_Random_Fill");
    operation();
    return Toolkit().Calls("CrypC_Random_Fill") - before;
  }
  void SignOk() { ASSERT_EQ(Sign(*alice, data).code, 0); }
  Sandbox box;
  std::unique_ptr<zk::TCryptoCEngine> alice, bob;
  const Bytes data = RandomBytes(100, 1);
};

TEST_F(CryptoCKeys, ZeroTimeOutsReadTheKeyForEveryOperation) {
  Configure(*alice, kKeyTimeout, "0");
  Configure(*alice, kLastOpTimeout, "0");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 1);
  // The file is read again, so a change shows at once.
  Bytes broken = ReadFile(box.SecretKeyPath("Alice"));
  PutWordAt(broken, 0, 7);
  WriteFile(box.SecretKeyPath("Alice"), broken);
  EXPECT_EQ(Sign(*alice, data).code, -10);
}

TEST_F(CryptoCKeys, KeyIsHeldWithinBothTimeOuts) {
  EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 1);
  const Bytes secret = ReadFile(box.SecretKeyPath("Alice"));
  fs::remove(box.SecretKeyPath("Alice"));
  // Used every 4 seconds: the last-operation time-out (5) never runs out, the key-request
  // time-out (60) does.
  for (int i = 0; i < 15; ++i) {
    Advance(4);
    EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 0) << i;
  }
  Advance(4);  // 64 seconds after loading
  EXPECT_EQ(Sign(*alice, data).code, -10);
  WriteFile(box.SecretKeyPath("Alice"), secret);
  EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 1);
  Advance(5.5);
  EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 1);
  Advance(4.9);
  EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 0);
}

TEST_F(CryptoCKeys, TimeOutsInForceAtLoadingStillApply) {
  SignOk();  // loaded under 60 / 5
  Configure(*alice, kKeyTimeout, "600");
  Configure(*alice, kLastOpTimeout, "600");
  Advance(6);
  EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 1);
  Advance(100);
  EXPECT_EQ(KeyLoadsDuring([&] { SignOk(); }), 0);
}

TEST_F(CryptoCKeys, ClearCashDropsSecretAndPublicKeys) {
  ASSERT_EQ(Encode(*alice, data, "Bob").code, 0);
  box.AddUser("Carol");  // published after the cache was read
  EXPECT_EQ(Encode(*alice, data, "Carol").code, -11);
  fs::remove(box.SecretKeyPath("Alice"));
  SignOk();  // still held
  alice->ClearCash();
  EXPECT_EQ(Sign(*alice, data).code, -10);
  box.AddUser("Alice");  // a new key pair under the same name
  EXPECT_EQ(Encode(*alice, data, "Carol").code, 0);
}

TEST_F(CryptoCKeys, PairwiseKeysGoWithTheSecretKey) {
  const CodecResult first = Encode(*alice, data, "Bob");
  ASSERT_EQ(first.code, 0);
  ASSERT_EQ(Decode(*bob, first.data).code, 0);
  // Bob gets a new key pair; Alice learns his new public key.
  box.AddUser("Bob");
  ASSERT_EQ(alice->UpdateCertificateCash("Bob"), 0);
  const CodecResult second = Encode(*alice, data, "Bob");
  ASSERT_EQ(second.code, 0);
  // Bob still holds his old secret key and the key agreed with it.
  EXPECT_EQ(Decode(*bob, second.data).code, -15);
  Advance(6);
  const CodecResult opened = Decode(*bob, second.data);
  ASSERT_EQ(opened.code, 0);
  EXPECT_EQ(opened.data, data);
}

TEST_F(CryptoCKeys, IncludePublicKeyWritesTheFileAndServesIt) {
  Sandbox other;
  other.AddUser("Dave", kGost94, false);
  const Bytes image = ReadFile(other.PublicKeyPath("Dave"));
  EXPECT_EQ(Encode(*alice, data, "Dave").code, -11);
  ASSERT_EQ(alice->IncludePublicKey(other.PublicKeyPath("Dave").c_str()), 0);
  const fs::path written = fs::path(box.AbonentsDir()) / "Dave.pub";
  EXPECT_EQ(ReadFile(written.string()), image);
  EXPECT_EQ(Encode(*alice, data, "Dave").code, 0);

  // Again, after Dave got new keys: the old file goes, the new one takes its name.
  other.AddUser("Dave", kGost2001, false);
  ASSERT_EQ(alice->IncludePublicKey(other.PublicKeyPath("Dave").c_str()), 0);
  EXPECT_EQ(ReadFile(written.string()), ReadFile(other.PublicKeyPath("Dave")));

  // A file of that name that belongs to somebody else is kept; the key gets a numbered name.
  fs::rename(written, fs::path(box.AbonentsDir()) / "keep.pub");
  fs::copy_file(box.PublishedPath("Bob"), written);
  other.AddUser("Dave", kGost2001, false);
  alice->ClearCash();
  ASSERT_EQ(alice->IncludePublicKey(other.PublicKeyPath("Dave").c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::path(box.AbonentsDir()) / "keep.pub"));
  EXPECT_EQ(ReadFile(written.string()), ReadFile(box.PublishedPath("Bob")));
  EXPECT_EQ(ReadFile((fs::path(box.AbonentsDir()) / "pk1.pub").string()), ReadFile(other.PublicKeyPath("Dave")));

  // A UID that is not a plain file name never names a file.
  other.AddUser("../x", kGost2001, false);
  ASSERT_EQ(alice->IncludePublicKey(other.PublicKeyPath("../x").c_str()), 0);
  EXPECT_TRUE(fs::exists(fs::path(box.AbonentsDir()) / "pk2.pub"));
  EXPECT_FALSE(fs::exists(fs::path(box.Root()) / "x.pub"));

  // Images the cache could not serve, and a directory that cannot be written.
  Bytes padded = image;
  padded.push_back(0);
  WriteFile(box.Root() + "/padded.pub", padded);
  EXPECT_EQ(alice->IncludePublicKey((box.Root() + "/padded.pub").c_str()), -11);
  WriteFile(box.Root() + "/huge.pub", Bytes(516, 'A'));
  EXPECT_EQ(alice->IncludePublicKey((box.Root() + "/huge.pub").c_str()), -11);
  EXPECT_EQ(alice->IncludePublicKey((box.Root() + "/none.pub").c_str()), -11);
  Configure(*alice, kAbonentsDir, box.Root() + "/missing");
  EXPECT_EQ(alice->IncludePublicKey(other.PublicKeyPath("Dave").c_str()), -31);
}

zk::platform::FileChange g_failing;
bool FailOneKindOfChange(zk::platform::FileChange change, const std::string&) { return change == g_failing; }

// Whatever stops an include, Dave's old key is still on disk and still serves, to this engine and
// to a fresh one.
TEST_F(CryptoCKeys, FailedIncludeLeavesTheOldKeyServing) {
  using Change = zk::platform::FileChange;
  box.AddUser("Dave");
  const Bytes old = ReadFile(box.PublishedPath("Dave"));
  Sandbox other;
  other.AddUser("Dave", kGost94, false);
  const fs::path named = fs::path(box.AbonentsDir()) / "Dave.pub";
  const std::vector<std::function<void()>> obstacles = {
      [] { g_failing = Change::Create; }, [] { g_failing = Change::Move; },
      // Both names the engine may pick taken by directories.
      [&] { fs::create_directory(named), fs::create_directory(fs::path(box.AbonentsDir()) / "pk1.pub"); },
  };
  for (size_t i = 0; i < obstacles.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(Encode(*alice, data, "Dave").code, 0);  // cached before the include
    obstacles[i]();
    zk::platform::SetFileFaultHookForTesting(i < 2 ? &FailOneKindOfChange : nullptr);
    EXPECT_EQ(alice->IncludePublicKey(other.PublicKeyPath("Dave").c_str()), -31);
    zk::platform::SetFileFaultHookForTesting(nullptr);
    EXPECT_EQ(ReadFile(box.PublishedPath("Dave")), old);
    EXPECT_EQ(Encode(*alice, data, "Dave").code, 0);
    alice->ClearCash();
    const CodecResult sealed = Encode(*alice, data, "Dave");
    ASSERT_EQ(sealed.code, 0);
    EXPECT_EQ(Decode(*box.Engine("Dave"), sealed.data).code, 0);
  }
  // With the way clear the new key takes over and the old file goes.
  fs::remove(named);
  fs::remove(fs::path(box.AbonentsDir()) / "pk1.pub");
  ASSERT_EQ(alice->IncludePublicKey(other.PublicKeyPath("Dave").c_str()), 0);
  EXPECT_FALSE(fs::exists(box.PublishedPath("Dave")));
  EXPECT_EQ(ReadFile(named.string()), ReadFile(other.PublicKeyPath("Dave")));
}

// UIDs of 250 to 254 characters: too long to name a file in a directory (MAX_PATH counts the whole
// path), so they get numbered files; including one again replaces the old file.
TEST_F(CryptoCKeys, LongestUidsAreIncludedAndReplaced) {
  for (size_t length : {250u, 254u}) {
    const std::string uid(length, 'L');
    Sandbox other;
    other.AddUser(uid, kGost2001, false);
    WriteFile(other.AbonentsDir() + "/alice.pub", ReadFile(box.PublishedPath("Alice")));
    ASSERT_EQ(alice->IncludePublicKey(other.PublicKeyPath(uid).c_str()), 0) << length;
    const CodecResult sealed = Encode(*alice, data, uid.c_str());
    ASSERT_EQ(sealed.code, 0);
    other.AddUser(uid, kGost94, false);
    ASSERT_EQ(alice->IncludePublicKey(other.PublicKeyPath(uid).c_str()), 0) << length;
    alice->ClearCash();
    const CodecResult again = Encode(*alice, data, uid.c_str());
    ASSERT_EQ(again.code, 0);
    EXPECT_EQ(Decode(*other.Engine(uid), again.data).code, 0);
  }
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(box.AbonentsDir())) files.insert(entry.path().filename().string());
  const std::set<std::string> expected = {"user1.pub", "user2.pub", "pk2.pub", "pk4.pub"};
  EXPECT_EQ(files, expected);  // the replaced files gone, no temporary left
}

TEST_F(CryptoCKeys, RemoveCertificateDeletesEveryFileOfTheUid) {
  const fs::path second = fs::path(box.AbonentsDir()) / "sub" / "bob2.pub";
  fs::create_directory(second.parent_path());
  fs::copy_file(box.PublishedPath("Bob"), second);
  ASSERT_EQ(Encode(*alice, data, "Bob").code, 0);
  ASSERT_EQ(alice->RemoveCertificate("Bob"), 0);
  EXPECT_FALSE(fs::exists(box.PublishedPath("Bob")));
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(fs::exists(box.PublishedPath("Alice")));
  EXPECT_EQ(Encode(*alice, data, "Bob").code, -11);
  // Engines with the same settings share the binding, and so the change.
  EXPECT_EQ(Encode(*box.Engine("Alice"), data, "Bob").code, -11);
  EXPECT_EQ(alice->RemoveCertificate("Bob"), 0);
}

TEST_F(CryptoCKeys, UpdateCertificateCashReadsTheDirectoryAgain) {
  // Not cached yet: the whole directory is read.
  EXPECT_EQ(alice->UpdateCertificateCash("Bob"), 0);
  EXPECT_EQ(alice->UpdateCertificateCash("Nobody"), -11);
  // Cached: the file is read again and its new key served.
  box.AddUser("Bob");
  auto newBob = box.Engine("Bob");
  const SignResult signature = Sign(*newBob, data);
  ASSERT_EQ(signature.code, 0);
  EXPECT_EQ(Verify(*alice, data, signature.signature).code, 5);
  ASSERT_EQ(alice->UpdateCertificateCash("Bob"), 0);
  EXPECT_EQ(Verify(*alice, data, signature.signature).code, 0);
  // Not cached, but now in the directory under its own name or any other.
  box.AddUser("Carol");
  ASSERT_EQ(alice->UpdateCertificateCash("Carol"), 0);
  EXPECT_EQ(Encode(*alice, data, "Carol").code, 0);
  // The cached file is gone: the directory is read again and the UID is not in it.
  fs::remove(box.PublishedPath("Carol"));
  EXPECT_EQ(alice->UpdateCertificateCash("Carol"), -11);
  EXPECT_EQ(Encode(*alice, data, "Carol").code, -11);
  Configure(*alice, kAbonentsDir, box.Root() + "/missing");
  EXPECT_EQ(alice->UpdateCertificateCash("Bob"), -11);
}

}  // namespace
}  // namespace cctest
