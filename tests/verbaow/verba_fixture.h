// Shared helpers of the Verba-OW engine's tests: the stand-in wbotho.dll loaded beside the test
// (the module the engine drives), users with key sets on their device directories, engines
// configured for them, and a clock and pause the tests move by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/verbaow/verba_engine.h"

namespace vowtest {

using Bytes = std::vector<uint8_t>;

// Engine parameter numbers as the exports count them (1-based).
enum Param : int32_t {
  kSecretPath = 1,
  kPublicPath = 2,
  kKeySerial = 3,
  kEncodeUID = 4,
  kSignUID = 5,
  kRecipients = 6,
  kKeyDevice = 7,
  kRequestTimeout = 8,
  kLastOpTimeout = 9,
  kSlotZero = 10,
  kResetOnStart = 11,
  kWindowTimeout = 12,
};

struct StandIn {
  int (*MakeKeySet)(const char* deviceDir, const char* encId, const char* signId, const char* publicFile,
                    int format) = nullptr;
  int (*Control)(const char* command) = nullptr;
  int16_t(WB_CALL* InitKey)(const char* device, const char* password) = nullptr;
  int16_t(WB_CALL* GetDrvInfo)(uint8_t* records, int32_t* count) = nullptr;
  int Calls(const std::string& function) const { return Control(("calls " + function).c_str()); }
};
const StandIn& Toolkit();

struct User {
  int number;  // key number 1..9999
  std::string encId, signId;
  std::string dir, device, secret, publicDir, publicFile;
};

// A fresh directory tree, removed with the sandbox. Users get key sets on their own device
// directory and a public-key file in the format given (0: the build's own).
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  const User& AddUser(int number, int format = 0);
  std::unique_ptr<zk::TVerbaOW4Engine> Engine(const User& user) const;
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::vector<std::unique_ptr<User>> users_;
};

// Resets the stand-in (driver, devices, scripts), the binding's key list, and puts a hand-moved
// clock and pause in place; restores the real ones on tear-down.
class VerbaTest : public ::testing::Test {
 public:
  static void Advance(uint64_t ms);

 protected:
  void SetUp() override;
  void TearDown() override;
  // A and B know each other's keys.
  void PairUp(zk::TCryptoEngine& a, const User& ua, zk::TCryptoEngine& b, const User& ub);
  Sandbox sandbox;
};

// Users A (0001) and B (0002) with engines that know each other's public keys.
class VerbaPair : public VerbaTest {
 protected:
  void SetUp() override;
  const User* a = nullptr;
  const User* b = nullptr;
  std::unique_ptr<zk::TVerbaOW4Engine> ea, eb;
};

void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value);
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);
Bytes Text(const std::string& s);

struct Result {
  int32_t code;
  Bytes data;
  std::string uid;
};
// Each checks that nothing lands past the limit the engine announces, and that a failed
// encryption or decryption leaves the caller's data as it was.
Result Sign(zk::TCryptoEngine& engine, const Bytes& data, const char* signUID = nullptr);
Result Verify(zk::TCryptoEngine& engine, const Bytes& data, const Bytes& signature);
Result Encode(zk::TCryptoEngine& engine, const Bytes& plain, const char* recipients);
Result Decode(zk::TCryptoEngine& engine, const Bytes& envelope);
std::string ErrorText(zk::TCryptoEngine& engine, int32_t code);  // as UTF-8

// The key driver's records as the stand-in reports them: encryption identifier and slot.
std::vector<std::pair<std::string, int32_t>> DriverSlots();

}  // namespace vowtest
