// Shared helpers of the OpenSSL engine's tests: a sandbox of keys and certificates made at test
// time, engines configured for one of its users, and independent readers of the engine's formats
// built straight on OpenSSL.
#pragma once

#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engines/openssl/ossl_engine.h"
#include "osslkit.h"
#include "support/bytes.h"
#include "support/calls.h"

namespace ossltest {

using Bytes = std::vector<uint8_t>;
namespace kit = zk::osslkit;

// Engine parameter numbers as the exports count them (1-based).
enum Param : int32_t {
  kSecretKey = 1,
  kCertificate = 2,
  kAbonentsDir = 3,
  kCADir = 4,
  kCRLDir = 5,
  kRandFile = 6,
  kHashMethod = 7,
  kEncryptMethod = 8,
  kEncryptForUID = 9,
  kKeyTimeout = 10,
  kLastOpTimeout = 11,
};

// A fresh directory per test, removed afterwards.
std::string MakeTestDir();

// An engine working as `user` of the sandbox.
std::unique_ptr<zk::TOSSLEngine> EngineFor(const kit::Sandbox& box, const std::string& user);

// The guarded calls and byte helpers every engine's tests share.
using zk::suite::CodecResult;
using zk::suite::Configure;
using zk::suite::Cp1251;
using zk::suite::Decode;
using zk::suite::Encode;
using zk::suite::ErrorString;
using zk::suite::Le32;
using zk::suite::RandomBytes;
using zk::suite::ReadFileBytes;
using zk::suite::Sign;
using zk::suite::SignResult;
using zk::suite::Verify;
using zk::suite::VerifyResult;

// A signature split by an independent reader.
struct SignatureFields {
  std::string uid;
  uint8_t hash_id = 0;
  Bytes rsa;
};
SignatureFields SplitSignature(const Bytes& signature);

// An envelope split by an independent reader.
struct EnvelopeEntry {
  std::string uid;
  Bytes key_block;
};
struct EnvelopeFields {
  uint32_t count = 0;
  uint32_t algorithm = 0;
  std::vector<EnvelopeEntry> entries;
  Bytes ciphertext;
  uint32_t header_len = 0;
};
EnvelopeFields SplitEnvelope(const Bytes& envelope);

// RSA PKCS#1 v1.5 decryption of a key block with the recipient's private key.
Bytes RsaDecryptKeyBlock(EVP_PKEY* key, const Bytes& block);
// Decrypts a ciphertext of algorithm 1..5 with OpenSSL's RC4/RC2 or the pinned RC5 and returns
// the plaintext (length prefix checked for the block modes).
Bytes DecryptIndependently(uint32_t algorithm, const uint8_t* session_key, const Bytes& ciphertext);

// Checks the RSA part of a signature against the certificate's key: PKCS#1 v1.5 of SignedBlock.
// Returns an explanation on mismatch, "" if fine.
std::string CheckSignatureIndependently(X509* cert, uint8_t hash_id, const Bytes& data, const Bytes& rsa);
// The DigestInfo built by hand: 06 01 00 (what RSA_sign with type 0 signs), or the digest's standard
// OID, followed by SHA-0 (hash_id 1) or MD5 of the data.
Bytes SignedBlock(uint8_t hash_id, const Bytes& data, bool standard_oid = false);

// A test with its own directory and a sandbox of users: alice (1024-bit key), bob (2048-bit key)
// and carol (1024-bit key, serial 2A), their CA and an empty CRL.
class OsslTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  virtual kit::SandboxOptions Options() const;
  const kit::SandboxUser& User(const std::string& name) const { return box_->user(name); }

  std::string dir_;
  std::unique_ptr<kit::Sandbox> box_;
};

}  // namespace ossltest
