#include "ccom22/cc_fixture.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/platform.h"

namespace cctest {

namespace fs = std::filesystem;

namespace {

std::string ModuleDir() {
  const std::string exe = zk::platform::HostExecutableFileName();
  const size_t slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

void* Find(zk::platform::ModuleHandle module, const std::string& name) {
  void* symbol = zk::platform::FindSymbol(module, name.c_str());
  if (symbol == nullptr) ADD_FAILURE() << "the stand-in lacks " << name;
  return symbol;
}

template <typename Fn>
void Bind(zk::platform::ModuleHandle module, const std::string& name, Fn& target) {
  target = reinterpret_cast<Fn>(Find(module, name));
}

}  // namespace

const StandIn& StandIn::Get() {
  static const StandIn instance = [] {
    StandIn s;
    zk::platform::ModuleHandle module = zk::platform::LoadModule(ModuleDir() + "cc.dll");
    if (module == nullptr) {
      ADD_FAILURE() << "cc.dll not found beside the test program";
      return s;
    }
    Bind(module, "CC_StandIn_MakeAuthority", s.MakeAuthority);
    Bind(module, "CC_StandIn_MakeUser", s.MakeUser);
    Bind(module, "CC_StandIn_MakeRandomFile", s.MakeRandomFile);
    Bind(module, "CC_StandIn_SetSignatureLength", s.SetSignatureLength);
    Bind(module, "StandIn_Control", s.Control);
#define CC_TEST_BIND(name, bytes) Bind(module, "_" #name "@" #bytes, s.Api.name);
    ZK_CC_FUNCTIONS(CC_TEST_BIND)
#undef CC_TEST_BIND
    return s;
  }();
  return instance;
}

int StandIn::Calls(const std::string& function) const { return Control(("calls " + function).c_str()); }

Sandbox::Sandbox() {
  const StandIn& s = StandIn::Get();
  fs::create_directories(dir_ + "/authority");
  EXPECT_EQ(s.MakeAuthority((dir_ + "/authority").c_str(), 7, authority_), 0);
}

std::string Sandbox::AddUser(const std::string& name, int32_t keyNumber, const std::string& suffix, int64_t fromDays,
                             int64_t toDays) {
  const StandIn& s = StandIn::Get();
  const std::string uid = name + "." + suffix;
  fs::create_directories(CertDir(name));
  fs::create_directories(SecretDir(name));
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_EQ(s.MakeUser(authority_, 7, uid.c_str(), keyNumber, now + fromDays * 86400, now + toDays * 86400,
                       CertDir(name).c_str(), SecretDir(name).c_str(), SelfCert(name).c_str()),
            0);
  EXPECT_EQ(s.MakeRandomFile((UserDir(name) + "/rand").c_str(), 2048), 0);
  uids_.emplace_back(name, uid);
  return uid;
}

std::string Sandbox::UID(const std::string& name) const {
  for (const auto& entry : uids_) {
    if (entry.first == name) return entry.second;
  }
  return std::string();
}

std::string Sandbox::CertPlace(const std::string& dir, const std::string& uid) {
  const size_t dot = uid.find('.');
  std::string path = dir + "/" + uid.substr(0, dot) + "/@";
  for (size_t i = dot + 1; i < uid.size(); ++i) path += std::string("/") + uid[i];
  return path + ".crt";
}

void Sandbox::GiveCert(const std::string& holder, const std::string& owner) const {
  const fs::path target = CertPlace(CertDir(holder), UID(owner));
  fs::create_directories(target.parent_path());
  fs::copy_file(SelfCert(owner), target, fs::copy_options::overwrite_existing);
}

std::unique_ptr<zk::TCcom22Engine> EngineFor(const Sandbox& box, const std::string& user) {
  auto engine = std::make_unique<zk::TCcom22Engine>();
  Configure(*engine, kCurrentDir, box.UserDir(user));
  Configure(*engine, kSecretPath, box.SecretDir(user));
  Configure(*engine, kPublicPath, box.CertDir(user));
  Configure(*engine, kUserId, box.UID(user));
  Configure(*engine, kRandomFile, box.UserDir(user) + "/rand");
  Configure(*engine, kUserCertificate, box.SelfCert(user));
  return engine;
}

void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value) {
  ASSERT_EQ(engine.SetCryptoParamValue(index, value.c_str()), 0);
}

Result Sign(zk::TCryptoEngine& engine, const Bytes& data, const char* signUID) {
  const size_t limit = static_cast<size_t>(engine.GetMaxSignatureLength());
  Bytes buffer(limit + 16, 0xEE);
  int32_t length = -1;
  const int32_t code = engine.SignData(data.data(), static_cast<int32_t>(data.size()), buffer.data(), &length, signUID);
  for (size_t i = limit; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "written past";
  if (code != 0) return {code, {}, {}};
  buffer.resize(static_cast<size_t>(length));
  return {code, buffer, {}};
}

Result Verify(zk::TCryptoEngine& engine, const Bytes& data, const Bytes& signature) {
  std::unique_ptr<uint8_t[]> sig(new uint8_t[signature.size() + 1]);
  std::copy(signature.begin(), signature.end(), sig.get());
  std::vector<char> signer(static_cast<size_t>(engine.GetMaxUIDLength()) + 8, '\0');
  const int32_t code = engine.VerifyData(data.data(), static_cast<int32_t>(data.size()), sig.get(),
                                         static_cast<int32_t>(signature.size()), signer.data());
  return {code, {}, signer.data()};
}

Result Encode(zk::TCryptoEngine& engine, const Bytes& data, const char* recipients) {
  const size_t room = data.size() + static_cast<size_t>(engine.GetMaxEncodeAddition());
  Bytes buffer(room + 16, 0xEE);
  std::copy(data.begin(), data.end(), buffer.begin());
  int32_t length = static_cast<int32_t>(data.size());
  const int32_t code = engine.EncodeData(buffer.data(), &length, recipients);
  for (size_t i = room; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "written past";
  if (code != 0) {
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin())) << "a refused encode changed the data";
    EXPECT_EQ(length, static_cast<int32_t>(data.size()));
    return {code, {}, {}};
  }
  buffer.resize(static_cast<size_t>(length));
  return {code, buffer, {}};
}

Result Decode(zk::TCryptoEngine& engine, const Bytes& data) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[data.size() + 1]);
  std::copy(data.begin(), data.end(), copy.get());
  int32_t length = static_cast<int32_t>(data.size());
  const int32_t code = engine.DecodeData(copy.get(), &length, nullptr);
  if (code != 0) {
    EXPECT_TRUE(std::equal(data.begin(), data.end(), copy.get())) << "a failed decode changed the data";
    return {code, {}, {}};
  }
  return {code, Bytes(copy.get(), copy.get() + length), {}};
}

std::string ErrorString(zk::TCryptoEngine& engine, int32_t code) {
  std::vector<char> text(static_cast<size_t>(engine.GetMaxErrorStringLength()) + 1, '\0');
  engine.GetCryptoErrorString(code, text.data());
  return text.data();
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace cctest
