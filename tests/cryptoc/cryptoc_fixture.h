// Shared helpers of the Crypto-C engine's tests: the stand-in toolkit loaded beside the test
// (the same module the engine uses), a sandbox of users whose key files the stand-in writes at
// test time, engines configured for them, and calls that watch the caller's buffers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engines/cryptoc/crypc_api.h"
#include "engines/cryptoc/crypc_engine.h"
#include "support/bytes.h"
#include "support/calls.h"

namespace cctest {

using Bytes = std::vector<uint8_t>;

// Engine parameter numbers as the exports count them (1-based).
enum Param : int32_t {
  kPublicKeyFile = 1,
  kSecretKeyFile = 2,
  kAbonentsDir = 3,
  kCADir = 4,
  kEncryptMethod = 5,
  kEncryptForUID = 6,
  kKeyTimeout = 7,
  kLastOpTimeout = 8,
  kHashMethod = 13,
};

constexpr int kGost94 = 0;
constexpr int kGost2001 = 1;

// The stand-in's exports: the 60 primitives, the key writer and the control entry.
struct StandIn {
  zk::cryptoc::CryptoCApi api;
  int (*WriteKeyFiles)(int type, const char* uid, const char* secretKeyPath, const char* publicKeyPath) = nullptr;
  int (*Control)(const char* command) = nullptr;
  // How often the stand-in's function was called since the last "reset".
  int Calls(const std::string& function) const;
};
const StandIn& Toolkit();

// A fresh directory, removed with the sandbox.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Writes a key pair for uid and, when publish, its public key into the correspondents' directory.
  void AddUser(const std::string& uid, int type = kGost2001, bool publish = true);
  const std::string& Root() const { return root_; }
  const std::string& AbonentsDir() const { return abonents_; }
  std::string PublicKeyPath(const std::string& uid) const;
  std::string SecretKeyPath(const std::string& uid) const;
  std::string PublishedPath(const std::string& uid) const;
  std::unique_ptr<zk::TCryptoCEngine> Engine(const std::string& uid) const;

 private:
  std::string UserDir(const std::string& uid) const;
  std::string root_;
  std::string abonents_;
  std::map<std::string, int> users_;
};

// The guarded calls and byte helpers every engine's tests share.
using zk::suite::CodecResult;
using zk::suite::Configure;
using zk::suite::Decode;
using zk::suite::Encode;
using zk::suite::RandomBytes;
using zk::suite::Sign;
using zk::suite::SignResult;
using zk::suite::Verify;
using zk::suite::VerifyResult;
inline Bytes ReadFile(const std::string& path) { return zk::suite::ReadFileBytes(path); }
inline void WriteFile(const std::string& path, const Bytes& data) { zk::suite::WriteFileBytes(path, data); }
inline uint32_t WordAt(const Bytes& data, size_t at) {
  (void)data.at(at + 3);  // out of range throws
  return zk::suite::Le32(data.data() + at);
}
inline void PutWordAt(Bytes& data, size_t at, uint32_t value) { zk::suite::SetLe32(data, at, value); }

// The engine's text of a code as UTF-8.
std::string ErrorTextUtf8(zk::TCryptoEngine& engine, int32_t code);

// GOST R 34.11-94 of the data in one piece straight through the stand-in.
Bytes ToolkitHash(const Bytes& data);

}  // namespace cctest
