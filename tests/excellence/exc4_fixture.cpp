#include "excellence/exc4_fixture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>

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
