// Shared helpers of the Validata engine's tests: the stand-in "cpki1.dll" beside the test
// program, one authority with users issued at test time (kept for the whole program: RSA keys
// take a while), and engines configured for one user.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/validata/vldt_engine.h"
#include "utils/temp_dir.h"

namespace vtest {

using Bytes = std::vector<uint8_t>;

enum Param : int32_t {
  kProfile = 1, kPse, kStore, kLdap, kEncryptFor, kRequestTimeout, kLastOpTimeout, kServerMode, kServerEku,
  kUidLocation, kSignEku, kCashId, kInitFlags
};

struct StandIn {
  int (*MakeCa)(const char*, const char*) = nullptr;
  int (*MakePse)(const char*, const char*, const char*, uint32_t, const char*, int64_t, int64_t, const char*,
                 const char*, int32_t) = nullptr;
  int (*MakeCrl)(const char*, const char*, const char*, int32_t) = nullptr;
  int (*ExportKey)(const char*, const char*) = nullptr;
  int (*FillStore)(const char*, const char*, const char*, const char*, int32_t) = nullptr;
  int (*AddToStore)(const char*, const char*) = nullptr;
  int (*Control)(const char*) = nullptr;
  static const StandIn& Get();
  int Calls(const std::string& function) const { return Control(("calls " + function).c_str()); }
};

// Users of one authority ("C=RU,O=Bank,CN=Root"): <dir>/<name>.pse and <name>.cer (DER).
// alice, bob, carol: key usage digitalSignature|keyEncipherment, EKU emailProtection;
// dave: no EKUs; erin: clientAuth only. Serials 0A01.., by order.
class Pki {
 public:
  static Pki& Get();
  const std::string& Dir() const { return dir_; }
  std::string Pse(const std::string& user) const { return dir_ + "/" + user + ".pse"; }
  std::string Cert(const std::string& user) const { return dir_ + "/" + user + ".cer"; }
  std::string CaDir() const { return dir_ + "/ca"; }
  std::string Other() const { return dir_ + "/other"; }  // a second authority nobody trusts

 private:
  Pki();
  zk::test::TempDir temp_;
  std::string dir_ = temp_.Dir();
};

// An engine for the user with a store of its own in a fresh directory.
std::unique_ptr<zk::TValidataEngine> EngineFor(const std::string& user, const std::string& storeDir);
void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value);
Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& data);
std::string Text(zk::TCryptoEngine& engine, int32_t code);

}  // namespace vtest
