#include "lancrypto/vesta_fixture.h"

#include <filesystem>
#include <random>

#include "frame/cp1251.h"
#include "frame/devicewait.h"
#include "frame/keytimeouts.h"
#include "frame/zexroot.h"

namespace vtest {

namespace fs = std::filesystem;

const StandIn& Toolkit() {
  static const StandIn standIn = [] {
    StandIn s;
    // The same search the engine's binding uses, so both talk to one module.
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("ct512.dll");
    if (module == nullptr) throw std::runtime_error("the stand-in ct512.dll is not beside the test");
    auto find = [&](auto& target, const char* name) {
      target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(zk::platform::FindSymbol(module, name));
      if (target == nullptr) throw std::runtime_error(std::string("not the stand-in: ") + name);
    };
    find(s.MakeUser, "CT_StandIn_MakeUser");
    find(s.AddToEncryptVault, "CT_StandIn_AddToEncryptVault");
    find(s.WriteTouchMemory, "CT_StandIn_WriteTouchMemory");
    find(s.SetTouchMemory, "CT_StandIn_SetTouchMemory");
    find(s.PublicKey, "CT_StandIn_PublicKey");
    find(s.SecretKey, "CT_StandIn_SecretKey");
    find(s.Control, "StandIn_Control");
    return s;
  }();
  return standIn;
}

Sandbox::Sandbox() {
  std::random_device seed;
  for (int attempt = 0; root_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("zk_vesta_" + std::to_string(seed()));
    if (fs::create_directory(candidate)) root_ = candidate.string();
    if (attempt > 100) throw std::runtime_error("no test directory");
  }
  Toolkit().Control("reset");
}

Sandbox::~Sandbox() {
  Toolkit().Control("reset");
  Toolkit().SetTouchMemory(1, nullptr);
  Toolkit().SetTouchMemory(2, nullptr);
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

const User& Sandbox::AddUser(const std::string& uid, const std::string& shortName, const std::string& password,
                             int expiryDays) {
  User user{uid, shortName, password, (fs::path(root_) / ("user" + std::to_string(users_.size() + 1))).string()};
  fs::create_directories(user.dir);
  EXPECT_EQ(Toolkit().MakeUser(uid.c_str(), shortName.c_str(), password.c_str(), user.SignKey().c_str(),
                               user.EncryptKey().c_str(), user.SignPub().c_str(), user.FullPub().c_str(), expiryDays),
            0)
      << uid;
  users_.push_back(user);
  Introduce(users_.back(), users_.back());
  return users_.back();
}

void Sandbox::Introduce(const User& holder, const User& owner) {
  auto engine = Engine(holder);
  EXPECT_EQ(engine->IncludePublicKey(owner.FullPub().c_str()), 0) << owner.uid << " into " << holder.uid;
  EXPECT_EQ(Toolkit().AddToEncryptVault(owner.FullPub().c_str(), holder.EncryptVault().c_str()), 0);
}

std::unique_ptr<zk::TVesta235Engine> Sandbox::Engine(const User& user) const {
  auto engine = std::make_unique<zk::TVesta235Engine>();
  Configure(*engine, kSignKey, user.SignKey());
  Configure(*engine, kSignVault, user.SignVault());
  Configure(*engine, kSignUID, user.uid);
  Configure(*engine, kEncryptKey, user.EncryptKey());
  Configure(*engine, kEncryptVault, user.EncryptVault());
  Configure(*engine, kEncryptUID, user.uid);
  return engine;
}

namespace {
std::deque<std::string> g_passwords;
int g_prompts = 0;
std::vector<int32_t> g_states;
uint64_t g_now = 1000000;

int32_t ZK_STDCALL AnswerPassword(char* buffer, int32_t size) {
  ++g_prompts;
  EXPECT_EQ(size, 255);
  if (g_passwords.empty() || g_passwords.front().empty()) return 0;
  std::snprintf(buffer, static_cast<size_t>(size), "%s", g_passwords.front().c_str());
  g_passwords.pop_front();
  return 1;
}
void ZK_STDCALL SeeState(int32_t state) { g_states.push_back(state); }
uint64_t FakeClock() { return g_now; }
void FakeSleep(uint32_t ms) { g_now += ms; }
}  // namespace

void Callbacks::Install(zk::TCryptoEngine& engine) {
  engine.SetPasswordRequestFunc(&AnswerPassword);
  engine.TMRequestFunc = &SeeState;
}
void Callbacks::Script(std::vector<std::string> passwords) {
  g_passwords.assign(passwords.begin(), passwords.end());
  g_prompts = 0;
  g_states.clear();
}
int Callbacks::Prompts() { return g_prompts; }
std::vector<int32_t>& Callbacks::States() { return g_states; }

FakeTime::FakeTime() {
  zk::TKeyTimeouts::SetClockForTesting(&FakeClock);
  zk::TDeviceWait::SetSleepForTesting(&FakeSleep);
}
FakeTime::~FakeTime() {
  zk::TKeyTimeouts::SetClockForTesting(nullptr);
  zk::TDeviceWait::SetSleepForTesting(nullptr);
}
void FakeTime::Advance(uint64_t ms) { g_now += ms; }
uint64_t FakeTime::Now() { return g_now; }

CodecResult Decode(zk::TCryptoEngine& engine, const Bytes& envelope) {
  CodecResult result = zk::suite::Decode(engine, envelope);
  if (result.code != 0) {
    EXPECT_TRUE(result.senderWritten && result.sender.empty()) << "a failed DecodeData names a sender";
  }
  return result;
}

std::string ErrorText(zk::TCryptoEngine& engine, int32_t code) {
  return zk::Cp1251ToUtf8(zk::suite::ErrorString(engine, code));
}

std::string CurrentUID(zk::TCryptoEngine& engine, int32_t& code) {
  std::string uid(static_cast<size_t>(engine.GetMaxUIDLength()) + 8, '\x7F');
  code = engine.GetCurrentUID(uid.data());
  return uid.substr(0, uid.find('\0'));
}

}  // namespace vtest
