// The Excellence 4.0 engine over the stand-in cryst.dll: each user's key generations written by
// the stand-in under an empty password (so no prompt is needed), one shared public-key directory
// for alice, bob and carol; the stranger's public key is in nobody's directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"
#include "support/standin.h"

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

class ExcellenceProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "Excellence/4.0"; }
  Capabilities Caps() const override {
    Capabilities caps;
    // Eight key entries fit in 400 bytes of growth, and the sender always has one.
    caps.maxRecipients = 7;
    caps.sender = zk::suite::SenderReport::kUid;
    caps.keyManagement = true;
    caps.signsEmptyData = false;
    caps.toolkit = "cryst.dll";
    caps.toolkitFolder = "cryst";
    caps.faultCode = 14;
    // Releases, and calls whose answer the binding does not read.
    caps.survivable = {"CryptoFreeMemory", "FreeCryptoStatus", "EndCrypto", "CloseCrypto", "ReadSettingsFrom",
                       "CryptoGetLastError", "GetCryptoMessage", "MakeCryptoMessage"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    fs::create_directories(Dir("public"));
    fs::create_directories(Dir("nobody"));
    int number = 1;
    for (const char* user : {"alice", "bob", "carol"}) AddUser(user, Uid(user), number++);
    AddUser("stranger", Uid("stranger"), 0);
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    zk::suite::ConfigureByName(engine, "Secret key directory", SecretDir(user));
    zk::suite::ConfigureByName(engine, "Public key directory", user == "stranger" ? Dir("nobody") : Dir("public"));
  }

  std::string Uid(const std::string& user) const override {
    static const std::map<std::string, std::string> uids = {
        {"alice", "ALICE"}, {"bob", "BOB"}, {"carol", "CAROL"}, {"stranger", "STRANGER"}};
    const auto it = uids.find(user);
    return it != uids.end() ? it->second : user;
  }

  // UIDs of 16 characters, the most the toolkit keeps; all keys are of one size.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) {
      const std::string uid = "CORRESPONDENT" + std::to_string(100 + i);
      AddUser("big" + std::to_string(i), uid, next_++);
      uids.push_back(uid);
    }
    return uids;
  }

  std::string PublicKeyFile(const std::string& user) const override { return PublicPath(user); }
  std::vector<std::string> UserFiles(const std::string& user) const override {
    return {(fs::path(SecretDir(user)) / "exc001.key").string(), PublicPath(user)};
  }

 private:
  std::string Dir(const std::string& name) const { return (fs::path(root_) / name).string(); }
  std::string SecretDir(const std::string& user) const { return (fs::path(root_) / user / "SECRET").string(); }
  std::string PublicPath(const std::string& user) const { return (fs::path(root_) / (user + ".pub")).string(); }

  // Number 0: published nowhere. Otherwise the public-key file goes into the shared directory
  // under that user number, as an import would file it (toolkits/cryst/README.md).
  void AddUser(const std::string& user, const std::string& uid, int number) {
    static const zk::suite::StandInControl toolkit("cryst.dll");
    using MakeUser = int (*)(const char*, const char*, const char*, const char*);
    const auto make = reinterpret_cast<MakeUser>(toolkit.Symbol("EXC_StandIn_MakeUser"));
    ASSERT_NE(make, nullptr);
    ASSERT_EQ(make(SecretDir(user).c_str(), uid.c_str(), "", PublicPath(user).c_str()), 0) << user;
    if (number == 0) return;
    char name[32];
    std::snprintf(name, sizeof(name), "u%04dg001.pub", number);
    zk::suite::CopyFileBytes(PublicPath(user), (fs::path(Dir("public")) / name).string());
  }

  int next_ = 4;
};

}  // namespace

ZK_SUITE_PROVISIONER(Excellence, ExcellenceProvisioner);
