#include "excellence/exc4_fixture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>

#include "frame/cp1251.h"
#include "frame/devicewait.h"
#include "frame/keytimeouts.h"
#include "frame/zexroot.h"

namespace exctest {

namespace fs = std::filesystem;

const StandIn& StandIn::Get() {
  static const StandIn standIn = [] {
    StandIn s;
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("cryst.dll");
    if (module == nullptr) throw std::runtime_error("the stand-in cryst.dll is not beside the test");
    auto find = [&](auto& target, const char* name) {
      target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(zk::platform::FindSymbol(module, name));
      if (target == nullptr) throw std::runtime_error(std::string("not the stand-in: no ") + name);
    };
    find(s.MakeUser, "EXC_StandIn_MakeUser");
    find(s.PublicKey, "EXC_StandIn_PublicKey");
    find(s.AttachDevice, "EXC_StandIn_AttachDevice");
    find(s.Control, "StandIn_Control");
    return s;
  }();
  return standIn;
}

PromptScript& Prompts() {
  static PromptScript script;
  return script;
}

int32_t ZK_STDCALL ScriptedPassword(char* Buffer, int32_t BufferSize) {
  PromptScript& script = Prompts();
  ++script.asked;
  if (script.answers.empty()) return 0;
  const std::string answer = script.answers.front();
  if (script.answers.size() > 1) script.answers.erase(script.answers.begin());
  std::memset(Buffer, 0, static_cast<size_t>(BufferSize));
  std::memcpy(Buffer, answer.data(), std::min(answer.size(), static_cast<size_t>(BufferSize)));
  return 1;
}

std::vector<int32_t>& TMStates() {
  static std::vector<int32_t> states;
  return states;
}

void ZK_STDCALL RecordTMState(int32_t State) { TMStates().push_back(State); }

namespace {
std::atomic<uint64_t> g_now{1000000};
uint64_t TestNow() { return g_now.load(); }
void TestSleep(uint32_t ms) { g_now += ms; }
}  // namespace

void UseTestClock() {
  zk::TKeyTimeouts::SetClockForTesting(&TestNow);
  zk::TDeviceWait::SetSleepForTesting(&TestSleep);
}
void Advance(uint64_t seconds) { g_now += seconds * 1000; }

Sandbox::Sandbox() {
  std::random_device seed;
  for (int attempt = 0; root_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("zk_exc4_" + std::to_string(seed()));
    if (fs::create_directory(candidate)) root_ = candidate.string();
    if (attempt > 100) throw std::runtime_error("no test directory");
  }
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void Sandbox::AddUser(const std::string& name, const std::string& password) {
  fs::create_directories(PublicDir(name));
  ASSERT_EQ(StandIn::Get().MakeUser(SecretDir(name).c_str(), name.c_str(), password.c_str(), PublicFile(name).c_str()),
            0)
      << name;
}

std::unique_ptr<zk::TExc4CryptoEngine> Sandbox::Engine(const std::string& name) const {
  auto engine = std::make_unique<zk::TExc4CryptoEngine>();
  Configure(*engine, kSecretKeyDir, SecretDir(name));
  Configure(*engine, kPublicKeyDir, PublicDir(name));
  engine->SetPasswordRequestFunc(&ScriptedPassword);
  return engine;
}

void Sandbox::ExchangeKeys(const std::vector<std::string>& names) {
  for (const std::string& holder : names) {
    auto engine = Engine(holder);
    Configure(*engine, kPasswordTimeout, "0");  // imports need no password
    for (const std::string& owner : names) {
      if (owner == holder) continue;
      ASSERT_EQ(engine->IncludePublicKey(PublicFile(owner).c_str()), 0) << holder << " <- " << owner;
    }
  }
}

void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value) {
  ASSERT_EQ(engine.SetCryptoParamValue(index, value.c_str()), 0) << index;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

SignResult Sign(zk::TCryptoEngine& engine, const Bytes& data) {
  const size_t room = static_cast<size_t>(engine.GetMaxSignatureLength());
  Bytes signature(room + 16, 0xCC);
  int32_t length = -1;
  const int32_t code =
      engine.SignData(data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr);
  for (size_t i = room; i < signature.size(); ++i) EXPECT_EQ(signature[i], 0xCC) << "written past the room";
  signature.resize(code == 0 ? static_cast<size_t>(length) : 0);
  return {code, signature};
}

VerifyResult Verify(zk::TCryptoEngine& engine, const Bytes& data, const Bytes& signature) {
  const size_t room = static_cast<size_t>(engine.GetMaxUIDLength());
  std::string signer(room + 8, '\x7F');
  const int32_t code = engine.VerifyData(data.data(), static_cast<int32_t>(data.size()), signature.data(),
                                         static_cast<int32_t>(signature.size()), signer.data());
  for (size_t i = room; i < signer.size(); ++i) EXPECT_EQ(signer[i], '\x7F') << "written past GetMaxUIDLength";
  const size_t end = signer.find('\0');
  return {code, end == std::string::npos || end >= room ? std::string("<untouched>") : signer.substr(0, end)};
}

CodecResult Encode(zk::TCryptoEngine& engine, const Bytes& plain, const char* recipients) {
  const size_t room = plain.size() + static_cast<size_t>(engine.GetMaxEncodeAddition());
  Bytes buffer(room + 32, 0xCD);
  std::copy(plain.begin(), plain.end(), buffer.begin());
  int32_t length = static_cast<int32_t>(plain.size());
  const int32_t code = engine.EncodeData(buffer.data(), &length, recipients);
  for (size_t i = room; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCD) << "written past the room";
  if (code != 0) {
    EXPECT_EQ(length, static_cast<int32_t>(plain.size()));
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer.begin())) << "a failed EncodeData changed the data";
    return {code, {}, ""};
  }
  buffer.resize(static_cast<size_t>(length));
  return {code, buffer, ""};
}

CodecResult Decode(zk::TCryptoEngine& engine, const Bytes& envelope) {
  Bytes buffer(envelope.size() + 32, 0xCD);
  std::copy(envelope.begin(), envelope.end(), buffer.begin());
  int32_t length = static_cast<int32_t>(envelope.size());
  std::string sender(static_cast<size_t>(engine.GetMaxUIDLength()) + 8, '\x7F');
  const int32_t code = engine.DecodeData(buffer.data(), &length, sender.data());
  for (size_t i = envelope.size(); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCD) << "written past the envelope";
  if (code != 0) {
    EXPECT_EQ(length, static_cast<int32_t>(envelope.size()));
    EXPECT_TRUE(std::equal(envelope.begin(), envelope.end(), buffer.begin())) << "a failed DecodeData changed the data";
    return {code, {}, ""};
  }
  buffer.resize(static_cast<size_t>(length));
  return {code, buffer, sender.substr(0, sender.find('\0'))};
}

std::string ErrorText(zk::TCryptoEngine& engine, int32_t code) {
  std::string text(static_cast<size_t>(engine.GetMaxErrorStringLength()), '\x7F');
  engine.GetCryptoErrorString(code, text.data());
  return text.substr(0, text.find('\0'));
}

void ExcTest::SetUp() {
  StandIn::Get().Control("reset");
  Prompts() = PromptScript();
  TMStates().clear();
  UseTestClock();
  zk::TExc4CryptoEngine().ClearCash();
}

void ExcTest::TearDown() {
  zk::TKeyTimeouts::SetClockForTesting(nullptr);
  zk::TDeviceWait::SetSleepForTesting(nullptr);
  StandIn::Get().AttachDevice(1, nullptr);
}

}  // namespace exctest
