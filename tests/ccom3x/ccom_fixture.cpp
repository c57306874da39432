#include "ccom3x/ccom_fixture.h"

#include <algorithm>
#include <filesystem>
#include <type_traits>

#include "frame/cp1251.h"
#include "support/standin.h"

namespace ccomtest {

namespace fs = std::filesystem;

const StandIn& StandIn::Get() {
  static const StandIn instance = [] {
    StandIn s;
    // The module the engine loads, found the same way.
    const zk::suite::StandInControl toolkit("ccom.dll");
    if (!toolkit.ok()) return s;
    const auto bind = [&toolkit](const char* name, auto& target) {
      target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(toolkit.Symbol(name));
      if (target == nullptr) ADD_FAILURE() << "the stand-in lacks " << name;
    };
#define CCOM_TEST_BIND(name) bind(#name, s.name);
    CCOM_TEST_BIND(CCOM_StandIn_MakeUser) CCOM_TEST_BIND(StandIn_Control)
    CCOM_TEST_BIND(GOSTE_new) CCOM_TEST_BIND(GOSTE_free) CCOM_TEST_BIND(GOSTE_init) CCOM_TEST_BIND(GOSTE_update)
    CCOM_TEST_BIND(GOSTE_mac_update) CCOM_TEST_BIND(GOSTE_mac_final)
    CCOM_TEST_BIND(GOSTH_new) CCOM_TEST_BIND(GOSTH_free) CCOM_TEST_BIND(GOSTH_hash_init)
    CCOM_TEST_BIND(GOSTH_update) CCOM_TEST_BIND(GOSTH_final)
    CCOM_TEST_BIND(ECGOST_DH_new) CCOM_TEST_BIND(ECGOST_DH_free) CCOM_TEST_BIND(ECGOST_DH_generate_key)
    CCOM_TEST_BIND(ECGOST_DH_compute_key)
    CCOM_TEST_BIND(ECGOST_SIGN_new) CCOM_TEST_BIND(ECGOST_SIGN_free) CCOM_TEST_BIND(ECGOST_sign_init)
    CCOM_TEST_BIND(ECGOST_verify_init) CCOM_TEST_BIND(ECGOST_update) CCOM_TEST_BIND(ECGOST_sign_final)
    CCOM_TEST_BIND(ECGOST_verify_final)
    CCOM_TEST_BIND(PSE_CTX_new) CCOM_TEST_BIND(PSE_CTX_free) CCOM_TEST_BIND(PSE_CTX_set_path)
    CCOM_TEST_BIND(PSE_CTX_read) CCOM_TEST_BIND(PSE_CTX_get_pse) CCOM_TEST_BIND(PSE_CTX_get_mkey)
    CCOM_TEST_BIND(PSE_CTX_get_masks) CCOM_TEST_BIND(PSE_CTX_get_kek) CCOM_TEST_BIND(PSE_CTX_get_rand)
    CCOM_TEST_BIND(PSE_CTX_set_mkey) CCOM_TEST_BIND(PSE_CTX_set_masks) CCOM_TEST_BIND(PSE_CTX_set_kek)
    CCOM_TEST_BIND(PSE_CTX_set_rand) CCOM_TEST_BIND(RAND_bytes) CCOM_TEST_BIND(ERR_get_last_error)
#undef CCOM_TEST_BIND
    return s;
  }();
  return instance;
}

int StandIn::Calls(const std::string& function) const { return StandIn_Control(("calls " + function).c_str()); }

void StandIn::Control(const std::string& command) const {
  EXPECT_EQ(StandIn_Control(command.c_str()), 0) << command;
}

void Sandbox::AddUser(const std::string& name, const std::string& uid, const std::string& description) {
  const StandIn& s = StandIn::Get();
  fs::create_directories(AbonentsDir(name));
  const std::string owner = uid.empty() ? name : uid;
  ASSERT_EQ(s.CCOM_StandIn_MakeUser(SecretDir(name).c_str(), PublicKeyFile(name).c_str(), owner.c_str(),
                                    description.c_str()),
            1)
      << "provisioning " << name << " failed with " << s.ERR_get_last_error();
}

void Sandbox::GiveKey(const std::string& holder, const std::string& owner, const std::string& fileName) const {
  const std::string name = fileName.empty() ? owner + ".pub" : fileName;
  CopyFileBytes(PublicKeyFile(owner), AbonentsDir(holder) + "/" + name);
}

std::unique_ptr<zk::TCryptoCom3xEngine> EngineFor(const Sandbox& box, const std::string& user) {
  auto engine = std::make_unique<zk::TCryptoCom3xEngine>();
  Configure(*engine, kPublicKeyFile, box.PublicKeyFile(user));
  Configure(*engine, kSecretKeyDir, box.SecretDir(user));
  Configure(*engine, kAbonentsDir, box.AbonentsDir(user));
  return engine;
}

PublicKeyFields ReadPublicKey(const std::string& path) {
  const Bytes file = ReadFileBytes(path);
  PublicKeyFields fields;
  if (file.size() < 8) return fields;
  const uint32_t textLen = Le32(file.data() + 4);
  const std::string text(file.begin() + 8, file.begin() + 8 + textLen);
  fields.uid = text.substr(2, text.find("\r\n", 2) - 2);
  const size_t keyAt = 8 + textLen + 8;
  const uint32_t keyLen = Le32(file.data() + keyAt - 4);
  fields.key.assign(file.begin() + keyAt, file.begin() + keyAt + keyLen);
  return fields;
}

EnvelopeFields SplitEnvelope(const Bytes& e) {
  EnvelopeFields f;
  if (e.size() < 9) return f;
  f.count = Le32(e.data());
  f.method = Le32(e.data() + 4);
  size_t at = 8;
  auto cString = [&](std::string& out) {
    const auto zero = std::find(e.begin() + static_cast<std::ptrdiff_t>(at), e.end(), 0);
    if (zero == e.end()) return false;
    out.assign(e.begin() + static_cast<std::ptrdiff_t>(at), zero);
    at += out.size() + 1;
    return true;
  };
  if (!cString(f.sender)) return f;
  for (uint32_t i = 0; i < f.count; ++i) {
    EnvelopeEntry entry;
    if (!cString(entry.uid) || e.size() - at < 36) return f;
    entry.mac.assign(e.begin() + static_cast<std::ptrdiff_t>(at), e.begin() + static_cast<std::ptrdiff_t>(at + 4));
    entry.wrapped.assign(e.begin() + static_cast<std::ptrdiff_t>(at + 4),
                         e.begin() + static_cast<std::ptrdiff_t>(at + 36));
    at += 36;
    f.entries.push_back(entry);
  }
  if (e.size() - at < 77) return f;
  f.tailAt = at;
  auto take = [&](size_t n) {
    Bytes out(e.begin() + static_cast<std::ptrdiff_t>(at), e.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    return out;
  };
  f.vector = take(8);
  f.mac = take(4);
  f.value = take(65);
  f.cipher = take(e.size() - at);
  f.ok = true;
  return f;
}

Bytes RawDerive(const Bytes& agreed) {
  const StandIn& s = StandIn::Get();
  CCOM_GOSTH_CTX* ctx = s.GOSTH_new();
  const Bytes zeros(32, 0);
  Bytes digest(32);
  EXPECT_EQ(s.GOSTH_hash_init(ctx, 21), 1);
  EXPECT_EQ(s.GOSTH_update(ctx, agreed.data(), agreed.size()), 1);
  EXPECT_EQ(s.GOSTH_update(ctx, zeros.data(), zeros.size()), 1);
  EXPECT_EQ(s.GOSTH_final(ctx, digest.data()), 1);
  s.GOSTH_free(ctx);
  return digest;
}

Bytes RawCrypt(int method, bool encrypt, const Bytes& key, const Bytes& vector, const Bytes& data) {
  const StandIn& s = StandIn::Get();
  CCOM_GOSTE_CTX* ctx = s.GOSTE_new();
  Bytes out(data.size());
  EXPECT_EQ(s.GOSTE_init(ctx, method == 1 ? zk::ccom3x::kGosteModeGamma : zk::ccom3x::kGosteModeGammaFeedback,
                         encrypt ? zk::ccom3x::kGosteEncrypt : zk::ccom3x::kGosteDecrypt, key.data(), vector.data()),
            1);
  if (!data.empty()) {
    EXPECT_EQ(s.GOSTE_update(ctx, out.data(), data.data(), data.size()), 1);
  }
  s.GOSTE_free(ctx);
  return out;
}

Bytes RawMac(const Bytes& key, const Bytes& data) {
  const StandIn& s = StandIn::Get();
  CCOM_GOSTE_CTX* ctx = s.GOSTE_new();
  Bytes mac(4);
  EXPECT_EQ(s.GOSTE_init(ctx, zk::ccom3x::kGosteModeMac, zk::ccom3x::kGosteEncrypt, key.data(), nullptr), 1);
  if (!data.empty()) {
    EXPECT_EQ(s.GOSTE_mac_update(ctx, data.data(), data.size()), 1);
  }
  EXPECT_EQ(s.GOSTE_mac_final(ctx, mac.data()), 1);
  s.GOSTE_free(ctx);
  return mac;
}

Bytes AgreeWithUser(const Sandbox& box, const std::string& user, const Bytes& publicValue) {
  const StandIn& s = StandIn::Get();
  CCOM_PSE_CTX* pse = s.PSE_CTX_new();
  CCOM_PSE_CTX* work = s.PSE_CTX_new();
  uint8_t mkey[32], masks[32], kek[32], rand[64];
  const std::string keyFile = box.SecretDir(user) + "/KEYS/1.sec";
  EXPECT_EQ(s.PSE_CTX_set_path(pse, box.SecretDir(user).c_str()), 1);
  EXPECT_EQ(s.PSE_CTX_read(pse), 1);
  EXPECT_EQ(s.PSE_CTX_get_mkey(pse, mkey) + s.PSE_CTX_get_masks(pse, masks) + s.PSE_CTX_get_kek(pse, kek) +
                s.PSE_CTX_get_rand(pse, rand),
            4);
  EXPECT_EQ(s.PSE_CTX_set_mkey(work, mkey) + s.PSE_CTX_set_masks(work, masks) + s.PSE_CTX_set_kek(work, kek) +
                s.PSE_CTX_set_rand(work, rand),
            4);
  EXPECT_EQ(s.PSE_CTX_set_path(work, keyFile.c_str()), 1);
  EXPECT_EQ(s.PSE_CTX_read(work), 1);
  CCOM_ECGOST_DH* dh = s.ECGOST_DH_new();
  uint8_t own[65];
  Bytes agreed(64);
  EXPECT_EQ(s.ECGOST_DH_generate_key(dh, s.PSE_CTX_get_pse(work), own), 1);
  EXPECT_EQ(s.ECGOST_DH_compute_key(dh, publicValue.data(), agreed.data()), 1);
  s.ECGOST_DH_free(dh);
  s.PSE_CTX_free(work);
  s.PSE_CTX_free(pse);
  return agreed;
}

bool RawVerify(const Bytes& publicKey, const Bytes& message, const Bytes& signature) {
  const StandIn& s = StandIn::Get();
  CCOM_ECGOST_SIGN* ctx = s.ECGOST_SIGN_new();
  bool ok = s.ECGOST_verify_init(ctx, publicKey.data(), static_cast<int>(publicKey.size())) == 1 &&
            s.ECGOST_update(ctx, message.data(), message.size()) == 1 &&
            s.ECGOST_verify_final(ctx, signature.data(), static_cast<int>(signature.size())) == 1;
  s.ECGOST_SIGN_free(ctx);
  return ok;
}

}  // namespace ccomtest
