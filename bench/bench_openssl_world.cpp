#include "bench_openssl_world.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <utility>

#include "zk_mint.h"

namespace zkbench::ossl {

namespace {

// Parameter numbers as the exports count them.
enum Param : int32_t {
  kSecretKey = 1,
  kCertificate = 2,
  kAbonentsDir = 3,
  kCADir = 4,
  kCRLDir = 5,
  kRandFile = 6,
  kHashMethod = 7,
  kEncryptMethod = 8,
};

std::unique_ptr<World> g_worlds[2];

std::string MakeRoot() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zk_bench_ossl_XXXXXX").string();
  Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp failed");
  return pattern;
}

// An engine working with this key and certificate in the sandbox's directories.
EnginePtr OpenEngine(const kit::Sandbox& box, const std::string& keyPath, const std::string& certPath) {
  EnginePtr engine(InitCryptoEngine("OpenSSL"));
  Check(engine != nullptr, "InitCryptoEngine(\"OpenSSL\") failed");
  const std::pair<Param, std::string> values[] = {
      {kSecretKey, keyPath},  {kCertificate, certPath}, {kAbonentsDir, box.abonents_dir()},
      {kCADir, box.ca_dir()}, {kCRLDir, box.crl_dir()}, {kRandFile, box.root() + "/rand.seed"},
      {kHashMethod, "MD5"},   {kEncryptMethod, "RC4"}};
  for (const auto& [index, value] : values) {
    Check(SetCryptoParamValue(engine.get(), index, value.c_str()) == 0, "SetCryptoParamValue " + value);
  }
  return engine;
}

}  // namespace

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

Bytes RandomData(size_t size) {
  std::mt19937 rng(static_cast<unsigned>(size));
  Bytes data(size);
  for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

void EngineCloser::operator()(void* engine) const { DoneCryptoEngine(engine); }

World::World(int64_t count) : root_(MakeRoot()) {
  kit::SandboxOptions options;
  options.users = {{"alice", kKeyBits}, {"bob", kKeyBits}};
  options.ca_key_bits = kKeyBits;
  box_ = std::make_unique<kit::Sandbox>(root_ + "/box", options);
  kit::PkeyPtr shared = kit::PooledRsaKey(kKeyBits, "correspondents");
  const std::vector<std::string> uids = box_->AddAbonents(static_cast<size_t>(count - 2), shared.get());
  const std::string sharedKeyFile = box_->root() + "/correspondent.key";
  kit::WriteKeyFile(sharedKeyFile, shared.get());
  alice_ = OpenEngine(*box_, user("alice").key_path, user("alice").cert_path);
  bob_ = OpenEngine(*box_, user("bob").key_path, user("bob").cert_path);
  const std::string middle = box_->abonents_dir() + "/a" + uids[uids.size() / 2] + ".cer";
  correspondent_ = OpenEngine(*box_, sharedKeyFile, middle);
}

EnginePtr World::Open(const std::string& name) const {
  return OpenEngine(*box_, user(name).key_path, user(name).cert_path);
}

World::~World() {
  alice_.reset();
  bob_.reset();
  correspondent_.reset();
  box_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

World& WorldOf(int64_t count) {
  std::unique_ptr<World>& world = g_worlds[count == kManyCorrespondents ? 1 : 0];
  if (!world) world = std::make_unique<World>(count);
  return *world;
}

void ReleaseWorlds() {
  for (std::unique_ptr<World>& world : g_worlds) world.reset();
}

Bytes EngineSign(void* engine, const Bytes& data) {
  Bytes signature(static_cast<size_t>(GetMaxSignatureLength(engine)));
  int32_t length = 0;
  const int32_t code =
      SignData(engine, data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr);
  Check(code == 0, "SignData: " + std::to_string(code));
  signature.resize(static_cast<size_t>(length));
  return signature;
}

Bytes EngineEnvelope(const World& world, const Bytes& data) {
  Bytes buffer(data.size() + static_cast<size_t>(GetMaxEncodeAddition(world.alice())));
  std::memcpy(buffer.data(), data.data(), data.size());
  int32_t length = static_cast<int32_t>(data.size());
  const int32_t code = EncodeData(world.alice(), buffer.data(), &length, world.user("bob").uid.c_str());
  Check(code == 0, "EncodeData: " + std::to_string(code));
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

}  // namespace zkbench::ossl
