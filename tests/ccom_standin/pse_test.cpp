// Provisioning, the public-key file, the PSE directory and the opaque keys, and the generator that
// reading a PSE starts.
#include <cstring>
#include <filesystem>
#include <string>

#include "ccom_fixture.h"
#include "utils/temp_dir.h"

namespace ccomtest {
namespace {

namespace fs = std::filesystem;

class CcomPse : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Ccom().StandIn_Control("reset"), 0); }
  fs::path Root() const { return fs::path(temp_.Dir()); }
  Toolkit& kit = Ccom();
  zk::test::TempDir temp_;
};

TEST_F(CcomPse, MadeUserHasAWellFormedSelfSignedPublicKeyFile) {
  const User user = MakeUser(Root(), "alice", "Alice, accounts");
  const PublicFile f = ParsePublicFile(ReadBytes(user.publicFile));
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.text, "\r\nalice\r\nAlice, accounts\r\n");
  EXPECT_EQ(f.algorithm, 1u);
  ASSERT_EQ(f.keyLen, 65u);
  EXPECT_EQ(f.key[0], 0x04);
  ASSERT_EQ(f.signatureLen, 64u);

  const Bytes covered(f.raw.begin(), f.raw.begin() + static_cast<std::ptrdiff_t>(f.signedLen));
  EXPECT_EQ(Verify(f.key, covered, f.signature), 1);

  // Any flipped byte of what is signed, or of the signature, breaks it.
  for (size_t at : {size_t{0}, size_t{5}, size_t{10}, f.signedLen - 70, f.signedLen - 1}) {
    Bytes changed = covered;
    changed[at] ^= 0x01;
    int error = 0;
    EXPECT_EQ(Verify(f.key, changed, f.signature, &error), 0) << at;
    EXPECT_EQ(error, zk::ccom3x::kErrBadSignature) << at;
  }
  for (size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{63}}) {
    Bytes signature = f.signature;
    signature[at] ^= 0x80;
    EXPECT_EQ(Verify(f.key, covered, signature), 0) << at;
  }
}

TEST_F(CcomPse, PublicKeyFileTextLimits) {
  const std::string uid254(254, 'u'), desc734(734, 'd');
  const fs::path longest = Root() / "longest.pub";
  ASSERT_EQ(kit.CCOM_StandIn_MakeUser(Native(Root() / "longest").c_str(), Native(longest).c_str(), uid254.c_str(),
                                      desc734.c_str()),
            1);
  const PublicFile f = ParsePublicFile(ReadBytes(longest));
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.raw.size(), 1143u);  // the largest file the adapter accepts
  EXPECT_EQ(f.text, "\r\n" + uid254 + "\r\n" + desc734 + "\r\n");
  EXPECT_EQ(Verify(f.key, Bytes(f.raw.begin(), f.raw.begin() + static_cast<std::ptrdiff_t>(f.signedLen)), f.signature),
            1);

  const std::string secret = Native(Root() / "limits_secret");
  const std::string pub = Native(Root() / "limits.pub");
  struct Case {
    std::string uid, description;
  };
  const Case refused[] = {
      {std::string(255, 'u'), "d"}, {"u", std::string(735, 'd')}, {"", "d"}, {"a\r\nb", "d"}, {"u", "line\nbreak"}};
  for (const Case& c : refused) {
    kit.ERR_set_last_error(0);
    EXPECT_EQ(kit.CCOM_StandIn_MakeUser(secret.c_str(), pub.c_str(), c.uid.c_str(), c.description.c_str()), 0)
        << c.uid.size() << "/" << c.description.size();
    EXPECT_EQ(kit.ERR_get_last_error(), 1);
  }
  EXPECT_FALSE(fs::exists(pub));
  EXPECT_EQ(kit.CCOM_StandIn_MakeUser(nullptr, pub.c_str(), "u", "d"), 0);
}

TEST_F(CcomPse, AdapterSequenceUnwrapsTheKeyThatMatchesThePublicFile) {
  const User user = MakeUser(Root(), "bob");
  const User second = [&] {  // a second key in the same PSE
    User u = user;
    u.publicFile = Root() / "pub" / "bob2.pub";
    EXPECT_EQ(kit.CCOM_StandIn_MakeUser(Native(u.secretDir).c_str(), Native(u.publicFile).c_str(), "bob", "again"), 1);
    return u;
  }();
  ASSERT_TRUE(fs::exists(user.secretDir / "KEYS" / "1.sec"));
  ASSERT_TRUE(fs::exists(user.secretDir / "KEYS" / "2.sec"));
  EXPECT_EQ(fs::file_size(user.secretDir / "KEYS" / "1.sec"), 36u);

  for (int n : {1, 2}) {
    PseCtx working;
    ASSERT_EQ(ReadKey(user.secretDir, user.secretDir / "KEYS" / (std::to_string(n) + ".sec"), working), 1);
    CCOM_PSE* key = kit.PSE_CTX_get_pse(working.get());
    ASSERT_NE(key, nullptr);
    Bytes derived(65);
    ASSERT_EQ(kit.ECGOST_generate_public_key(key, derived.data()), 1);
    const PublicFile f = ParsePublicFile(ReadBytes(n == 1 ? user.publicFile : second.publicFile));
    EXPECT_EQ(derived, f.key) << n;
    const Bytes message = {'p', 'a', 'y', 0, 1, 2};
    EXPECT_EQ(Verify(f.key, message, Sign(key, message)), 1) << n;
  }
}

TEST_F(CcomPse, DirectoryPathsWithATrailingSeparatorAndTheirSecrets) {
  const User user = MakeUser(Root(), "carol");
  for (const std::string suffix : {"", "/", "\\"}) {
#if !defined(_WIN32)
    if (suffix == "\\") continue;  // not a separator here
#endif
    PseCtx ctx;
    ASSERT_EQ(kit.PSE_CTX_set_path(ctx.get(), (Native(user.secretDir) + suffix).c_str()), 1);
    EXPECT_EQ(kit.PSE_CTX_read(ctx.get()), 1) << suffix << " " << kit.ERR_get_last_error();
    // A PSE directory holds no key of its own.
    EXPECT_EQ(kit.PSE_CTX_get_pse(ctx.get()), nullptr);
    EXPECT_EQ(kit.ERR_get_last_error(), 8);
  }
  // Two reads give the same secrets; another PSE has others.
  const User other = MakeUser(Root(), "dave");
  auto secrets = [&](const User& u) {
    PseCtx ctx;
    kit.PSE_CTX_set_path(ctx.get(), Native(u.secretDir).c_str());
    EXPECT_EQ(kit.PSE_CTX_read(ctx.get()), 1);
    Bytes all(160);
    EXPECT_EQ(kit.PSE_CTX_get_mkey(ctx.get(), all.data()), 1);
    EXPECT_EQ(kit.PSE_CTX_get_masks(ctx.get(), all.data() + 32), 1);
    EXPECT_EQ(kit.PSE_CTX_get_kek(ctx.get(), all.data() + 64), 1);
    EXPECT_EQ(kit.PSE_CTX_get_rand(ctx.get(), all.data() + 96), 1);
    return all;
  };
  EXPECT_EQ(secrets(user), secrets(user));
  const Bytes a = secrets(user), b = secrets(other);
  for (size_t part = 0; part < 160; part += 32)
    EXPECT_NE(Bytes(a.begin() + part, a.begin() + part + 32), Bytes(b.begin() + part, b.begin() + part + 32)) << part;
}

TEST_F(CcomPse, MissingOrDamagedPseIsRefused) {
  const User user = MakeUser(Root(), "erin");
  auto readDir = [&](const fs::path& dir) {
    PseCtx ctx;
    kit.PSE_CTX_set_path(ctx.get(), Native(dir).c_str());
    kit.ERR_set_last_error(0);
    return kit.PSE_CTX_read(ctx.get()) == 1 ? 0 : kit.ERR_get_last_error();
  };
  EXPECT_EQ(readDir(user.secretDir), 0);
  EXPECT_EQ(readDir(Root() / "nowhere"), 25);
  fs::create_directories(Root() / "empty");
  EXPECT_EQ(readDir(Root() / "empty"), 5);

  for (const char* name : {"mkey.pse", "masks.pse", "kek.pse", "rand.pse"}) {
    const fs::path file = user.secretDir / name;
    const Bytes original = ReadBytes(file);
    ASSERT_FALSE(original.empty()) << name;
    for (size_t at : {size_t{0}, size_t{4}, original.size() - 1}) {
      Bytes damaged = original;
      damaged[at] ^= 0x10;
      WriteBytes(file, damaged);
      EXPECT_EQ(readDir(user.secretDir), 5) << name << " byte " << at;
    }
    Bytes shorter(original.begin(), original.end() - 1);
    WriteBytes(file, shorter);
    EXPECT_EQ(readDir(user.secretDir), 5) << name << " shortened";
    fs::remove(file);
    EXPECT_EQ(readDir(user.secretDir), 5) << name << " missing";
    // Provisioning does not overwrite a damaged PSE.
    EXPECT_EQ(kit.CCOM_StandIn_MakeUser(Native(user.secretDir).c_str(), Native(Root() / "x.pub").c_str(), "x", ""), 0);
    EXPECT_EQ(kit.ERR_get_last_error(), 5);
    WriteBytes(file, original);
    EXPECT_EQ(readDir(user.secretDir), 0) << name << " restored";
  }
}

TEST_F(CcomPse, KeyFilesOfWrongSizeAlteredOrFromAnotherPseAreRefused) {
  const User user = MakeUser(Root(), "frank");
  const User stranger = MakeUser(Root(), "grace");
  const fs::path keyFile = user.secretDir / "KEYS" / "1.sec";
  const Bytes original = ReadBytes(keyFile);
  ASSERT_EQ(original.size(), 36u);
  const fs::path probe = Root() / "probe.sec";

  auto readKey = [&](const Bytes& content) {
    WriteBytes(probe, content);
    PseCtx working;
    int error = 0;
    const int result = ReadKey(user.secretDir, probe, working, &error);
    if (result == 1) {
      EXPECT_NE(kit.PSE_CTX_get_pse(working.get()), nullptr);
    }
    return result == 1 ? 0 : error;
  };
  EXPECT_EQ(readKey(original), 0);
  EXPECT_EQ(readKey(Bytes(original.begin(), original.end() - 1)), 8);
  Bytes longer = original;
  longer.push_back(0);
  EXPECT_EQ(readKey(longer), 8);
  EXPECT_EQ(readKey({}), 8);
  for (size_t at : {size_t{0}, size_t{17}, size_t{31}, size_t{32}, size_t{35}}) {
    Bytes altered = original;
    altered[at] ^= 0x04;
    EXPECT_EQ(readKey(altered), 8) << at;
  }
  EXPECT_EQ(readKey(ReadBytes(stranger.secretDir / "KEYS" / "1.sec")), 8);

  // No secrets set: the key file alone cannot be read.
  PseCtx bare;
  kit.PSE_CTX_set_path(bare.get(), Native(keyFile).c_str());
  EXPECT_EQ(kit.PSE_CTX_read(bare.get()), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 1);
  EXPECT_EQ(kit.PSE_CTX_get_pse(bare.get()), nullptr);
  unsigned char out[64];
  EXPECT_EQ(kit.PSE_CTX_get_mkey(bare.get(), out), 0);
  EXPECT_EQ(kit.PSE_CTX_get_rand(bare.get(), out), 0);

  // A failed read drops the key read before: its handle no longer signs.
  PseCtx working;
  ASSERT_EQ(ReadKey(user.secretDir, keyFile, working), 1);
  CCOM_PSE* key = kit.PSE_CTX_get_pse(working.get());
  ASSERT_NE(key, nullptr);
  Bytes bad = original;
  bad[3] ^= 1;
  WriteBytes(probe, bad);
  kit.PSE_CTX_set_path(working.get(), Native(probe).c_str());
  EXPECT_EQ(kit.PSE_CTX_read(working.get()), 0);
  EXPECT_EQ(kit.PSE_CTX_get_pse(working.get()), nullptr);
  EXPECT_TRUE(Sign(key, {1, 2, 3}).empty());
  EXPECT_EQ(kit.ERR_get_last_error(), 8);
}

TEST_F(CcomPse, GeneratorWorksOnlyAfterAPseWasRead) {
  // Before any PSE was read in this process (asked before the first test).
  EXPECT_EQ(AtStart().randInited, 0);
  EXPECT_EQ(AtStart().randBytes, 0);
  EXPECT_EQ(AtStart().randError, zk::ccom3x::kErrRandNotInited);

  const User user = MakeUser(Root(), "heidi");
  PseCtx ctx;
  kit.PSE_CTX_set_path(ctx.get(), Native(user.secretDir).c_str());
  ASSERT_EQ(kit.PSE_CTX_read(ctx.get()), 1);
  EXPECT_EQ(kit.PSE_rand_inited(), 1);

  Bytes a(100, 0), b(100, 0);
  ASSERT_EQ(kit.RAND_bytes(a.data(), 100), 1);
  ASSERT_EQ(kit.RAND_bytes(b.data(), 100), 1);
  EXPECT_NE(a, Bytes(100, 0));
  EXPECT_NE(a, b);
  // Exactly the bytes asked for.
  Bytes guarded(10, 0xA5);
  ASSERT_EQ(kit.RAND_bytes(guarded.data() + 1, 8), 1);
  EXPECT_EQ(guarded.front(), 0xA5);
  EXPECT_EQ(guarded.back(), 0xA5);
  EXPECT_EQ(kit.RAND_bytes(a.data(), 0), 1);
  EXPECT_EQ(kit.RAND_bytes(a.data(), -1), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 1);

  ASSERT_EQ(kit.StandIn_Control("answer RAND_bytes 6 1"), 0);
  EXPECT_EQ(kit.RAND_bytes(a.data(), 8), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 6);
  EXPECT_EQ(kit.RAND_bytes(a.data(), 8), 1);
}

}  // namespace
}  // namespace ccomtest
