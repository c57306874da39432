// The Crypto COM 2.2 engine over the stand-in cc.dll: one authority issues every user's key; each
// user has a certificate directory (one level per UID character) holding the others'
// certificates, a secret-key directory with the key and the authority's key, and a random file.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"
#include "support/standin.h"

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

const char* const kKnownUsers[] = {"alice", "bob", "carol"};

class Ccom22Provisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "Crypto COM/2.2"; }
  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 14;  // the package outgrows GetMaxEncodeAddition from 15
    caps.sender = zk::suite::SenderReport::kUntouched;
    caps.signsEmptyData = false;  // data of length 0 is refused with 110
    caps.encryptsEmptyData = false;
    caps.toolkit = "cc.dll";
    caps.toolkitFolder = "cc";
    caps.faultCode = -57;
    // Release calls still release; a seed that did not take, or a generator that could not be
    // stirred while keys are loaded, leaves the operation's own seeding to succeed.
    caps.survivable = {"FreeCryptCtx", "FreeCertInfo", "FreeSecInfo", "BufferFree", "BufferCleanFree",
                       "FreeRand",     "RandSeed",     "InitRand",    "GetRandom"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    fs::create_directories(fs::path(root) / "authority");
    static const zk::suite::StandInControl toolkit("cc.dll");
    makeUser_ = reinterpret_cast<MakeUserFn>(toolkit.Symbol("CC_StandIn_MakeUser"));
    const auto makeAuthority = reinterpret_cast<MakeAuthorityFn>(toolkit.Symbol("CC_StandIn_MakeAuthority"));
    const auto makeRandom = reinterpret_cast<MakeRandomFn>(toolkit.Symbol("CC_StandIn_MakeRandomFile"));
    ASSERT_TRUE(makeUser_ != nullptr && makeAuthority != nullptr && makeRandom != nullptr);
    ASSERT_EQ(makeAuthority((fs::path(root) / "authority").string().c_str(), 1, authority_), 0);
    int32_t number = 1;
    for (const char* user : {"alice", "bob", "carol", "stranger"}) {
      fs::create_directories(CertDir(user));
      ASSERT_EQ(makeRandom((fs::path(UserDir(user)) / "rand").string().c_str(), 2048), 0);
      Issue(Uid(user), number++, CertDir(user), SecretDir(user), SelfCert(user));
    }
    for (const char* holder : kKnownUsers) {
      for (const char* owner : kKnownUsers) {
        if (std::string(holder) != owner) Place(holder, Uid(owner), SelfCert(owner));
      }
    }
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    zk::suite::ConfigureByName(engine, "Current dir", UserDir(user));
    zk::suite::ConfigureByName(engine, "Secret Path", SecretDir(user));
    zk::suite::ConfigureByName(engine, "Public Path", CertDir(user));
    zk::suite::ConfigureByName(engine, "User Id", Uid(user));
    zk::suite::ConfigureByName(engine, "Random file", (fs::path(UserDir(user)) / "rand").string());
    zk::suite::ConfigureByName(engine, "Current user certificate", SelfCert(user));
    // Key files are read for every operation, so that changes on disk show at once.
    zk::suite::ConfigureByName(engine, "Key request time out", "0");
  }

  std::string Uid(const std::string& user) const override { return user + ".1"; }

  // UIDs of 31 characters, the longest a signer block or package slot holds.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    const fs::path many = fs::path(root_) / "many";
    fs::create_directories(many / "sec");
    for (int i = 0; i < count; ++i) {
      std::string uid = "Big" + std::to_string(1000 + i) + ".";
      uid += std::string(31 - uid.size(), 'x');
      const std::string file = (many / (std::to_string(i) + ".crt")).string();
      Issue(uid, 100 + i, std::string(), (many / "sec").string(), file);
      for (const char* holder : kKnownUsers) Place(holder, uid, file);
      uids.push_back(uid);
    }
    return uids;
  }

  // Keys and certificates; the random files are stirred and written back by design.
  std::vector<std::string> KeptFiles() const override {
    std::vector<std::string> kept;
    for (const std::string& file : Provisioner::KeptFiles()) {
      if (fs::path(file).filename() != "rand") kept.push_back(file);
    }
    return kept;
  }

  std::vector<std::string> UserFiles(const std::string& user) const override {
    const int32_t number = user == "alice" ? 1 : user == "bob" ? 2 : user == "carol" ? 3 : 4;
    return {SelfCert(user), (fs::path(SecretDir(user)) / (std::to_string(number) + ".sec")).string()};
  }

 private:
  using MakeUserFn = int (*)(const char*, int32_t, const char*, int32_t, int64_t, int64_t, const char*, const char*,
                             const char*);
  using MakeAuthorityFn = int (*)(const char*, int32_t, char*);
  using MakeRandomFn = int (*)(const char*, int32_t);

  std::string UserDir(const std::string& user) const { return (fs::path(root_) / user).string(); }
  std::string CertDir(const std::string& user) const { return (fs::path(UserDir(user)) / "crt").string(); }
  std::string SecretDir(const std::string& user) const { return (fs::path(UserDir(user)) / "sec").string(); }
  std::string SelfCert(const std::string& user) const { return (fs::path(UserDir(user)) / "self.crt").string(); }

  void Issue(const std::string& uid, int32_t number, const std::string& certDir, const std::string& secretDir,
             const std::string& selfCrt) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    ASSERT_EQ(makeUser_(authority_, 1, uid.c_str(), number, now - 86400, now + 365 * 86400, certDir.c_str(),
                        secretDir.c_str(), selfCrt.c_str()),
              0)
        << uid;
  }

  // The certificate at the UID's place in the holder's directory: "<head>/@/<c1>/.../<cn>.crt".
  void Place(const std::string& holder, const std::string& uid, const std::string& file) const {
    const size_t dot = uid.find('.');
    fs::path target = fs::path(CertDir(holder)) / uid.substr(0, dot) / "@";
    for (size_t i = dot + 1; i + 1 < uid.size(); ++i) target /= std::string(1, uid[i]);
    target /= std::string(1, uid.back()) + ".crt";
    fs::create_directories(target.parent_path());
    zk::suite::CopyFileBytes(file, target.string());
  }

  MakeUserFn makeUser_ = nullptr;
  char authority_[65] = {};
};

}  // namespace

ZK_SUITE_PROVISIONER(CryptoCom22, Ccom22Provisioner);
