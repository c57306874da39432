// The CryptoCom 3.x engine over the stand-in ccom.dll: a PSE and a public-key file per user made by
// the stand-in, and a correspondents' directory per user holding the others' public keys.
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

const char* const kKnownUsers[] = {"alice", "bob", "carol"};

class Ccom3xProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "CryptoCom 32x"; }
  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 100;
    caps.sender = zk::suite::SenderReport::kUntouched;
    caps.keyManagement = true;
    caps.methodParam = "Encrypt Method";
    caps.methods = {"GAMMA", "GFB"};
    // Cut before the cipher text the structure does not fit (-15); inside it the body MAC fails (-18).
    caps.truncatedEnvelopeCode = [](int32_t code) { return code == -15 || code == -18; };
    caps.truncatedSignatureCode = [](int32_t code) { return code == -12; };
    caps.toolkit = "ccom.dll";
    caps.toolkitFolder = "ccom";
    caps.faultCode = 11;
    // Release calls still release; the scripted code only lands in the last error. A generator
    // reported as not seeded is seeded again from the PSE.
    caps.survivable = {"PSE_rand_inited", "GOSTE_free", "GOSTH_free", "ECGOST_SIGN_free", "ECGOST_DH_free", "PSE_CTX_free",
                       "CADB_close", "ERR_get_last_error", "ERR_set_last_error"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    for (const char* user : kKnownUsers) MakeUser(SecretDir(user), PublicPath(user), Uid(user));
    MakeUser(SecretDir("stranger"), PublicPath("stranger"), Uid("stranger"));
    for (const char* holder : kKnownUsers) {
      fs::create_directories(AbonentsDir(holder));
      for (const char* owner : kKnownUsers) {
        if (std::string(holder) != owner) Give(holder, PublicPath(owner), std::string(owner) + ".pub");
      }
    }
    fs::create_directories(AbonentsDir("stranger"));
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    zk::suite::ConfigureByName(engine, "User PKey/Certificate", PublicPath(user));
    zk::suite::ConfigureByName(engine, "User Secret key", SecretDir(user));
    zk::suite::ConfigureByName(engine, "Abonents dir", AbonentsDir(user));
  }

  std::string Uid(const std::string& user) const override {
    static const std::map<std::string, std::string> uids = {
        {"alice", "Alice UID"}, {"bob", "Bob UID"}, {"carol", "Carol UID"}, {"stranger", "Stranger UID"}};
    const auto it = uids.find(user);
    return it != uids.end() ? it->second : user;
  }

  // UIDs of 254 characters, the longest a public-key file holds; the keys share one PSE.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    const std::string pse = (fs::path(root_) / "many" / "SK").string();
    for (int i = 0; i < count; ++i) {
      const std::string uid = std::string(250, 'K') + std::to_string(1000 + i);
      const std::string file = (fs::path(root_) / "many" / (std::to_string(i) + ".pub")).string();
      MakeUser(pse, file, uid);
      for (const char* holder : kKnownUsers) Give(holder, file, "big" + std::to_string(i) + ".pub");
      uids.push_back(uid);
    }
    return uids;
  }

  std::string PublicKeyFile(const std::string& user) const override { return PublicPath(user); }
  std::vector<std::string> UserFiles(const std::string& user) const override {
    return {PublicPath(user), (fs::path(SecretDir(user)) / "KEYS" / "1.sec").string(),
            (fs::path(SecretDir(user)) / "mkey.pse").string()};
  }

 private:
  std::string UserDir(const std::string& user) const { return (fs::path(root_) / user).string(); }
  std::string PublicPath(const std::string& user) const { return (fs::path(UserDir(user)) / "self.pub").string(); }
  std::string SecretDir(const std::string& user) const { return (fs::path(UserDir(user)) / "SK").string(); }
  std::string AbonentsDir(const std::string& user) const { return (fs::path(UserDir(user)) / "ABONENTS").string(); }

  void Give(const std::string& holder, const std::string& file, const std::string& name) const {
    zk::suite::CopyFileBytes(file, (fs::path(AbonentsDir(holder)) / name).string());
  }

  static void MakeUser(const std::string& secretDir, const std::string& publicFile, const std::string& uid) {
    static const zk::suite::StandInControl toolkit("ccom.dll");
    using MakeUserFn = int (*)(const char*, const char*, const char*, const char*);
    const auto make = reinterpret_cast<MakeUserFn>(toolkit.Symbol("CCOM_StandIn_MakeUser"));
    ASSERT_NE(make, nullptr);
    ASSERT_EQ(make(secretDir.c_str(), publicFile.c_str(), uid.c_str(), "conformance user"), 1) << uid;
  }
};

}  // namespace

ZK_SUITE_PROVISIONER(CryptoCom3x, Ccom3xProvisioner);
