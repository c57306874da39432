// The chain engine's trust-status bits for the same certificates, configured as the CryptoAPI
// binding configures it (restricted root: the CA; additional store: the CAs and the CA's CRL;
// revocation of the end certificate): on Linux against the stand-in, under Wine against Wine's
// own CryptoAPI. One table for both: Wine 8 gives exactly these bits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engines/capi/capi_api.h"
#include "frame/zexroot.h"
#include "platform/platform.h"
#include "support/bytes.h"

namespace zk {
namespace {

using namespace zk::capi;

struct TChainApi {
  template <typename F>
  void Get(F& f, const char* name) {
    f = reinterpret_cast<F>(platform::FindSymbol(module, name));
    ASSERT_NE(f, nullptr) << name;
  }
  platform::ModuleHandle module = nullptr;
  PFN_CertOpenStore open = nullptr;
  PFN_CertOpenSystemStoreA openSystem = nullptr;
  PFN_CertCloseStore close = nullptr;
  PFN_CertCreateCertificateContext create = nullptr;
  PFN_CertFreeCertificateContext free = nullptr;
  PFN_CertAddCertificateContextToStore add = nullptr;
  PFN_CertCreateCRLContext createCrl = nullptr;
  PFN_CertFreeCRLContext freeCrl = nullptr;
  PFN_CertAddCRLContextToStore addCrl = nullptr;
  PFN_CertCreateCertificateChainEngine createEngine = nullptr;
  PFN_CertFreeCertificateChainEngine freeEngine = nullptr;
  PFN_CertGetCertificateChain chain = nullptr;
  PFN_CertFreeCertificateChain freeChain = nullptr;
};

class CapiChainBits : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    dir_ = ZK_CHAIN_FIXTURE;
#else
    home_ = std::make_unique<suite::TempDir>("zk_chain_bits");
    dir_ = home_->Dir() + "/fixture";
    ASSERT_EQ(std::system(("sh " ZK_CHAIN_FIXTURE_SCRIPT " " + dir_ + " >/dev/null 2>&1").c_str()), 0);
#endif
    api_.module = LoadToolkitLibrary("crypt32.dll");
    ASSERT_NE(api_.module, nullptr);
#if !defined(_WIN32)
    auto control = reinterpret_cast<int (*)(const char*)>(platform::FindSymbol(api_.module, "StandIn_Control"));
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(control(("home " + home_->Dir() + "/home").c_str()), 0);
#endif
    api_.Get(api_.open, "CertOpenStore");
    api_.Get(api_.openSystem, "CertOpenSystemStoreA");
    api_.Get(api_.close, "CertCloseStore");
    api_.Get(api_.create, "CertCreateCertificateContext");
    api_.Get(api_.free, "CertFreeCertificateContext");
    api_.Get(api_.add, "CertAddCertificateContextToStore");
    api_.Get(api_.createCrl, "CertCreateCRLContext");
    api_.Get(api_.freeCrl, "CertFreeCRLContext");
    api_.Get(api_.addCrl, "CertAddCRLContextToStore");
    api_.Get(api_.createEngine, "CertCreateCertificateChainEngine");
    api_.Get(api_.freeEngine, "CertFreeCertificateChainEngine");
    api_.Get(api_.chain, "CertGetCertificateChain");
    api_.Get(api_.freeChain, "CertFreeCertificateChain");
  }

  PCCERT_CONTEXT Cert(const std::string& name) {
    const auto der = suite::ReadFileBytes(dir_ + "/" + name + ".cer");
    PCCERT_CONTEXT c = api_.create(kEncoding, der.data(), static_cast<DWORD>(der.size()));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  void AddTo(HCERTSTORE store, const std::string& name) {
    PCCERT_CONTEXT c = Cert(name);
    EXPECT_TRUE(api_.add(store, c, kAddReplaceExisting, nullptr)) << name;
    api_.free(c);
  }
  HCERTSTORE Memory() {
    return api_.open(reinterpret_cast<const char*>(uintptr_t{kStoreProvMemory}), kEncoding, 0, kStoreFlags, nullptr);
  }

  TChainApi api_;
  std::string dir_;
#if !defined(_WIN32)
  std::unique_ptr<suite::TempDir> home_;
#endif
};

TEST_F(CapiChainBits, SameBitsForTheSameCertificates) {
  HCERTSTORE root = api_.openSystem(0, "ROOT");
  ASSERT_NE(root, nullptr);
  AddTo(root, "ca");
  AddTo(root, "other");  // trusted by the system, outside the engine's restricted root
  api_.close(root, 0);
  HCERTSTORE restricted = Memory(), additional = Memory();
  AddTo(restricted, "ca");
  AddTo(additional, "ca");
  AddTo(additional, "other");
  const auto crlDer = suite::ReadFileBytes(dir_ + "/ca.crl");
  PCCRL_CONTEXT crl = api_.createCrl(kEncoding, crlDer.data(), static_cast<DWORD>(crlDer.size()));
  ASSERT_NE(crl, nullptr);
  EXPECT_TRUE(api_.addCrl(additional, crl, kAddNewer, nullptr));
  api_.freeCrl(crl);
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.cbSize = sizeof config;  // 40 on Win32
  config.hRestrictedRoot = restricted;
  config.cAdditionalStore = 1;
  config.rghAdditionalStore = &additional;
  HCERTCHAINENGINE engine = nullptr;
  ASSERT_TRUE(api_.createEngine(&config, &engine));

  struct Case {
    const char* cert;
    DWORD bits;
  } cases[] = {{"valid", 0},       {"expired", 0x1},     {"revoked", 0x4},
               {"forged", 0x8},    {"outside", 0x20 | 0x40}, {"orphan", 0x10000 | 0x40}};
  for (const auto& c : cases) {
    PCCERT_CONTEXT leaf = Cert(c.cert);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    const CERT_CHAIN_CONTEXT* chain = nullptr;
    ASSERT_TRUE(api_.chain(engine, leaf, nullptr, additional, &para, 0x90000001, nullptr, &chain)) << c.cert;
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus & ~0x01000000u, c.bits) << c.cert << std::hex << " 0x"
                                                                         << chain->TrustStatus.dwErrorStatus;
    api_.freeChain(chain);
    api_.free(leaf);
  }
  api_.freeEngine(engine);
  api_.close(restricted, 0);
  api_.close(additional, 0);
}

}  // namespace
}  // namespace zk
