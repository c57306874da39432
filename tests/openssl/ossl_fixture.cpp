#include "openssl/ossl_fixture.h"

#include <openssl/md5.h>
#include <openssl/objects.h>
#include <openssl/rc2.h>
#include <openssl/rc4.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>

#include "engines/openssl/rc5.h"
#include "engines/openssl/sha0.h"

namespace ossltest {

namespace fs = std::filesystem;

std::string MakeTestDir() {
  std::string pattern = (fs::temp_directory_path() / "zk_ossl_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::unique_ptr<zk::TOSSLEngine> EngineFor(const kit::Sandbox& box, const std::string& user) {
  auto engine = std::make_unique<zk::TOSSLEngine>();
  const kit::SandboxUser& who = box.user(user);
  Configure(*engine, kSecretKey, who.key_path);
  Configure(*engine, kCertificate, who.cert_path);
  Configure(*engine, kAbonentsDir, box.abonents_dir());
  Configure(*engine, kCADir, box.ca_dir());
  Configure(*engine, kCRLDir, box.crl_dir());
  Configure(*engine, kRandFile, box.root() + "/rand.seed");
  return engine;
}

SignatureFields SplitSignature(const Bytes& signature) {
  SignatureFields fields;
  const auto nul = std::find(signature.begin(), signature.end(), 0);
  if (nul == signature.end() || nul + 1 == signature.end()) return fields;
  fields.uid.assign(signature.begin(), nul);
  fields.hash_id = *(nul + 1);
  fields.rsa.assign(nul + 2, signature.end());
  return fields;
}

EnvelopeFields SplitEnvelope(const Bytes& envelope) {
  EnvelopeFields fields;
  if (envelope.size() < 12) return fields;
  fields.count = Le32(envelope.data());
  fields.algorithm = Le32(envelope.data() + 4);
  fields.header_len = Le32(envelope.data() + envelope.size() - 4);
  size_t at = 8;
  for (uint32_t i = 0; i < fields.count && at < fields.header_len; ++i) {
    EnvelopeEntry entry;
    while (envelope.at(at) != 0) entry.uid += static_cast<char>(envelope[at++]);
    ++at;
    if (at + 4 > envelope.size()) break;
    const uint32_t length = Le32(envelope.data() + at);
    at += 4;
    if (at + length > envelope.size()) break;
    entry.key_block.assign(envelope.begin() + static_cast<std::ptrdiff_t>(at),
                           envelope.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
    fields.entries.push_back(entry);
  }
  EXPECT_EQ(at, fields.header_len) << "entries end where the ciphertext starts";
  fields.ciphertext.assign(envelope.begin() + fields.header_len, envelope.end() - 4);
  return fields;
}

Bytes RsaDecryptKeyBlock(EVP_PKEY* key, const Bytes& block) {
  RSA* rsa = EVP_PKEY_get1_RSA(key);
  Bytes out(static_cast<size_t>(RSA_size(rsa)));
  const int n = RSA_private_decrypt(static_cast<int>(block.size()), block.data(), out.data(), rsa, RSA_PKCS1_PADDING);
  RSA_free(rsa);
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

Bytes DecryptIndependently(uint32_t algorithm, const uint8_t* session_key, const Bytes& ciphertext) {
  Bytes plain(ciphertext.size());
  unsigned char iv[8];
  std::memcpy(iv, session_key, 8);
  if (algorithm == 1) {
    RC4_KEY key;
    RC4_set_key(&key, 16, session_key);
    RC4(&key, ciphertext.size(), ciphertext.data(), plain.data());
    return plain;
  }
  if (ciphertext.empty() || ciphertext.size() % 8 != 0) ADD_FAILURE() << "not whole blocks: " << ciphertext.size();
  if (algorithm == 2 || algorithm == 3) {
    RC2_KEY key;
    RC2_set_key(&key, 16, session_key, 1024);
    if (algorithm == 2) {
      for (size_t i = 0; i + 8 <= ciphertext.size(); i += 8)
        RC2_ecb_encrypt(ciphertext.data() + i, plain.data() + i, &key, RC2_DECRYPT);
    } else {
      RC2_cbc_encrypt(ciphertext.data(), plain.data(), static_cast<long>(ciphertext.size()), &key, iv, RC2_DECRYPT);
    }
  } else {
    const zk::ossl::Rc5Key key(session_key, 16, 16);
    if (algorithm == 4) zk::ossl::Rc5EcbDecrypt(key, ciphertext.data(), plain.data(), ciphertext.size());
    else zk::ossl::Rc5CbcDecrypt(key, ciphertext.data(), plain.data(), ciphertext.size(), iv);
  }
  const uint32_t length = Le32(plain.data());
  const size_t padding = plain.size() - 4 - length;
  EXPECT_TRUE(length + 4 <= plain.size() && padding >= 1 && padding <= 8) << "length prefix " << length;
  return Bytes(plain.begin() + 4, plain.begin() + 4 + std::min<size_t>(length, plain.size() - 4));
}

std::string CheckSignatureIndependently(X509* cert, uint8_t hash_id, const Bytes& data, const Bytes& rsa_part) {
  EVP_PKEY* pub = X509_get0_pubkey(cert);
  const RSA* rsa = EVP_PKEY_get0_RSA(pub);
  if (rsa_part.size() != static_cast<size_t>(RSA_size(rsa))) return "RSA part is not the modulus size";
  Bytes info(rsa_part.size());
  const int n = RSA_public_decrypt(static_cast<int>(rsa_part.size()), rsa_part.data(), info.data(),
                                   const_cast<RSA*>(rsa), RSA_PKCS1_PADDING);
  if (n <= 0) return "not a PKCS#1 v1.5 signature under the certificate's key";
  info.resize(static_cast<size_t>(n));
  if (info != SignedBlock(hash_id, data)) return "the signed block is not RSA_sign(0, ...)'s DigestInfo";
  return "";
}

Bytes SignedBlock(uint8_t hash_id, const Bytes& data, bool standard_oid) {
  // What RSA_sign with type 0 signs: the undefined object 06 01 00 in place of the digest's OID.
  Bytes block = hash_id == 1 ? Bytes{0x30, 0x1D, 0x30, 0x05, 0x06, 0x01, 0x00, 0x05, 0x00, 0x04, 0x14}
                             : Bytes{0x30, 0x19, 0x30, 0x05, 0x06, 0x01, 0x00, 0x05, 0x00, 0x04, 0x10};
  if (standard_oid) {
    block = hash_id == 1 ? Bytes{0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x12, 0x05, 0x00, 0x04, 0x14}
                         : Bytes{0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48, 0x86,
                                 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
  }
  Bytes digest(hash_id == 1 ? 20 : 16);
  if (hash_id == 1) zk::ossl::Sha0(data.data(), data.size(), digest.data());
  else MD5(data.data(), data.size(), digest.data());
  block.insert(block.end(), digest.begin(), digest.end());
  return block;
}

kit::SandboxOptions OsslTest::Options() const {
  kit::SandboxOptions options;
  options.users = {{"alice", 1024}, {"bob", 2048}, {"carol", 1024, {0x2A}}};
  return options;
}

void OsslTest::SetUp() {
  dir_ = MakeTestDir();
  box_ = std::make_unique<kit::Sandbox>(dir_ + "/box", Options());
}

void OsslTest::TearDown() {
  box_.reset();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

}  // namespace ossltest
