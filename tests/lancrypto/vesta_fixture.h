// Shared helpers of the LAN Crypto engine's tests: the stand-in ct512.dll loaded beside the test
// (the module the engine uses), a sandbox of users whose keys the stand-in writes at test time,
// engines configured for them, scripted host callbacks, and calls that watch the caller's buffers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engines/lancrypto/vesta_engine.h"

namespace vtest {

using Bytes = std::vector<uint8_t>;

// Engine parameter numbers as the exports count them (1-based).
enum Param : int32_t {
  kSignKey = 1,
  kSignVault = 2,
  kSignMethod = 3,
  kSignUID = 4,
  kEncryptKey = 5,
  kEncryptVault = 6,
  kEncryptMethod = 7,
  kEncryptUID = 8,
  kPort = 12,
  kTimeout = 13,
  kEncryptForUID = 15,
  kWindow = 16,
};

struct StandIn {
  int (*MakeUser)(const char*, const char*, const char*, const char*, const char*, const char*, const char*, int) = nullptr;
  int (*AddToEncryptVault)(const char* fullPub, const char* vault) = nullptr;
  int (*WriteTouchMemory)(const char* signKey, const char* encKey, const char* image) = nullptr;
  int (*SetTouchMemory)(int port, const char* image) = nullptr;
  int (*PublicKey)(const char* keyFile, uint8_t* out64) = nullptr;
  int (*SecretKey)(const char* keyFile, const char* password, uint8_t* out32) = nullptr;
  int (*Control)(const char* command) = nullptr;
  int Calls(const std::string& function) const { return Control(("calls " + function).c_str()); }
};
const StandIn& Toolkit();

struct User {
  std::string uid, shortName, password, dir;
  std::string SignKey() const { return dir + "/sign.key"; }
  std::string EncryptKey() const { return dir + "/priv.key"; }
  std::string SignPub() const { return dir + "/sign.pub"; }
  std::string FullPub() const { return dir + "/full.pub"; }
  std::string SignVault() const { return dir + "/not512.vlt"; }
  std::string EncryptVault() const { return dir + "/ves512.vlt"; }
  std::string Image() const { return dir + "/tm.img"; }
};

// A fresh directory of users who know each other's public keys; removed with the sandbox.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const User& AddUser(const std::string& uid, const std::string& shortName, const std::string& password = "pw",
                      int expiryDays = 0);
  // Puts the public keys of `owner` into the vaults of `holder`.
  void Introduce(const User& holder, const User& owner);
  std::unique_ptr<zk::TVesta235Engine> Engine(const User& user) const;
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::deque<User> users_;
};

void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value);

// Scripted host callbacks: passwords answered in order ("" from an exhausted script cancels),
// and the touch-memory States seen.
struct Callbacks {
  static void Install(zk::TCryptoEngine& engine);
  static void Script(std::vector<std::string> passwords);
  static int Prompts();
  static std::vector<int32_t>& States();
};

// A clock and a pause under the test's control: each pause advances the clock.
struct FakeTime {
  FakeTime();
  ~FakeTime();
  static void Advance(uint64_t ms);
  static uint64_t Now();
};

struct SignResult {
  int32_t code;
  Bytes signature;
};
SignResult Sign(zk::TCryptoEngine& engine, const Bytes& data, const char* uid = nullptr);
struct VerifyResult {
  int32_t code;
  std::string signer;
};
VerifyResult Verify(zk::TCryptoEngine& engine, const Bytes& data, const Bytes& signature);
struct CodecResult {
  int32_t code;
  Bytes data;
  std::string sender;
};
// In place, in a buffer of the input plus GetMaxEncodeAddition; nothing may be written past it,
// and a failure must leave the input as it was.
CodecResult Encode(zk::TCryptoEngine& engine, const Bytes& plain, const char* recipient);
CodecResult Decode(zk::TCryptoEngine& engine, const Bytes& envelope);
std::string ErrorText(zk::TCryptoEngine& engine, int32_t code);  // UTF-8
std::string CurrentUID(zk::TCryptoEngine& engine, int32_t& code);

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);
Bytes RandomBytes(size_t size, uint32_t seed);

}  // namespace vtest
