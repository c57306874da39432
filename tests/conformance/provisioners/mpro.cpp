// The three Message-PRO engines over their plug-in stand-ins (mplug.dll, mplugf.dll, mplug2.dll):
// one authority issues the known users' certificates, which lie together in one certificate
// directory; the stranger's authority is one nobody else trusts, and its certificate lies apart.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/calls.h"
#include "support/provisioner.h"
#include "support/standin.h"

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

const char* const kKnownUsers[] = {"alice", "bob", "carol"};

template <int Kind>
class MProProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override {
    const char* const types[] = {"Message-PRO 1.1", "M-Pro v1.34 (GOST PSE)", "M-Pro v2.x"};
    return types[Kind];
  }

  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 10;
    caps.authenticatedEnvelope = false;  // CMS EnvelopedData in AES-CBC carries no MAC
    caps.sender = zk::suite::SenderReport::kEmpty;
    caps.signsEmptyData = false;  // -101
    caps.encryptsEmptyData = false;
    caps.blockSize = 16;
    // Trust comes from the authority, not from the certificate directory: a signer whose
    // authority is trusted verifies whether or not its certificate was included.
    caps.keyManagement = false;
    caps.crls = true;
    caps.toolkit = Plugin();
    caps.toolkitFolder = "mplug";
    caps.faultCode = -209;
    // The binding does not use KeysRenewal's result: what needs no private key still succeeds.
    caps.survivable = {"DoneCrypto", "KeysRenewal"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    static const zk::suite::StandInControl toolkit(Plugin());
    makeUser_ = reinterpret_cast<MakeUserFn>(toolkit.Symbol("MPro_StandIn_MakeUser"));
    const auto makeCa = reinterpret_cast<MakeCaFn>(toolkit.Symbol("MPro_StandIn_MakeCa"));
    const auto makeCrl = reinterpret_cast<MakeCrlFn>(toolkit.Symbol("MPro_StandIn_MakeCrl"));
    ASSERT_TRUE(makeUser_ != nullptr && makeCa != nullptr && makeCrl != nullptr);
    fs::create_directories(CertDir("alice"));
    fs::create_directories(CertDir("stranger"));
    for (const char* user : {"alice", "bob", "carol", "stranger"}) fs::create_directories(Path(std::string(user) + "-work"));
    ASSERT_EQ(makeCa("/C=RU/O=Suite Bank/CN=Suite Root", Path("ca.key").c_str(), Path("ca.pem").c_str()), 0);
    ASSERT_EQ(makeCa("/C=RU/O=Elsewhere/CN=Other Root", Path("other-ca.key").c_str(), Path("other-ca.pem").c_str()), 0);
    ASSERT_EQ(makeCrl(Path("ca.key").c_str(), Path("ca.pem").c_str(), "", CrlFile().c_str()), 0);
    for (const char* user : kKnownUsers) Issue(user, Pse(user), OwnCert(user), "ca");
    Issue("stranger", Pse("stranger"), OwnCert("stranger"), "other-ca");
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    using zk::suite::ConfigureByName;
    ConfigureByName(engine, "Own certificate", OwnCert(user));
    ConfigureByName(engine, "Certificate directory", CertDir(user));
    ConfigureByName(engine, "Work directory", Path(user + "-work"));
    ConfigureByName(engine, "PSE file", Pse(user));
    ConfigureByName(engine, "Trusted CA certificate", Path(user == "stranger" ? "other-ca.pem" : "ca.pem"));
    // A fresh context for every operation, so that changes on disk show at once.
    ConfigureByName(engine, "Context time-out", "0");
  }

  std::string Uid(const std::string& user) const override { return user; }

  // Common names of 39 characters: the engine's UIDs are at most 40 bytes with their zero.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) {
      std::string uid = "Correspondent" + std::to_string(1000 + next_++) + "-";
      uid += std::string(39 - uid.size(), 'x');
      Issue(uid, Path(uid + ".pse"), CertDir("alice") + "/" + uid + ".pem", "ca");
      uids.push_back(uid);
    }
    return uids;
  }

  std::string CrlFile() const override { return Path("suite.crl"); }

  std::vector<std::string> UserFiles(const std::string& user) const override { return {Pse(user), OwnCert(user)}; }

 private:
  using MakeCaFn = int (*)(const char*, const char*, const char*);
  using MakeUserFn = int (*)(const char*, const char*, const char*, int64_t, const char*, const char*);
  using MakeCrlFn = int (*)(const char*, const char*, const char*, const char*);

  static std::string Plugin() {
    const char* const files[] = {"mplug.dll", "mplugf.dll", "mplug2.dll"};
    return files[Kind];
  }
  std::string Path(const std::string& name) const { return (fs::path(root_) / name).string(); }
  std::string Pse(const std::string& user) const { return Path(user + ".pse"); }
  // The known users share one directory; the stranger's certificate lies in a directory of its own.
  std::string CertDir(const std::string& user) const { return Path(user == "stranger" ? "stranger-certs" : "certs"); }
  std::string OwnCert(const std::string& user) const { return CertDir(user) + "/" + user + ".pem"; }

  void Issue(const std::string& cn, const std::string& pse, const std::string& cert, const std::string& ca) {
    const std::string subject = "/C=RU/O=Suite Bank/CN=" + cn;
    ASSERT_EQ(makeUser_(Path(ca + ".key").c_str(), Path(ca + ".pem").c_str(), subject.c_str(), 365 * 86400,
                        pse.c_str(), cert.c_str()),
              0)
        << cn;
  }

  MakeUserFn makeUser_ = nullptr;
  int next_ = 0;
};

}  // namespace

ZK_SUITE_PROVISIONER(MessagePro11, MProProvisioner<0>);
ZK_SUITE_PROVISIONER(MProWin134, MProProvisioner<1>);
ZK_SUITE_PROVISIONER(MPro2x, MProProvisioner<2>);
