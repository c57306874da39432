// The CryptoCom 3.x stand-in loaded at run time, as the adapter loads it, plus helpers that make
// users and walk the adapter's key-loading sequence.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ccom_standin.h"
#include "engines/ccom3x/ccom_api.h"
#include "platform/platform.h"

namespace ccomtest {

using Bytes = std::vector<uint8_t>;

// The implemented calls the tests make.
#define CCOM_TEST_CALLS(X)                                                                                   \
  X(CADB_init) X(CADB_close) X(ECGOST_generate_public_key) X(ECGOST_SIGN_new) X(ECGOST_SIGN_free)           \
  X(ECGOST_sign_init) X(ECGOST_verify_init) X(ECGOST_update) X(ECGOST_sign_final) X(ECGOST_verify_final)    \
  X(ECGOST_DH_new) X(ECGOST_DH_free) X(ECGOST_DH_generate_key) X(ECGOST_DH_compute_key) X(GOSTE_new)        \
  X(GOSTE_free) X(GOSTE_init) X(GOSTE_update) X(GOSTE_mac_update) X(GOSTE_mac_final) X(GOSTE_mac)           \
  X(RAND_bytes) X(GOSTH_new) X(GOSTH_free) X(GOSTH_hash_init) X(GOSTH_update) X(GOSTH_final) X(GOSTH)        \
  X(ERR_set_last_error) X(ERR_get_last_error) X(PSE_CTX_new) X(PSE_CTX_free) X(PSE_CTX_set_path)            \
  X(PSE_CTX_read) X(PSE_CTX_get_pse) X(PSE_CTX_get_mkey) X(PSE_CTX_get_masks) X(PSE_CTX_get_kek)           \
  X(PSE_CTX_get_rand) X(PSE_CTX_set_mkey) X(PSE_CTX_set_masks) X(PSE_CTX_set_kek) X(PSE_CTX_set_rand)       \
  X(PSE_rand_inited) X(CCOM_StandIn_MakeUser) X(StandIn_Control)

struct Toolkit {
  zk::platform::ModuleHandle module = nullptr;
#define CCOM_FIELD(name) decltype(&::name) name = nullptr;
  CCOM_TEST_CALLS(CCOM_FIELD)
#undef CCOM_FIELD
};

// The stand-in under its build path, loaded once for the process; fails the test if it is not there.
Toolkit& Ccom();

// What the toolkit answered before any test ran (no PSE had been read yet).
struct Start {
  int randInited = -1;
  int randBytes = -1;
  int randError = -1;
};
const Start& AtStart();

std::string Native(const std::filesystem::path& p);
Bytes ReadBytes(const std::filesystem::path& p);
void WriteBytes(const std::filesystem::path& p, const Bytes& data);

// A user made by CCOM_StandIn_MakeUser.
struct User {
  std::filesystem::path secretDir;  // the PSE and KEYS
  std::filesystem::path publicFile;
  std::string uid;
};
User MakeUser(const std::filesystem::path& root, const std::string& name, const std::string& description = "test user");

// The public-key file split into its fields; `ok` false (with a failure recorded) when it is malformed.
struct PublicFile {
  bool ok = false;
  Bytes raw;
  uint32_t total = 0, textLen = 0, algorithm = 0, keyLen = 0, signatureLen = 0;
  std::string text;
  Bytes key, signature;
  size_t signedLen = 0;  // bytes covered by the signature
};
PublicFile ParsePublicFile(const Bytes& raw);

// A PSE context that owns its handle.
class PseCtx {
 public:
  PseCtx();
  ~PseCtx();
  PseCtx(const PseCtx&) = delete;
  PseCtx& operator=(const PseCtx&) = delete;
  CCOM_PSE_CTX* get() const { return ctx_; }

 private:
  CCOM_PSE_CTX* ctx_;
};

// The adapter's sequence: read the PSE directory, hand its secrets to a working context, read the
// key file with it. Answers PSE_CTX_read's result for the key file (error in *error).
int ReadKey(const std::filesystem::path& secretDir, const std::filesystem::path& keyFile, PseCtx& working,
            int* error = nullptr);

// Signs data with a key; empty on failure.
Bytes Sign(CCOM_PSE* key, const Bytes& data);
// 1, or 0 with the last error in *error.
int Verify(const Bytes& publicKey, const Bytes& data, const Bytes& signature, int* error = nullptr);

}  // namespace ccomtest
