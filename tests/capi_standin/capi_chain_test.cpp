// Chain status through the engine: a recipient's certificate fails its chain check for a real
// reason, and the stand-in's chain engine reports the CryptoAPI bit the engine maps to its code.
#include <functional>

#include "capi/capi_helpers.h"
#include "capi_standin/capi_standin_fixture.h"

namespace zk::capistandin_test {
namespace {

using osslkit::CertSpec;

class CapiChain : public CapiStandInTest {};

// A certificate for "target" issued by the sandbox's CA, with its own serial.
osslkit::X509Ptr Target(const osslkit::Sandbox& box, long notAfter = 3600, EVP_PKEY* signer = nullptr) {
  CertSpec spec;
  spec.serial = {0x55};
  spec.common_name = "target";
  spec.not_after_offset = notAfter;
  return osslkit::MakeCert(spec, osslkit::PooledRsaKey(1024, "target").get(), box.ca_cert(),
                           signer != nullptr ? signer : box.ca_key());
}

TEST_F(CapiChain, StatusBitsForRealReasons) {
  struct Case {
    const char* name;
    int32_t code;
    // Writes the case's certificates into <dir>/abonents (and <dir>/crl); answers the CRL dir.
    std::function<std::string(const std::string& dir)> lay;
  } cases[] = {
      {"valid", 0,
       [](const std::string& dir) {
         osslkit::WriteCert(dir + "/abonents/target.cer", Target(Box()).get());
         return std::string();
       }},
      {"expired", 49,
       [](const std::string& dir) {
         osslkit::WriteCert(dir + "/abonents/target.cer", Target(Box(), -60).get());
         return std::string();
       }},
      {"revoked by a CRL", 51,
       [](const std::string& dir) {
         osslkit::WriteCert(dir + "/abonents/target.cer", Target(Box()).get());
         osslkit::CrlSpec crl;
         crl.revoked = {{0x55}};
         osslkit::WriteCrl(dir + "/crl/ca.crl", osslkit::MakeCrl(crl, Box().ca_cert(), Box().ca_key()).get());
         return dir + "/crl";
       }},
      {"a CRL that revokes another", 0,
       [](const std::string& dir) {
         osslkit::WriteCert(dir + "/abonents/target.cer", Target(Box()).get());
         osslkit::CrlSpec crl;
         crl.revoked = {{0x56}};
         osslkit::WriteCrl(dir + "/crl/ca.crl", osslkit::MakeCrl(crl, Box().ca_cert(), Box().ca_key()).get());
         return dir + "/crl";
       }},
      {"forged issuer signature", 52,
       [](const std::string& dir) {
         auto forger = osslkit::PooledRsaKey(1024, "forger");
         osslkit::WriteCert(dir + "/abonents/target.cer", Target(Box(), 3600, forger.get()).get());
         return std::string();
       }},
      {"CA outside the restricted root", 54,
       [](const std::string& dir) {
         auto key = osslkit::PooledRsaKey(1024, "other ca");
         auto ca = osslkit::MakeCaCert(key.get(), "Other CA", {0x07});
         osslkit::WriteCert(dir + "/other_ca.cer", ca.get());
         Toolkit().AddCertificate("ROOT", dir + "/other_ca.cer");  // trusted by the system, not by the engine
         osslkit::WriteCert(dir + "/abonents/other_ca.cer", ca.get());
         CertSpec spec;
         spec.serial = {0x55};
         spec.common_name = "target";
         osslkit::WriteCert(dir + "/abonents/target.cer",
                            osslkit::MakeCert(spec, osslkit::PooledRsaKey(1024, "target").get(), ca.get(), key.get()).get());
         return std::string();
       }},
      {"missing intermediate", 65,
       [](const std::string& dir) {
         auto key = osslkit::PooledRsaKey(1024, "intermediate");
         CertSpec spec;
         spec.serial = {0x08};
         spec.common_name = "Intermediate CA";
         spec.is_ca = true;
         auto intermediate = osslkit::MakeCert(spec, key.get(), Box().ca_cert(), Box().ca_key());
         spec.serial = {0x55};
         spec.common_name = "target";
         spec.is_ca = false;
         osslkit::WriteCert(dir + "/abonents/target.cer",
                            osslkit::MakeCert(spec, osslkit::PooledRsaKey(1024, "target").get(), intermediate.get(),
                                              key.get()).get());
         return std::string();
       }},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string dir = Root() + "/chain" + std::to_string(++n);
    ASSERT_TRUE(Shell("mkdir -p " + dir + "/abonents " + dir + "/crl"));
    osslkit::WriteCert(dir + "/abonents/alice.cer", Box().user("alice").cert.get());
    const std::string crlDir = c.lay(dir);
    auto alice = Engine("alice");
    capitest::Set(*alice, "Abonents cerificates dir", dir + "/abonents");
    capitest::Set(*alice, "CRL dir", crlDir);
    Bytes data = data_;
    EXPECT_EQ(Encode(*alice, data, "target"), c.code) << c.name;
  }
}

// A CRL included at run time is used by the very next check.
TEST_F(CapiChain, IncludedCRLTakesEffectOnTheNextOperation) {
  const std::string dir = Root() + "/included";
  ASSERT_TRUE(Shell("mkdir -p " + dir + "/crl"));
  auto alice = Engine("alice");
  capitest::Set(*alice, "CRL dir", dir + "/crl");
  Bytes data = data_;
  ASSERT_EQ(Encode(*alice, data, "carol"), 0);
  osslkit::CrlSpec crl;
  crl.revoked = {Box().user("carol").serial};
  osslkit::WriteCrl(dir + "/new.crl", osslkit::MakeCrl(crl, Box().ca_cert(), Box().ca_key()).get());
  ASSERT_EQ(alice->IncludeCRL((dir + "/new.crl").c_str()), 0);
  data = data_;
  EXPECT_EQ(Encode(*alice, data, "carol"), 51);
  data = data_;
  EXPECT_EQ(Encode(*alice, data, "bob"), 0);
}

}  // namespace
}  // namespace zk::capistandin_test
