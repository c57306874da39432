#include "capi_standin/capi_standin_fixture.h"

#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capi/capi_helpers.h"

namespace zk::capistandin_test {

suite::TempDir* CapiStandInTest::dir_ = nullptr;
osslkit::Sandbox* CapiStandInTest::box_ = nullptr;
StandIn* CapiStandInTest::standin_ = nullptr;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

void WritePem(const std::string& path, EVP_PKEY* key) {
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
}

void WritePem(const std::string& path, X509* cert) { osslkit::WriteCert(path, cert, osslkit::CertFormat::kPemLf); }

StandIn::StandIn() {}

void StandIn::PutKey(const std::string& provider, const std::string& container, const std::string& keyFile) const {
  auto put = reinterpret_cast<uint32_t (*)(const char*, const char*, const char*)>(advapi32.Symbol("CapiStandIn_PutKey"));
  ASSERT_NE(put, nullptr);
  EXPECT_EQ(put(provider.c_str(), container.c_str(), keyFile.c_str()), 0u) << container;
}

void StandIn::AddCertificate(const std::string& store, const std::string& certFile, const std::string& provider,
                             const std::string& container) const {
  auto add = reinterpret_cast<uint32_t (*)(const char*, const char*, const char*, const char*)>(
      crypt32.Symbol("CapiStandIn_AddCertificate"));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(store.c_str(), certFile.c_str(), provider.c_str(), container.empty() ? nullptr : container.c_str()), 0u)
      << certFile;
}

void StandIn::HideProvider(const std::string& provider, bool hidden) const {
  auto hide = reinterpret_cast<int (*)(const char*, int)>(advapi32.Symbol("CapiStandIn_HideProvider"));
  ASSERT_NE(hide, nullptr);
  EXPECT_EQ(hide(provider.c_str(), hidden ? 1 : 0), 0);
}

void CapiStandInTest::SetUpTestSuite() {
  dir_ = new suite::TempDir("zk_capi");
  standin_ = new StandIn;
  ASSERT_EQ(standin_->crypt32.Send("home " + dir_->Dir() + "/home"), 0);
  osslkit::SandboxOptions options;
  options.users = {{"alice"}, {"bob"}, {"carol"}};
  box_ = new osslkit::Sandbox(dir_->Dir() + "/box", options);
  Provision(*box_);
}

void CapiStandInTest::TearDownTestSuite() {
  delete box_;
  delete standin_;
  delete dir_;
  box_ = nullptr;
  standin_ = nullptr;
  dir_ = nullptr;
}

void CapiStandInTest::Provision(const osslkit::Sandbox& box, const std::string& provider) {
  for (const auto& user : box.users()) {
    const std::string pem = box.root() + "/" + user.name + ".pem";
    WritePem(pem, user.key.get());
    WritePem(box.root() + "/" + user.name + ".crt", user.cert.get());
    standin_->PutKey(provider, user.name, pem);
  }
  WritePem(box.root() + "/ca.pem", box.ca_cert());
  standin_->AddCertificate("ROOT", box.ca_cert_path());
}

std::unique_ptr<TCryptoEngine> CapiStandInTest::Engine(const std::string& user, const osslkit::Sandbox* box,
                                                       const char* type) {
  const osslkit::Sandbox& b = box != nullptr ? *box : *box_;
  auto e = capitest::MakeEngine(type);
  capitest::Set(*e, "User certificate file", b.root() + "/" + user + ".cer");
  capitest::Set(*e, "CA certificates dir", b.ca_dir());
  capitest::Set(*e, "Abonents cerificates dir", b.abonents_dir());
  capitest::Set(*e, "Hash Algorithm", "SHA1");
  capitest::Set(*e, "Encrypt Algorithm", "RC2CBC");
  return e;
}

Bytes CapiStandInTest::Sign(TCryptoEngine& e, const Bytes& data, int32_t& code) {
  Bytes signature(static_cast<size_t>(e.GetMaxSignatureLength()));
  int32_t len = 0;
  code = e.SignData(data.data(), static_cast<int32_t>(data.size()), signature.data(), &len, "");
  signature.resize(code == 0 ? static_cast<size_t>(len) : 0);
  return signature;
}

int32_t CapiStandInTest::Verify(TCryptoEngine& e, const Bytes& data, const Bytes& sig, std::string& signer) {
  std::vector<char> text(16384, 0);
  const int32_t code = e.VerifyData(data.data(), static_cast<int32_t>(data.size()), sig.data(),
                                    static_cast<int32_t>(sig.size()), text.data());
  signer = text.data();
  return code;
}

int32_t CapiStandInTest::Encode(TCryptoEngine& e, Bytes& data, const std::string& recipients) {
  int32_t len = static_cast<int32_t>(data.size());
  data.resize(data.size() + static_cast<size_t>(e.GetMaxEncodeAddition()));
  const int32_t code = e.EncodeData(data.data(), &len, recipients.c_str());
  data.resize(static_cast<size_t>(len));
  return code;
}

int32_t CapiStandInTest::Decode(TCryptoEngine& e, Bytes& data) {
  int32_t len = static_cast<int32_t>(data.size());
  char sender[256] = {};
  const int32_t code = e.DecodeData(data.data(), &len, sender);
  data.resize(static_cast<size_t>(len));
  return code;
}

}  // namespace zk::capistandin_test
