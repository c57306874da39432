// Shared helpers of the CryptoCom 3.x engine's tests: the stand-in toolkit the engine loads (its
// provisioning, control entry and raw primitives), sandboxes of users provisioned at test time,
// engines configured for one user, and independent readers of the engine's formats.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/ccom3x/ccom_api.h"
#include "engines/ccom3x/ccom_engine.h"
#include "support/bytes.h"
#include "support/calls.h"
#include "utils/temp_dir.h"

extern "C" {
int CCOM_StandIn_MakeUser(const char* secretKeyDir, const char* publicKeyFile, const char* uid,
                          const char* description);
int StandIn_Control(const char* command);
}

namespace ccomtest {

using Bytes = std::vector<uint8_t>;

// Engine parameter numbers as the exports count them (1-based).
enum Param : int32_t {
  kPublicKeyFile = 1,
  kSecretKeyDir = 2,
  kKeyDevice = 3,
  kAbonentsDir = 4,
  kEncryptMethod = 5,
  kEncryptForUID = 6,
  kKeyTimeout = 7,
  kLastOpTimeout = 8,
};

// The stand-in "ccom.dll", the same module the engine loads (found by the library's toolkit search).
struct StandIn {
#define CCOM_TEST_FN(name) decltype(&::name) name = nullptr;
  CCOM_TEST_FN(CCOM_StandIn_MakeUser)
  CCOM_TEST_FN(StandIn_Control)
  CCOM_TEST_FN(GOSTE_new) CCOM_TEST_FN(GOSTE_free) CCOM_TEST_FN(GOSTE_init) CCOM_TEST_FN(GOSTE_update)
  CCOM_TEST_FN(GOSTE_mac_update) CCOM_TEST_FN(GOSTE_mac_final)
  CCOM_TEST_FN(GOSTH_new) CCOM_TEST_FN(GOSTH_free) CCOM_TEST_FN(GOSTH_hash_init) CCOM_TEST_FN(GOSTH_update)
  CCOM_TEST_FN(GOSTH_final)
  CCOM_TEST_FN(ECGOST_DH_new) CCOM_TEST_FN(ECGOST_DH_free) CCOM_TEST_FN(ECGOST_DH_generate_key)
  CCOM_TEST_FN(ECGOST_DH_compute_key)
  CCOM_TEST_FN(ECGOST_SIGN_new) CCOM_TEST_FN(ECGOST_SIGN_free) CCOM_TEST_FN(ECGOST_sign_init)
  CCOM_TEST_FN(ECGOST_verify_init) CCOM_TEST_FN(ECGOST_update) CCOM_TEST_FN(ECGOST_sign_final)
  CCOM_TEST_FN(ECGOST_verify_final)
  CCOM_TEST_FN(PSE_CTX_new) CCOM_TEST_FN(PSE_CTX_free) CCOM_TEST_FN(PSE_CTX_set_path) CCOM_TEST_FN(PSE_CTX_read)
  CCOM_TEST_FN(PSE_CTX_get_pse) CCOM_TEST_FN(PSE_CTX_get_mkey) CCOM_TEST_FN(PSE_CTX_get_masks)
  CCOM_TEST_FN(PSE_CTX_get_kek) CCOM_TEST_FN(PSE_CTX_get_rand) CCOM_TEST_FN(PSE_CTX_set_mkey)
  CCOM_TEST_FN(PSE_CTX_set_masks) CCOM_TEST_FN(PSE_CTX_set_kek) CCOM_TEST_FN(PSE_CTX_set_rand)
  CCOM_TEST_FN(RAND_bytes) CCOM_TEST_FN(ERR_get_last_error)
#undef CCOM_TEST_FN

  // Loaded once per process; a test fails when the module or a name is missing.
  static const StandIn& Get();
  // How often the function was called since the last reset.
  int Calls(const std::string& function) const;
  void Control(const std::string& command) const;
};

// A directory of users: <dir>/<name>/SK (PSE and KEYS), <name>/self.pub, <name>/ABONENTS.
class Sandbox {
 public:
  Sandbox() = default;
  const std::string& Dir() const { return dirPath_; }
  std::string UserDir(const std::string& name) const { return dirPath_ + "/" + name; }
  std::string PublicKeyFile(const std::string& name) const { return UserDir(name) + "/self.pub"; }
  std::string SecretDir(const std::string& name) const { return UserDir(name) + "/SK"; }
  std::string AbonentsDir(const std::string& name) const { return UserDir(name) + "/ABONENTS"; }
  // Provisions a user (UID = name unless given).
  void AddUser(const std::string& name, const std::string& uid = "", const std::string& description = "test user");
  // Puts the public-key file of `owner` into the correspondents' directory of `holder`.
  void GiveKey(const std::string& holder, const std::string& owner, const std::string& fileName = "") const;

 private:
  zk::test::TempDir dir_;
  std::string dirPath_ = dir_.Dir();
};

std::unique_ptr<zk::TCryptoCom3xEngine> EngineFor(const Sandbox& box, const std::string& user);

// The guarded calls and byte helpers every engine's tests share.
using zk::suite::CodecResult;
using zk::suite::Configure;
using zk::suite::CopyFileBytes;
using zk::suite::Cp1251;
using zk::suite::CurrentUID;
using zk::suite::Decode;
using zk::suite::Encode;
using zk::suite::ErrorString;
using zk::suite::Le32;
using zk::suite::PutLe32;
using zk::suite::RandomBytes;
using zk::suite::ReadFileBytes;
using zk::suite::Sign;
using zk::suite::SignResult;
using zk::suite::Text;
using zk::suite::Verify;
using zk::suite::VerifyResult;
using zk::suite::WriteFileBytes;

// A public-key file read independently: the UID and the 65-byte key.
struct PublicKeyFields {
  std::string uid;
  Bytes key;
};
PublicKeyFields ReadPublicKey(const std::string& path);

// An envelope split by an independent reader.
struct EnvelopeEntry {
  std::string uid;
  Bytes mac, wrapped;
};
struct EnvelopeFields {
  bool ok = false;
  uint32_t count = 0, method = 0;
  std::string sender;
  std::vector<EnvelopeEntry> entries;
  Bytes vector, mac, value, cipher;
  size_t tailAt = 0;  // offset of the vector
};
EnvelopeFields SplitEnvelope(const Bytes& envelope);

// The raw primitives, straight from the stand-in.
Bytes RawDerive(const Bytes& agreed);
Bytes RawCrypt(int method, bool encrypt, const Bytes& key, const Bytes& vector, const Bytes& data);
Bytes RawMac(const Bytes& key, const Bytes& data);
// The agreed value between a user's private key (from the PSE) and a public value.
Bytes AgreeWithUser(const Sandbox& box, const std::string& user, const Bytes& publicValue);
bool RawVerify(const Bytes& publicKey, const Bytes& message, const Bytes& signature);

}  // namespace ccomtest
