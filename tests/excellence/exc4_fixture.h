// Shared helpers of the Excellence engine's tests: the stand-in cryst.dll beside the test (the same
// module the engine loads), users provisioned at test time, engines configured for them, a
// scripted password prompt and touch-memory prompt, and a clock the tests move.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/excellence/ce_exc4.h"
#include "support/calls.h"
#include "zk_mint.h"

namespace exctest {

using zk::suite::Bytes;

// Engine parameter numbers as the exports count them (1-based).
enum Param : int32_t {
  kSecretKeyDir = 2,
  kPublicKeyDir = 3,
  kLanguage = 7,
  kSigKeyLen = 8,
  kEncryptForUID = 9,
  kPasswordTimeout = 12,
  kLastOpTimeout = 14,
  kDeviceDll = 16,
  kPort = 17,
  kPreviousKeys = 19,
  kTMTimeout = 20,
};

struct StandIn {
  int (*MakeUser)(const char* secretDir, const char* uid, const char* password, const char* publicFile) = nullptr;
  int (*PublicKey)(const char* secretDir, int generation, uint8_t* sign64, uint8_t* exchange64) = nullptr;
  int (*AttachDevice)(int port, const char* dir) = nullptr;
  int (*Control)(const char* command) = nullptr;
  static const StandIn& Get();
  int Calls(const std::string& function) const { return Control(("calls " + function).c_str()); }
};

// What the host's password prompt answers, in order; an empty script cancels.
struct PromptScript {
  std::vector<std::string> answers;
  int asked = 0;
};
PromptScript& Prompts();
int32_t ZK_STDCALL ScriptedPassword(char* Buffer, int32_t BufferSize);
// The States the touch-memory prompt was called with.
std::vector<int32_t>& TMStates();
void ZK_STDCALL RecordTMState(int32_t State);

// The clock every key holder reads, moved by Advance and by the device wait's pauses.
void UseTestClock();
void Advance(uint64_t seconds);

// Users: <root>/<name>/SECRET, <name>/PUBLIC and <name>.pub, the public-key file for others.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // A new user, or with the same name once more, a renewal of its keys (one more generation).
  void AddUser(const std::string& name, const std::string& password);
  std::string SecretDir(const std::string& name) const { return root_ + "/" + name + "/SECRET"; }
  std::string PublicDir(const std::string& name) const { return root_ + "/" + name + "/PUBLIC"; }
  std::string PublicFile(const std::string& name) const { return root_ + "/" + name + ".pub"; }
  const std::string& Root() const { return root_; }
  // An engine for the user, with the scripted password prompt.
  std::unique_ptr<zk::TExc4CryptoEngine> Engine(const std::string& name) const;
  // Every user's public key in every other user's directory, through IncludePublicKey.
  void ExchangeKeys(const std::vector<std::string>& names);

 private:
  std::string root_;
};

// The shared guarded calls: every caller buffer ends at an inaccessible page.
using zk::suite::CodecResult;
using zk::suite::Configure;
using zk::suite::Decode;
using zk::suite::Encode;
using zk::suite::ErrorString;
using zk::suite::Sign;
using zk::suite::SignResult;
using zk::suite::Text;
using zk::suite::Verify;
using zk::suite::VerifyResult;

// Resets the stand-in's scripts, the prompts and the password cache before each test.
class ExcTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace exctest
