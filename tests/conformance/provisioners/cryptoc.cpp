// The Crypto-C engine over the stand-in libcrypt.dll: key files written by the stand-in, one
// shared correspondents' directory for alice, bob and carol; the stranger's public key is
// published nowhere.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"
#include "support/standin.h"

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

constexpr int kGost94 = 0;
constexpr int kGost2001 = 1;

class CryptoCProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "Crypto-C"; }
  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 100;
    caps.sender = zk::suite::SenderReport::kUntouched;
    caps.keyManagement = true;
    caps.signsEmptyData = false;
    caps.methodParam = "Encrypt Method";
    caps.methods = {"0", "1"};
    // Before the body the structure is broken; within it a shorter cipher text fails its MAC.
    caps.truncatedEnvelopeCode = [](int32_t code) { return code == -4 || code == -15; };
    // Refused as malformed, or checked and found bad (toolkit statuses 5 to 9).
    caps.truncatedSignatureCode = [](int32_t code) { return code == -14 || (code >= 5 && code <= 9); };
    caps.toolkit = "libcrypt.dll";
    caps.toolkitFolder = "libcrypt";
    caps.faultCode = 14;
    // Releasing a context wipes it whatever the status says.
    caps.survivable = {"CrypC_G28147_1989_block_clear", "CrypC_G28147_1989_gamma_clear",
                       "CrypC_G28147_1989_gamma_ofb_clear", "CrypC_G28147_1989_mac_clear", "CrypC_R34_11_1994_clear",
                       "CrypC_LR34_10_1994_clear", "CrypC_LR34_10_2001_clear", "CrypC_LDH_PKA_clear",
                       "CrypC_LR34_10_1994_clear_secret_key", "CrypC_LR34_10_2001_clear_secret_key",
                       "CrypC_LR34_10_1994_clear_public_key", "CrypC_LR34_10_2001_clear_public_key",
                       "CrypC_LDH_PKA_clear_secret_key", "CrypC_LDH_PKA_clear_public_key"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    fs::create_directories(Dir("abonents"));
    fs::create_directories(Dir("ca"));
    fs::create_directories(Dir("nobody"));
    for (const char* user : {"alice", "bob", "carol"}) AddUser(user, Uid(user), kGost2001, Dir("abonents"));
    AddUser("stranger", Uid("stranger"), kGost2001, "");
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    zk::suite::ConfigureByName(engine, "User PKey/Certificate", PublicPath(user));
    zk::suite::ConfigureByName(engine, "User Secret key", SecretPath(user));
    zk::suite::ConfigureByName(engine, "Abonents dir", user == "stranger" ? Dir("nobody") : Dir("abonents"));
    zk::suite::ConfigureByName(engine, "CA dir", Dir("ca"));
  }

  std::string Uid(const std::string& user) const override {
    static const std::map<std::string, std::string> uids = {
        {"alice", "Alice"}, {"bob", "Bob"}, {"carol", "Carol"}, {"stranger", "Stranger"}};
    const auto it = uids.find(user);
    return it != uids.end() ? it->second : user;
  }

  // GOST R 34.10-94 keys are the larger ones; UIDs of 254 characters, the most a file holds.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) {
      const std::string uid = std::string(250, 'C') + std::to_string(1000 + i);
      AddUser("big" + std::to_string(i), uid, kGost94, Dir("abonents"));
      uids.push_back(uid);
    }
    return uids;
  }

  std::string PublicKeyFile(const std::string& user) const override { return PublicPath(user); }
  std::vector<std::string> UserFiles(const std::string& user) const override {
    return {SecretPath(user), PublicPath(user)};
  }

 private:
  std::string Dir(const std::string& name) const { return (fs::path(root_) / name).string(); }
  std::string PublicPath(const std::string& user) const { return (fs::path(root_) / user / "self.pub").string(); }
  std::string SecretPath(const std::string& user) const { return (fs::path(root_) / user / "self.sec").string(); }

  void AddUser(const std::string& user, const std::string& uid, int type, const std::string& publishTo) {
    static const zk::suite::StandInControl toolkit("libcrypt.dll");
    using WriteKeyFiles = int (*)(int, const char*, const char*, const char*);
    const auto write = reinterpret_cast<WriteKeyFiles>(toolkit.Symbol("CrypC_StandIn_WriteKeyFiles"));
    ASSERT_NE(write, nullptr);
    fs::create_directories(fs::path(root_) / user);
    ASSERT_EQ(write(type, uid.c_str(), SecretPath(user).c_str(), PublicPath(user).c_str()), 0) << user;
    if (!publishTo.empty()) zk::suite::CopyFileBytes(PublicPath(user), (fs::path(publishTo) / (user + ".pub")).string());
  }
};

}  // namespace

ZK_SUITE_PROVISIONER(CryptoC, CryptoCProvisioner);
