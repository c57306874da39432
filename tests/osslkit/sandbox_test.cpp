// The sandbox's files as the engine will read them back from disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "osslkit.h"

namespace {

using namespace zk::osslkit;
namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes ReadBytes(const std::string& path) {
  const std::string s = ReadText(path);
  return Bytes(s.begin(), s.end());
}

class OsslkitSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (fs::temp_directory_path() /
             ("osslkit_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())))
                .string();
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string root_;
};

TEST_F(OsslkitSandbox, UsersKeysCertificatesAndDirectories) {
  SandboxOptions opt;
  opt.users = {{"alice"}, {"bob", 512, {0x01, 0xA2}}};
  opt.key_eol = Eol::kCrLf;
  opt.revoked = {{0x2A}};
  Sandbox box(root_, opt);

  EXPECT_EQ(box.user("bob").uid, "01A2");
  EXPECT_NE(box.user("alice").uid, box.user("bob").uid);
  EXPECT_THROW(box.user("carol"), Error);

  for (const SandboxUser& u : box.users()) {
    EXPECT_EQ(u.key_path, root_ + "/" + u.name + ".key");
    const std::string key_text = ReadText(u.key_path);
    EXPECT_NE(key_text.find("\r\n"), std::string::npos);
    PkeyPtr key = KeyFromFileText(key_text);
    X509Ptr cert = CertFromDer(ReadBytes(u.cert_path));
    EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1) << u.name;
    EXPECT_EQ(SerialUid(cert.get()), u.uid);
    EXPECT_EQ(ReadBytes(u.abonent_cert_path), ReadBytes(u.cert_path));
    EXPECT_EQ(X509_verify(cert.get(), box.ca_key()), 1) << "issued by the sandbox CA";
  }
  // Distinct users must not share a key, or decrypting for the wrong recipient would pass unnoticed.
  EXPECT_NE(EVP_PKEY_eq(box.user("alice").key.get(), box.user("bob").key.get()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(box.abonents_dir()), fs::directory_iterator()), 2);

  EXPECT_EQ(CertToDer(CertFromDer(ReadBytes(box.ca_cert_path())).get()), CertToDer(box.ca_cert()));
  CrlPtr crl = CrlFromDer(ReadBytes(box.crl_path()));
  EXPECT_EQ(fs::path(box.crl_path()).parent_path(), fs::path(box.crl_dir()));
  EXPECT_EQ(X509_CRL_verify(crl.get(), box.ca_key()), 1);
  EXPECT_EQ(sk_X509_REVOKED_num(X509_CRL_get_REVOKED(crl.get())), 1);
}

TEST_F(OsslkitSandbox, PemCertificatesAndNoCrl) {
  SandboxOptions opt;
  opt.users = {{"alice"}};
  opt.cert_format = CertFormat::kPemCrLf;
  opt.write_crl = false;
  Sandbox box(root_, opt);
  EXPECT_TRUE(box.crl_path().empty());
  EXPECT_TRUE(fs::is_empty(box.crl_dir()));
  const std::string pem = ReadText(box.user("alice").cert_path);
  EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u);
  EXPECT_EQ(SerialUid(CertFromPem(pem).get()), box.user("alice").uid);
}

TEST_F(OsslkitSandbox, ManyAbonentsShareOneKeyWithDistinctSerials) {
  SandboxOptions opt;
  opt.users = {{"alice"}};
  Sandbox box(root_, opt);
  PkeyPtr shared = PooledRsaKey(512, "sandbox-abonents");
  const std::vector<std::string> uids = box.AddAbonents(300, shared.get());
  ASSERT_EQ(uids.size(), 300u);
  std::set<std::string> distinct(uids.begin(), uids.end());
  distinct.insert(box.user("alice").uid);
  EXPECT_EQ(distinct.size(), 301u);
  for (size_t i : {size_t(0), size_t(299)}) {
    X509Ptr cert = CertFromDer(ReadBytes(box.abonents_dir() + "/a" + uids[i] + ".cer"));
    EXPECT_EQ(SerialUid(cert.get()), uids[i]);
    EXPECT_EQ(X509_check_private_key(cert.get(), shared.get()), 1);
  }
}

}  // namespace
