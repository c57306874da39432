// The LAN Crypto engine over the stand-in ct512.dll: key files per user made by the stand-in, and
// per user a signature vault and an encryption vault holding the others' public keys. Keys have an
// empty password, so no prompt is needed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/calls.h"
#include "support/provisioner.h"
#include "support/standin.h"

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

const char* const kKnownUsers[] = {"alice", "bob", "carol"};

class LanCryptoProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "LAN Crypto/2.35"; }
  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 1;
    // The envelope body carries no MAC of its own (the toolkit's format): a changed body byte
    // changes the plain text.
    caps.authenticatedEnvelope = false;
    // DecodeData names the sender as "$" and the UID.
    caps.sender = zk::suite::SenderReport::kUid;
    caps.signsEmptyData = false;
    caps.encryptsEmptyData = false;
    caps.blockSize = 8;
    // IncludePublicKey fills the signature vault only, so a correspondent included by a host
    // cannot be encrypted for: the suite's key-management round does not apply.
    caps.keyManagement = false;
    caps.toolkit = "ct512.dll";
    caps.toolkitFolder = "ct512";
    caps.faultCode = -7;
    // Destructors release whatever they answer; a fill answering something unexpected is tried
    // again.
    caps.survivable = {"CTN_SignDestructor", "CTV_VestaDestructor", "CTN_FillPrivateKeyStructure",
                       "CTV_FillPrivateKeyStructure"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    for (const char* user : kKnownUsers) MakeUser(user, Uid(user), ShortName(user));
    MakeUser("stranger", Uid("stranger"), "STRANGE");
    for (const char* holder : kKnownUsers) {
      for (const char* owner : kKnownUsers) Give(holder, Path(owner, "full.pub"));
    }
    Give("stranger", Path("stranger", "full.pub"));
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    zk::suite::ConfigureByName(engine, "Sign private key", Path(user, "sign0000.000"));
    zk::suite::ConfigureByName(engine, "Sign vault", Path(user, "not512.vlt"));
    zk::suite::ConfigureByName(engine, "Sign UID", Uid(user));
    zk::suite::ConfigureByName(engine, "Encrypt private key", Path(user, "priv0000.000"));
    zk::suite::ConfigureByName(engine, "Encrypt vault", Path(user, "ves512.vlt"));
    zk::suite::ConfigureByName(engine, "Encrypt UID", Uid(user));
  }

  std::string Uid(const std::string& user) const override {
    static const std::map<std::string, std::string> uids = {
        {"alice", "Alice UID"}, {"bob", "Bob UID"}, {"carol", "Carol UID"}, {"stranger", "Stranger UID"}};
    const auto it = uids.find(user);
    return it != uids.end() ? it->second : user;
  }

  // UIDs of 22 characters, the longest a key holds.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) {
      const std::string name = "big" + std::to_string(i);
      const std::string uid = std::string(17, 'K') + std::to_string(10000 + i);
      MakeUser(name, uid, "K" + std::to_string(i));
      for (const char* holder : kKnownUsers) Give(holder, Path(name, "full.pub"));
      uids.push_back(uid);
    }
    return uids;
  }

  std::vector<std::string> UserFiles(const std::string& user) const override {
    return {Path(user, "sign0000.000"), Path(user, "priv0000.000"), Path(user, "not512.vlt"), Path(user, "ves512.vlt")};
  }

 private:
  std::string Path(const std::string& user, const char* file) const {
    return (fs::path(root_) / user / file).string();
  }
  static std::string ShortName(const std::string& user) { return user.substr(0, 7); }

  static const zk::suite::StandInControl& Toolkit() {
    static const zk::suite::StandInControl toolkit("ct512.dll");
    return toolkit;
  }

  void MakeUser(const std::string& user, const std::string& uid, const std::string& shortName) const {
    fs::create_directories(fs::path(root_) / user);
    using MakeUserFn = int (*)(const char*, const char*, const char*, const char*, const char*, const char*,
                               const char*, int);
    const auto make = reinterpret_cast<MakeUserFn>(Toolkit().Symbol("CT_StandIn_MakeUser"));
    ASSERT_NE(make, nullptr);
    ASSERT_EQ(make(uid.c_str(), shortName.c_str(), "", Path(user, "sign0000.000").c_str(),
                   Path(user, "priv0000.000").c_str(), nullptr, Path(user, "full.pub").c_str(), 0),
              0)
        << uid;
  }

  void Give(const std::string& holder, const std::string& fullPub) const {
    using AddFn = int (*)(const char*, const char*);
    const auto sign = reinterpret_cast<AddFn>(Toolkit().Symbol("CT_StandIn_AddToSignVault"));
    const auto vesta = reinterpret_cast<AddFn>(Toolkit().Symbol("CT_StandIn_AddToEncryptVault"));
    ASSERT_TRUE(sign != nullptr && vesta != nullptr);
    ASSERT_EQ(sign(fullPub.c_str(), Path(holder, "not512.vlt").c_str()), 0) << holder;
    ASSERT_EQ(vesta(fullPub.c_str(), Path(holder, "ves512.vlt").c_str()), 0) << holder;
  }
};

}  // namespace

ZK_SUITE_PROVISIONER(LanCrypto, LanCryptoProvisioner);
