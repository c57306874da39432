// Shared helpers of the Message-PRO engines' tests: the stand-ins beside the test program, users
// of one authority issued at test time, and engines configured for one of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engines/mpro/mpro_engine.h"
#include "utils/temp_dir.h"

namespace mprotest {

using Bytes = std::vector<uint8_t>;

// Positions (1-based) as the exports count them.
enum Param : int32_t { kOwnCert = 1, kCertDir = 2, kWorkDir = 3, kCipher = 4, kPse = 7, kTrustedCa = 8,
                       kRecipients = 19, kLocation = 20, kTimeout = 22, kCrlDir0 = 25, kCrlDirNewer = 26 };

// One plug-in stand-in (by file name) beside the test program.
struct StandIn {
  int (*MakeCa)(const char*, const char*, const char*) = nullptr;
  int (*MakeUser)(const char*, const char*, const char*, int64_t, const char*, const char*) = nullptr;
  int (*MakeCrl)(const char*, const char*, const char*, const char*) = nullptr;
  int (*ExportKey)(const char*, const char*) = nullptr;
  int (*Control)(const char*) = nullptr;
  static const StandIn& Get(const std::string& file = "mplug.dll");
  int Calls(const std::string& function) const { return Control(("calls " + function).c_str()); }
};

// An authority with its users: <dir>/ca.{key,pem}, <dir>/<name>.pse, and every user's certificate
// in <dir>/certs as "<name>.pem" (subject "/C=RU/O=Bank/CN=<name>" unless given).
class Sandbox {
 public:
  Sandbox();
  const std::string& Dir() const { return dir_; }
  std::string CertDir() const { return dir_ + "/certs/"; }
  std::string CaKey() const { return dir_ + "/ca.key"; }
  std::string CaCert() const { return dir_ + "/ca.pem"; }
  // Issues a user; the certificate goes to `certFile` (default: the certificate directory).
  void AddUser(const std::string& name, const std::string& subject = "", int64_t validSeconds = 0,
               std::string certFile = "");
  std::string Pse(const std::string& name) const { return dir_ + "/" + name + ".pse"; }

 private:
  zk::test::TempDir temp_;
  std::string dir_ = temp_.Dir();
};

// An engine of the type for the user, with the given context time-out.
std::unique_ptr<zk::TCryptoEngine> EngineFor(const std::string& type, const Sandbox& box, const std::string& user,
                                             const std::string& timeout = "60");

struct Signed {
  int32_t code;
  Bytes signature;
};
Signed Sign(zk::TCryptoEngine& e, const Bytes& data, const char* signUid = "");
int32_t Verify(zk::TCryptoEngine& e, const Bytes& data, const Bytes& signature, std::string& signer);
int32_t Encode(zk::TCryptoEngine& e, Bytes& data, const char* recipients);
int32_t Decode(zk::TCryptoEngine& e, Bytes& data);
std::string ReadText(const std::string& path);

}  // namespace mprotest
