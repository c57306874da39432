#include "ccom_fixture.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace ccomtest {
namespace {

Toolkit* LoadToolkit() {
  auto* kit = new Toolkit;
  kit->module = zk::platform::LoadModule(ZK_CCOM_STANDIN);
  if (kit->module == nullptr) return kit;
#define CCOM_RESOLVE(name) \
  kit->name = reinterpret_cast<decltype(kit->name)>(zk::platform::FindSymbol(kit->module, #name));
  CCOM_TEST_CALLS(CCOM_RESOLVE)
#undef CCOM_RESOLVE
  return kit;
}

Toolkit& Loaded() {
  static Toolkit* kit = LoadToolkit();  // kept for the process, as the adapter's loader keeps it
  return *kit;
}

Start g_start;

// Asks the generator before any test can have read a PSE.
class StartEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Toolkit& kit = Loaded();
    if (kit.PSE_rand_inited == nullptr || kit.RAND_bytes == nullptr) return;
    g_start.randInited = kit.PSE_rand_inited();
    unsigned char out[8];
    g_start.randBytes = kit.RAND_bytes(out, sizeof out);
    g_start.randError = kit.ERR_get_last_error();
  }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new StartEnvironment);

}  // namespace

Toolkit& Ccom() {
  Toolkit& kit = Loaded();
  EXPECT_NE(kit.module, nullptr) << ZK_CCOM_STANDIN;
#define CCOM_CHECK(name) EXPECT_NE(kit.name, nullptr) << #name;
  CCOM_TEST_CALLS(CCOM_CHECK)
#undef CCOM_CHECK
  return kit;
}

const Start& AtStart() { return g_start; }

std::string Native(const std::filesystem::path& p) { return p.string(); }

Bytes ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& p, const Bytes& data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

User MakeUser(const std::filesystem::path& root, const std::string& name, const std::string& description) {
  User user{root / (name + "_secret"), root / "pub" / (name + ".pub"), name};
  Toolkit& kit = Ccom();
  EXPECT_EQ(kit.CCOM_StandIn_MakeUser(Native(user.secretDir).c_str(), Native(user.publicFile).c_str(), name.c_str(),
                                      description.c_str()),
            1)
      << kit.ERR_get_last_error();
  return user;
}

namespace {
uint32_t Le32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(b[at + 3]) << 24;
}
}  // namespace

PublicFile ParsePublicFile(const Bytes& raw) {
  PublicFile f;
  f.raw = raw;
  size_t at = 0;
  auto need = [&](size_t n) {
    if (raw.size() - at < n) {
      ADD_FAILURE() << "public-key file ends early at " << at;
      return false;
    }
    return true;
  };
  if (raw.size() > 1143) {
    ADD_FAILURE() << "public-key file of " << raw.size() << " bytes";
    return f;
  }
  if (!need(8)) return f;
  f.total = Le32(raw, 0);
  f.textLen = Le32(raw, 4);
  at = 8;
  if (!need(f.textLen)) return f;
  f.text.assign(raw.begin() + at, raw.begin() + at + f.textLen);
  at += f.textLen;
  if (!need(8)) return f;
  f.algorithm = Le32(raw, at);
  f.keyLen = Le32(raw, at + 4);
  at += 8;
  if (f.keyLen > 65 || !need(f.keyLen)) return f;
  f.key.assign(raw.begin() + at, raw.begin() + at + f.keyLen);
  at += f.keyLen;
  if (!need(4)) return f;
  f.signatureLen = Le32(raw, at);
  at += 4;
  f.signedLen = at;
  if (f.signatureLen > 64 || !need(f.signatureLen)) return f;
  f.signature.assign(raw.begin() + at, raw.begin() + at + f.signatureLen);
  at += f.signatureLen;
  f.ok = at == raw.size() && f.total == raw.size();
  EXPECT_TRUE(f.ok) << "fields end at " << at << ", total " << f.total << ", file " << raw.size();
  return f;
}

PseCtx::PseCtx() : ctx_(Ccom().PSE_CTX_new()) { EXPECT_NE(ctx_, nullptr); }
PseCtx::~PseCtx() {
  if (ctx_ != nullptr) Ccom().PSE_CTX_free(ctx_);
}

int ReadKey(const std::filesystem::path& secretDir, const std::filesystem::path& keyFile, PseCtx& working, int* error) {
  Toolkit& kit = Ccom();
  PseCtx pse;
  EXPECT_EQ(kit.PSE_CTX_set_path(pse.get(), Native(secretDir).c_str()), 1);
  EXPECT_EQ(kit.PSE_CTX_read(pse.get()), 1) << kit.ERR_get_last_error();
  unsigned char mkey[32], masks[32], kek[32], rand[64];
  EXPECT_EQ(kit.PSE_CTX_get_mkey(pse.get(), mkey), 1);
  EXPECT_EQ(kit.PSE_CTX_get_masks(pse.get(), masks), 1);
  EXPECT_EQ(kit.PSE_CTX_get_kek(pse.get(), kek), 1);
  EXPECT_EQ(kit.PSE_CTX_get_rand(pse.get(), rand), 1);
  EXPECT_EQ(kit.PSE_CTX_set_mkey(working.get(), mkey), 1);
  EXPECT_EQ(kit.PSE_CTX_set_masks(working.get(), masks), 1);
  EXPECT_EQ(kit.PSE_CTX_set_kek(working.get(), kek), 1);
  EXPECT_EQ(kit.PSE_CTX_set_rand(working.get(), rand), 1);
  EXPECT_EQ(kit.PSE_CTX_set_path(working.get(), Native(keyFile).c_str()), 1);
  const int result = kit.PSE_CTX_read(working.get());
  if (error != nullptr) *error = result == 1 ? 0 : kit.ERR_get_last_error();
  return result;
}

Bytes Sign(CCOM_PSE* key, const Bytes& data) {
  Toolkit& kit = Ccom();
  CCOM_ECGOST_SIGN* ctx = kit.ECGOST_SIGN_new();
  Bytes signature(64);
  bool ok = ctx != nullptr && kit.ECGOST_sign_init(ctx, key) == 1 &&
            kit.ECGOST_update(ctx, data.data(), data.size()) == 1 && kit.ECGOST_sign_final(ctx, signature.data()) == 1;
  if (ctx != nullptr) kit.ECGOST_SIGN_free(ctx);
  if (!ok) signature.clear();
  return signature;
}

int Verify(const Bytes& publicKey, const Bytes& data, const Bytes& signature, int* error) {
  Toolkit& kit = Ccom();
  CCOM_ECGOST_SIGN* ctx = kit.ECGOST_SIGN_new();
  int result = 0;
  if (ctx != nullptr && kit.ECGOST_verify_init(ctx, publicKey.data(), static_cast<int>(publicKey.size())) == 1 &&
      kit.ECGOST_update(ctx, data.data(), data.size()) == 1)
    result = kit.ECGOST_verify_final(ctx, signature.data(), static_cast<int>(signature.size()));
  if (error != nullptr) *error = result == 1 ? 0 : kit.ERR_get_last_error();
  if (ctx != nullptr) kit.ECGOST_SIGN_free(ctx);
  return result;
}

}  // namespace ccomtest
