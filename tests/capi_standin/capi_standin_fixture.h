// Shared by the tests of the Linux CryptoAPI stand-in: a sandbox of users (osslkit) whose keys
// sit in stand-in containers and whose CA is in the stand-in's ROOT, engines set up for them, and
// the openssl command line as the independent checker.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "frame/crypto_engine.h"
#include "osslkit.h"
#include "support/bytes.h"
#include "support/standin.h"

namespace zk::capistandin_test {

using Bytes = std::vector<uint8_t>;

constexpr char kMsBase[] = "Microsoft Base Cryptographic Provider v1.0";
constexpr char kCryptoPro[] = "Crypto-Pro Cryptographic Service Provider";

// Runs a shell command; true when it exits with 0.
bool Shell(const std::string& command);
void WritePem(const std::string& path, EVP_PKEY* key);
void WritePem(const std::string& path, X509* cert);

// The stand-in's provisioning exports.
struct StandIn {
  StandIn();
  void PutKey(const std::string& provider, const std::string& container, const std::string& keyFile) const;
  void AddCertificate(const std::string& store, const std::string& certFile, const std::string& provider = "",
                      const std::string& container = "") const;
  void HideProvider(const std::string& provider, bool hidden) const;
  suite::StandInControl advapi32{"advapi32.dll"};
  suite::StandInControl crypt32{"crypt32.dll"};
};

// One sandbox (CA, users alice, bob, carol) per test program, the stand-in's state beside it.
class CapiStandInTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  // An engine for the user, its directories those of `box` (the shared sandbox by default).
  static std::unique_ptr<TCryptoEngine> Engine(const std::string& user, const osslkit::Sandbox* box = nullptr,
                                               const char* type = "Ms Crypto API 2.0");
  static const osslkit::Sandbox& Box() { return *box_; }
  static const std::string& Root() { return dir_->Dir(); }
  static const StandIn& Toolkit() { return *standin_; }
  // Keys and PEM files of a sandbox's users in the stand-in's containers (provider `provider`).
  static void Provision(const osslkit::Sandbox& box, const std::string& provider = kMsBase);

  static Bytes Sign(TCryptoEngine& e, const Bytes& data, int32_t& code);
  static int32_t Verify(TCryptoEngine& e, const Bytes& data, const Bytes& sig, std::string& signer);
  static int32_t Encode(TCryptoEngine& e, Bytes& data, const std::string& recipients);
  static int32_t Decode(TCryptoEngine& e, Bytes& data);

  Bytes data_ = Bytes(1000, 0x5A);

 private:
  static suite::TempDir* dir_;
  static osslkit::Sandbox* box_;
  static StandIn* standin_;
};

}  // namespace zk::capistandin_test
