#include "cryptoc/cryptoc_fixture.h"

#include <filesystem>
#include <random>

#include "frame/cp1251.h"
#include "frame/zexroot.h"

namespace cctest {

namespace fs = std::filesystem;

const StandIn& Toolkit() {
  static const StandIn standIn = [] {
    StandIn s;
    // The same search the engine's binding uses, so both talk to one module.
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("libcrypt.dll");
    if (module == nullptr) throw std::runtime_error("the stand-in libcrypt.dll is not beside the test");
#define X(name) s.api.name = reinterpret_cast<decltype(s.api.name)>(zk::platform::FindSymbol(module, #name));
    ZK_CRYPTOC_FUNCTIONS
#undef X
    s.WriteKeyFiles = reinterpret_cast<decltype(s.WriteKeyFiles)>(
        zk::platform::FindSymbol(module, "CrypC_StandIn_WriteKeyFiles"));
    s.Control = reinterpret_cast<decltype(s.Control)>(zk::platform::FindSymbol(module, "StandIn_Control"));
    if (s.WriteKeyFiles == nullptr || s.Control == nullptr) throw std::runtime_error("not the stand-in");
    return s;
  }();
  return standIn;
}

int StandIn::Calls(const std::string& function) const { return Control(("calls " + function).c_str()); }

Sandbox::Sandbox() {
  std::random_device seed;
  for (int attempt = 0; root_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("zk_crypc_" + std::to_string(seed()));
    if (fs::create_directory(candidate)) root_ = candidate.string();
    if (attempt > 100) throw std::runtime_error("no test directory");
  }
  abonents_ = (fs::path(root_) / "abonents").string();
  fs::create_directory(abonents_);
  fs::create_directory(fs::path(root_) / "ca");
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string Sandbox::UserDir(const std::string& uid) const {
  return (fs::path(root_) / ("user" + std::to_string(users_.at(uid)))).string();
}

std::string Sandbox::PublicKeyPath(const std::string& uid) const { return (fs::path(UserDir(uid)) / "self.pub").string(); }
std::string Sandbox::SecretKeyPath(const std::string& uid) const { return (fs::path(UserDir(uid)) / "self.sec").string(); }
std::string Sandbox::PublishedPath(const std::string& uid) const {
  return (fs::path(abonents_) / ("user" + std::to_string(users_.at(uid)) + ".pub")).string();
}

void Sandbox::AddUser(const std::string& uid, int type, bool publish) {
  if (users_.count(uid) == 0) users_.emplace(uid, static_cast<int>(users_.size()) + 1);
  fs::create_directories(UserDir(uid));
  ASSERT_EQ(Toolkit().WriteKeyFiles(type, uid.c_str(), SecretKeyPath(uid).c_str(), PublicKeyPath(uid).c_str()), 0)
      << uid;
  // Copied by hand: MinGW's copy_file refuses to overwrite.
  if (publish) WriteFile(PublishedPath(uid), ReadFile(PublicKeyPath(uid)));
}

std::unique_ptr<zk::TCryptoCEngine> Sandbox::Engine(const std::string& uid) const {
  auto engine = std::make_unique<zk::TCryptoCEngine>();
  Configure(*engine, kPublicKeyFile, PublicKeyPath(uid));
  Configure(*engine, kSecretKeyFile, SecretKeyPath(uid));
  Configure(*engine, kAbonentsDir, abonents_);
  Configure(*engine, kCADir, (fs::path(root_) / "ca").string());
  return engine;
}

std::string ErrorTextUtf8(zk::TCryptoEngine& engine, int32_t code) {
  return zk::Cp1251ToUtf8(zk::suite::ErrorString(engine, code));
}

Bytes ToolkitHash(const Bytes& data) {
  const auto& api = Toolkit().api;
  Bytes work(zk::cryptoc::kWorkBlockSize, 0);
  Bytes digest(32);
  // The work block starts with the substitution table the engine uses; the stand-in refuses any
  // other, so the table itself is under test here too.
  static const uint8_t kSbox[128] = {
      1,  15, 13, 0,  5,  7,  10, 4,  9,  2,  3,  14, 6,  11, 8,  12, 13, 11, 4,  1,  3,  15, 5,  9,  0,  10,
      14, 7,  6,  8,  2,  12, 4,  11, 10, 0,  7,  2,  1,  13, 3,  6,  8,  5,  9,  12, 15, 14, 6,  12, 7,  1,
      5,  15, 13, 8,  4,  10, 9,  14, 0,  3,  11, 2,  7,  13, 10, 1,  0,  8,  9,  15, 14, 4,  6,  12, 11, 2,
      5,  3,  5,  8,  1,  13, 10, 3,  4,  2,  14, 15, 12, 7,  6,  0,  9,  11, 14, 11, 4,  12, 6,  13, 15, 10,
      2,  3,  8,  1,  0,  7,  5,  9,  4,  10, 9,  2,  13, 8,  0,  14, 6,  11, 1,  12, 7,  15, 5,  3};
  std::copy(std::begin(kSbox), std::end(kSbox), work.begin());
  EXPECT_EQ(api.CrypC_R34_11_1994_init(work.data()), 0);
  EXPECT_EQ(api.CrypC_R34_11_1994_update(work.data(), data.data(), static_cast<uint32_t>(data.size())), 0);
  EXPECT_EQ(api.CrypC_R34_11_1994_final(work.data(), digest.data()), 0);
  api.CrypC_R34_11_1994_clear(work.data());
  return digest;
}

}  // namespace cctest
