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
#include "support/calls.h"

namespace vtest {

using zk::suite::Bytes;
using zk::suite::RandomBytes;

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

using zk::suite::Configure;

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

// The shared guarded calls: every caller buffer ends at an inaccessible page.
using zk::suite::CodecResult;
using zk::suite::Encode;
using zk::suite::ReadFileBytes;
using zk::suite::Sign;
using zk::suite::SignResult;
using zk::suite::Verify;
using zk::suite::VerifyResult;
using zk::suite::WriteFileBytes;
// The shared guarded decode; a failed one must also leave the sender empty.
CodecResult Decode(zk::TCryptoEngine& engine, const Bytes& envelope);
std::string ErrorText(zk::TCryptoEngine& engine, int32_t code);  // UTF-8
std::string CurrentUID(zk::TCryptoEngine& engine, int32_t& code);

}  // namespace vtest
