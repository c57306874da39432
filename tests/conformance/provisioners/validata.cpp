// The Validata engine over the stand-in cpki1.dll: one authority issues the known users' PSEs,
// each known user's local store holds the others' certificates; the stranger's authority is one
// nobody else trusts.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/bytes.h"
#include "support/calls.h"
#include "support/provisioner.h"
#include "support/standin.h"

namespace {

namespace fs = std::filesystem;
using zk::suite::Capabilities;

const char* const kKnownUsers[] = {"alice", "bob", "carol"};

class ValidataProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "Validata Crypto Engine"; }
  Capabilities Caps() const override {
    Capabilities caps;
    caps.maxRecipients = 10;  // RSA-2048 key transport: about 300 bytes a recipient, 4096 in all
    caps.authenticatedEnvelope = false;  // CMS EnvelopedData in AES-CBC carries no MAC
    caps.sender = zk::suite::SenderReport::kEmpty;
    caps.signsEmptyData = false;  // -11
    caps.encryptsEmptyData = false;
    caps.blockSize = 16;
    caps.crls = true;
    caps.toolkit = "cpki1.dll";
    caps.toolkitFolder = "cpki1";
    caps.faultCode = 11;
    caps.survivable = {"VCERT_FreeMem",  "VCERT_FreeFindResult", "VCERT_FreeVerifyResult", "VCERT_FreeDecryptResult",
                       "VCERT_FreeCert", "VCERT_FreeCertId",     "VCERT_Uninitialize"};
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    static const zk::suite::StandInControl toolkit("cpki1.dll");
    makePse_ = reinterpret_cast<MakePseFn>(toolkit.Symbol("VCERT_StandIn_MakePse"));
    addToStore_ = reinterpret_cast<AddToStoreFn>(toolkit.Symbol("VCERT_StandIn_AddToStore"));
    const auto makeCa = reinterpret_cast<MakeCaFn>(toolkit.Symbol("VCERT_StandIn_MakeCa"));
    const auto makeCrl = reinterpret_cast<MakeCrlFn>(toolkit.Symbol("VCERT_StandIn_MakeCrl"));
    ASSERT_TRUE(makePse_ != nullptr && addToStore_ != nullptr && makeCa != nullptr && makeCrl != nullptr);
    ASSERT_EQ(makeCa(CaDir().c_str(), "C=RU,O=Suite Bank,CN=Suite Root"), 0);
    ASSERT_EQ(makeCrl(CaDir().c_str(), "", CrlFile().c_str(), 0), 0);
    ASSERT_EQ(makeCa(StrangerCaDir().c_str(), "C=RU,O=Elsewhere,CN=Other Root"), 0);
    for (const char* user : kKnownUsers) Issue(user, Pse(user), Cert(user));
    Issue("stranger", Pse("stranger"), Cert("stranger"), StrangerCaDir());
    for (const char* holder : kKnownUsers) {
      for (const char* owner : kKnownUsers) {
        if (std::string(holder) == owner) continue;
        ASSERT_EQ(addToStore_(Store(holder).c_str(), Cert(owner).c_str()), 0);
      }
    }
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    zk::suite::ConfigureByName(engine, "PSE", Pse(user));
    zk::suite::ConfigureByName(engine, "LocalStore", Store(user));
    // A fresh context for every operation, so that changes on disk show at once.
    zk::suite::ConfigureByName(engine, "Key request time out", "0");
  }

  std::string Uid(const std::string& user) const override { return user; }

  // Common names of 64 characters, the longest X.520 allows.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) {
      std::string uid = "Correspondent" + std::to_string(1000 + i) + "-";
      uid += std::string(64 - uid.size(), 'x');
      const std::string pse = (fs::path(root_) / ("big" + std::to_string(i) + ".pse")).string();
      const std::string cert = (fs::path(root_) / ("big" + std::to_string(i) + ".cer")).string();
      Issue(uid, pse, cert);
      for (const char* holder : kKnownUsers) EXPECT_EQ(addToStore_(Store(holder).c_str(), cert.c_str()), 0);
      uids.push_back(uid);
    }
    return uids;
  }

  std::string CrlFile() const override { return (fs::path(root_) / "suite.crl").string(); }

  std::vector<std::string> UserFiles(const std::string& user) const override { return {Pse(user)}; }

 private:
  using MakeCaFn = int (*)(const char*, const char*);
  using MakePseFn = int (*)(const char*, const char*, const char*, uint32_t, const char*, int64_t, int64_t,
                            const char*, const char*, int32_t);
  using MakeCrlFn = int (*)(const char*, const char*, const char*, int32_t);
  using AddToStoreFn = int (*)(const char*, const char*);

  std::string CaDir() const { return (fs::path(root_) / "ca").string(); }
  std::string StrangerCaDir() const { return (fs::path(root_) / "stranger-ca").string(); }
  std::string Pse(const std::string& user) const { return (fs::path(root_) / (user + ".pse")).string(); }
  std::string Store(const std::string& user) const { return (fs::path(root_) / (user + ".store")).string(); }
  std::string Cert(const std::string& user) const { return (fs::path(root_) / (user + ".cer")).string(); }

  void Issue(const std::string& cn, const std::string& pse, const std::string& cert, std::string caDir = "") {
    if (caDir.empty()) caDir = CaDir();
    const std::string subject = "C=RU,O=Suite Bank,CN=" + cn;
    const std::string serial = std::to_string(++serial_ + 100);
    ASSERT_EQ(makePse_(caDir.c_str(), subject.c_str(), serial.c_str(), 0xA0, "", -86400, 365 * 86400, pse.c_str(),
                       cert.c_str(), 0),
              0)
        << cn;
  }

  MakePseFn makePse_ = nullptr;
  AddToStoreFn addToStore_ = nullptr;
  int serial_ = 0;
};

}  // namespace

ZK_SUITE_PROVISIONER(Validata, ValidataProvisioner);
