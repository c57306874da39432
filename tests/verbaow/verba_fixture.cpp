#include "verbaow/verba_fixture.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "frame/cp1251.h"
#include "frame/devicewait.h"
#include "frame/keytimeouts.h"
#include "frame/zexroot.h"

namespace vowtest {

namespace fs = std::filesystem;

namespace {

std::atomic<uint64_t> g_now{1000000};
uint64_t FakeClock() { return g_now.load(); }
// A pause moves the clock as far as the real one would have gone.
void FakeSleep(uint32_t ms) { g_now += ms; }

constexpr uint8_t kGuard = 0xC5;
constexpr size_t kGuardBytes = 64;

template <typename Fn>
Fn Symbol(zk::platform::ModuleHandle module, const char* name) {
  Fn fn = reinterpret_cast<Fn>(zk::platform::FindSymbol(module, name));
  if (fn == nullptr) throw std::runtime_error(std::string("the stand-in lacks ") + name);
  return fn;
}

bool GuardIntact(const Bytes& buffer, size_t from) {
  for (size_t i = from; i < buffer.size(); ++i) {
    if (buffer[i] != kGuard) return false;
  }
  return true;
}

}  // namespace

const StandIn& Toolkit() {
  static const StandIn standIn = [] {
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("wbotho.dll");
    if (module == nullptr) throw std::runtime_error("the stand-in wbotho.dll is not beside the test");
    StandIn s;
    s.MakeKeySet = Symbol<decltype(s.MakeKeySet)>(module, "VOW_StandIn_MakeKeySet");
    s.Control = Symbol<decltype(s.Control)>(module, "StandIn_Control");
    s.InitKey = Symbol<decltype(s.InitKey)>(module, "InitKey");
    s.GetDrvInfo = Symbol<decltype(s.GetDrvInfo)>(module, "GetDrvInfo");
    return s;
  }();
  return standIn;
}

Sandbox::Sandbox() {
  std::random_device seed;
  for (int attempt = 0; root_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("zk_vow_" + std::to_string(seed()));
    if (fs::create_directory(candidate)) root_ = candidate.string();
    if (attempt > 100) throw std::runtime_error("no test directory");
  }
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

const User& Sandbox::AddUser(int number, int format) {
  auto user = std::make_unique<User>();
  char id[16];
  std::snprintf(id, sizeof id, "%04d000777", number);
  user->number = number;
  user->encId = id;
  user->signId = user->encId + "01";
  user->dir = (fs::path(root_) / ("user" + std::to_string(number))).string();
  user->device = (fs::path(user->dir) / "device").string();
  user->secret = (fs::path(user->dir) / "secret").string();
  user->publicDir = (fs::path(user->dir) / "public").string();
  user->publicFile = (fs::path(user->dir) / "self.pk").string();
  for (const std::string* dir : {&user->device, &user->secret, &user->publicDir}) fs::create_directories(*dir);
  const int status = Toolkit().MakeKeySet(user->device.c_str(), user->encId.c_str(), user->signId.c_str(),
                                          user->publicFile.c_str(), format);
  if (status != 0) throw std::runtime_error("key set not written: " + std::to_string(status));
  users_.push_back(std::move(user));
  return *users_.back();
}

std::unique_ptr<zk::TVerbaOW4Engine> Sandbox::Engine(const User& user) const {
  auto engine = std::make_unique<zk::TVerbaOW4Engine>();
  Configure(*engine, kSecretPath, user.secret);
  Configure(*engine, kPublicPath, user.publicDir);
  Configure(*engine, kEncodeUID, user.encId);
  Configure(*engine, kSignUID, user.signId);
  Configure(*engine, kKeyDevice, user.device);
  return engine;
}

void VerbaTest::SetUp() {
  ASSERT_EQ(Toolkit().Control("reset"), 0);
  zk::verbaow::TVerbaODLL::ForgetKeys();
  zk::TKeyTimeouts::SetClockForTesting(&FakeClock);
  zk::TDeviceWait::SetSleepForTesting(&FakeSleep);
}

void VerbaTest::TearDown() {
  zk::TKeyTimeouts::SetClockForTesting(nullptr);
  zk::TDeviceWait::SetSleepForTesting(nullptr);
}

void VerbaTest::Advance(uint64_t ms) { g_now += ms; }

void VerbaTest::PairUp(zk::TCryptoEngine& a, const User& ua, zk::TCryptoEngine& b, const User& ub) {
  ASSERT_EQ(a.IncludePublicKey(ub.publicFile.c_str()), 0);
  ASSERT_EQ(b.IncludePublicKey(ua.publicFile.c_str()), 0);
}

void VerbaPair::SetUp() {
  VerbaTest::SetUp();
  a = &sandbox.AddUser(1);
  b = &sandbox.AddUser(2);
  ea = sandbox.Engine(*a);
  eb = sandbox.Engine(*b);
  PairUp(*ea, *a, *eb, *b);
}

void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value) {
  ASSERT_EQ(engine.SetCryptoParamValue(index, value.c_str()), 0) << index;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Result Sign(zk::TCryptoEngine& engine, const Bytes& data, const char* signUID) {
  const size_t limit = static_cast<size_t>(engine.GetMaxSignatureLength());
  Bytes buffer(limit + kGuardBytes, kGuard);
  int32_t length = -1;
  Result r{engine.SignData(data.data(), static_cast<int32_t>(data.size()), buffer.data(), &length, signUID), {}, {}};
  EXPECT_TRUE(GuardIntact(buffer, limit)) << "written past GetMaxSignatureLength";
  if (r.code == 0) r.data.assign(buffer.begin(), buffer.begin() + length);
  if (r.code != 0) {
    EXPECT_TRUE(GuardIntact(buffer, 0)) << "a refused signature reached the caller's buffer";
  }
  return r;
}

Result Verify(zk::TCryptoEngine& engine, const Bytes& data, const Bytes& signature) {
  const size_t limit = static_cast<size_t>(engine.GetMaxUIDLength());
  Bytes uid(limit + kGuardBytes, kGuard);
  Result r{engine.VerifyData(data.data(), static_cast<int32_t>(data.size()), signature.data(),
                             static_cast<int32_t>(signature.size()), reinterpret_cast<char*>(uid.data())),
           {}, {}};
  EXPECT_TRUE(GuardIntact(uid, limit)) << "written past GetMaxUIDLength";
  if (r.code == 0) r.uid = reinterpret_cast<const char*>(uid.data());
  return r;
}

Result Encode(zk::TCryptoEngine& engine, const Bytes& plain, const char* recipients) {
  const size_t limit = plain.size() + static_cast<size_t>(engine.GetMaxEncodeAddition());
  Bytes buffer(limit + kGuardBytes, kGuard);
  std::copy(plain.begin(), plain.end(), buffer.begin());
  int32_t length = static_cast<int32_t>(plain.size());
  Result r{engine.EncodeData(buffer.data(), &length, recipients), {}, {}};
  EXPECT_TRUE(GuardIntact(buffer, limit)) << "written past GetMaxEncodeAddition";
  if (r.code != 0) {
    EXPECT_EQ(length, static_cast<int32_t>(plain.size()));
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer.begin())) << "a failure changed the data";
  } else {
    r.data.assign(buffer.begin(), buffer.begin() + length);
  }
  return r;
}

Result Decode(zk::TCryptoEngine& engine, const Bytes& envelope) {
  Bytes buffer(envelope.size() + kGuardBytes, kGuard);
  std::copy(envelope.begin(), envelope.end(), buffer.begin());
  const size_t limit = static_cast<size_t>(engine.GetMaxUIDLength());
  Bytes sender(limit + kGuardBytes, kGuard);
  int32_t length = static_cast<int32_t>(envelope.size());
  Result r{engine.DecodeData(buffer.data(), &length, reinterpret_cast<char*>(sender.data())), {}, {}};
  EXPECT_TRUE(GuardIntact(buffer, envelope.size()));
  EXPECT_TRUE(GuardIntact(sender, limit));
  if (r.code != 0) {
    EXPECT_TRUE(std::equal(envelope.begin(), envelope.end(), buffer.begin())) << "a failure changed the data";
  } else {
    r.data.assign(buffer.begin(), buffer.begin() + length);
    r.uid = reinterpret_cast<const char*>(sender.data());
  }
  return r;
}

std::string ErrorText(zk::TCryptoEngine& engine, int32_t code) {
  std::string buffer(static_cast<size_t>(engine.GetMaxErrorStringLength()), 'x');
  engine.GetCryptoErrorString(code, buffer.data());
  return zk::Cp1251ToUtf8(buffer.c_str());
}

std::vector<std::pair<std::string, int32_t>> DriverSlots() {
  uint8_t raw[16 * 32] = {};
  int32_t count = 0;
  EXPECT_EQ(Toolkit().GetDrvInfo(raw, &count), 0);
  std::vector<std::pair<std::string, int32_t>> slots;
  for (int32_t i = 0; i < count; ++i) {
    int32_t slot = 0;
    std::memcpy(&slot, raw + i * 32 + 28, 4);
    slots.emplace_back(std::string(reinterpret_cast<const char*>(raw + i * 32), 10), slot);
  }
  return slots;
}

}  // namespace vowtest
