// Shared helpers of the Crypto COM 2.2 engine's tests: the stand-in "cc.dll" beside the test
// program (provisioning, control entry, raw toolkit calls), sandboxes of users issued by one
// authority at test time, and engines configured for one user.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/ccom22/cc_api.h"
#include "engines/ccom22/cc_engine.h"
#include "utils/temp_dir.h"

namespace cctest {

using Bytes = std::vector<uint8_t>;

// Parameter numbers as the exports count them (1-based).
enum Param : int32_t {
  kCurrentDir = 1,
  kSecretPath = 2,
  kPublicPath = 3,
  kUserId = 4,
  kCipher = 6,
  kRandomFile = 7,
  kEncryptFor = 8,
  kKeyTimeout = 9,
  kLastOpTimeout = 10,
  kVerifyValidity = 11,
  kHardware = 12,
  kUserCertificate = 19,
};

// The stand-in beside the test program: the module the engine loads.
struct StandIn {
  int (*MakeAuthority)(const char*, int32_t, char*) = nullptr;
  int (*MakeUser)(const char*, int32_t, const char*, int32_t, int64_t, int64_t, const char*, const char*,
                  const char*) = nullptr;
  int (*MakeRandomFile)(const char*, int32_t) = nullptr;
  int (*SetSignatureLength)(int32_t) = nullptr;
  int (*Control)(const char*) = nullptr;
  zk::ccom22::CcApi Api;  // the toolkit's own calls, for opening records by hand

  static const StandIn& Get();
  int Calls(const std::string& function) const;
};

// Users of one authority: <dir>/<name>/{crt,sec,self.crt,rand}. UIDs are "<name>.<n>".
class Sandbox {
 public:
  Sandbox();
  const std::string& Dir() const { return dir_; }
  std::string UserDir(const std::string& name) const { return dir_ + "/" + name; }
  std::string CertDir(const std::string& name) const { return UserDir(name) + "/crt"; }
  std::string SecretDir(const std::string& name) const { return UserDir(name) + "/sec"; }
  std::string SelfCert(const std::string& name) const { return UserDir(name) + "/self.crt"; }
  // Issues a key (number keyNumber) for UID name + "." + suffix; validity in days from now.
  std::string AddUser(const std::string& name, int32_t keyNumber, const std::string& suffix = "1",
                      int64_t fromDays = -1, int64_t toDays = 365);
  // Places the owner's certificate into the holder's certificate directory.
  void GiveCert(const std::string& holder, const std::string& owner) const;
  // The place of a UID's certificate in a directory, as the toolkit rule has it.
  static std::string CertPlace(const std::string& dir, const std::string& uid);
  std::string UID(const std::string& name) const;

 private:
  zk::test::TempDir temp_;
  std::string dir_ = temp_.Dir();
  char authority_[65] = {};
  std::vector<std::pair<std::string, std::string>> uids_;
};

std::unique_ptr<zk::TCcom22Engine> EngineFor(const Sandbox& box, const std::string& user);
void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value);

struct Result {
  int32_t code;
  Bytes data;
  std::string uid;
};
Result Sign(zk::TCryptoEngine& engine, const Bytes& data, const char* signUID = nullptr);
Result Verify(zk::TCryptoEngine& engine, const Bytes& data, const Bytes& signature);
// EncodeData in a buffer of exactly data + GetMaxEncodeAddition bytes, guarded behind; a refused
// encode must leave the data as it was.
Result Encode(zk::TCryptoEngine& engine, const Bytes& data, const char* recipients);
// DecodeData of an exactly sized heap copy; a failed decode must leave the data as it was.
Result Decode(zk::TCryptoEngine& engine, const Bytes& data);
std::string ErrorString(zk::TCryptoEngine& engine, int32_t code);

Bytes RandomBytes(size_t n, uint32_t seed);
Bytes ReadFileBytes(const std::string& path);
uint32_t Le32(const uint8_t* p);

}  // namespace cctest
