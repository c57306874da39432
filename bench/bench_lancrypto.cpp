// The LAN Crypto engine against the stand-in toolkit's calls doing the same work, made directly:
//   sign    key file read and filled; GOST R 34.11-94 of the data; GOST R 34.10-2001 signature
//   verify  the digest and the check against the public key already read (as the engine's cache has it)
//   encode  key file read and filled; vault and recipient read; content key agreed and wrapped;
//           gamma with feedback over the data in pieces of 16 KiB
//   decode  the same for the recipient, the data in pieces of 4 KiB
// Each also on one and two threads, with an engine (and a toolkit context) of its own on each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>

#include "bench_compare.h"
#include "engines/lancrypto/vesta_dll.h"
#include "engines/lancrypto/vesta_engine.h"
#include "frame/zexroot.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using zk::lancrypto::Ct512Api;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

struct World {
  Ct512Api api;
  fs::path dir;
  std::string signKey, encKey, signVault, encVault;
  Bytes data;  // what every case works on, as much as it needs
};

World& TheWorld() {
  static World w = [] {
    World w;
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("ct512.dll");
    Check(module != nullptr, "ct512.dll is not beside the benchmark");
#define X(name, required) w.api.name = reinterpret_cast<decltype(w.api.name)>(zk::platform::FindSymbol(module, #name));
    ZK_CT512_FUNCTIONS
#undef X
    using MakeUser = int (*)(const char*, const char*, const char*, const char*, const char*, const char*, const char*, int);
    using AddFn = int (*)(const char*, const char*);
    auto make = reinterpret_cast<MakeUser>(zk::platform::FindSymbol(module, "CT_StandIn_MakeUser"));
    auto addSign = reinterpret_cast<AddFn>(zk::platform::FindSymbol(module, "CT_StandIn_AddToSignVault"));
    auto addEnc = reinterpret_cast<AddFn>(zk::platform::FindSymbol(module, "CT_StandIn_AddToEncryptVault"));
    Check(make && addSign && addEnc, "not the stand-in");
    w.dir = fs::temp_directory_path() / "zk_bench_lancrypto";
    fs::create_directories(w.dir);
    auto at = [&](const char* name) { return (w.dir / name).string(); };
    w.signKey = at("sign.key");
    w.encKey = at("priv.key");
    w.signVault = at("not512.vlt");
    w.encVault = at("ves512.vlt");
    Check(make("Bench user", "BENCH", "", w.signKey.c_str(), w.encKey.c_str(), nullptr, at("full.pub").c_str(), 0) == 0,
          "key files");
    Check(addSign(at("full.pub").c_str(), w.signVault.c_str()) == 0 && addEnc(at("full.pub").c_str(), w.encVault.c_str()) == 0,
          "vaults");
    std::mt19937 gen(42);
    w.data.resize(zkbench::kLargeOp);
    for (uint8_t& b : w.data) b = static_cast<uint8_t>(gen());
    return w;
  }();
  return w;
}

// An engine of the bench user, one per case and thread.
std::unique_ptr<zk::TVesta235Engine> Engine() {
  const World& w = TheWorld();
  auto engine = std::make_unique<zk::TVesta235Engine>();
  const std::pair<int32_t, std::string> params[] = {{1, w.signKey}, {2, w.signVault}, {4, "Bench user"}, {5, w.encKey},
                                                    {6, w.encVault}, {8, "Bench user"}};
  for (const auto& p : params) engine->SetCryptoParamValue(p.first, p.second.c_str());
  return engine;
}

Bytes Signature(int64_t bytes) {
  uint8_t signature[256];
  int32_t length = 0;
  Check(Engine()->SignData(TheWorld().data.data(), static_cast<int32_t>(bytes), signature, &length, nullptr) == 0 &&
            length == 92,
        "signature");
  return Bytes(signature, signature + length);
}

Bytes Envelope(int64_t bytes) {
  Bytes envelope(TheWorld().data.begin(), TheWorld().data.begin() + bytes);
  envelope.resize(envelope.size() + 255);
  int32_t length = static_cast<int32_t>(bytes);
  Check(Engine()->EncodeData(envelope.data(), &length, nullptr) == 0, "envelope");
  envelope.resize(static_cast<size_t>(length));
  return envelope;
}

// --- the engine ---

void SignEngine(benchmark::State& state, int64_t bytes) {
  const auto engine = Engine();
  uint8_t signature[256];
  int32_t length = 0;
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return engine->SignData(TheWorld().data.data(), static_cast<int32_t>(bytes), signature, &length, nullptr);
  });
}

void VerifyEngine(benchmark::State& state, int64_t bytes) {
  const auto engine = Engine();
  const Bytes signature = Signature(bytes);
  char signer[256];
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return engine->VerifyData(TheWorld().data.data(), static_cast<int32_t>(bytes), signature.data(), 92, signer);
  });
}

void EncodeEngine(benchmark::State& state, int64_t bytes) {
  const auto engine = Engine();
  const Bytes plain(TheWorld().data.begin(), TheWorld().data.begin() + bytes);
  zkbench::TimeInPlace(state, bytes, plain, 255,
                       [&](uint8_t* buffer, int32_t* length) { return engine->EncodeData(buffer, length, nullptr); });
}

void DecodeEngine(benchmark::State& state, int64_t bytes) {
  const auto engine = Engine();
  char sender[256];
  zkbench::TimeInPlace(state, bytes, Envelope(bytes), 0,
                       [&](uint8_t* buffer, int32_t* length) { return engine->DecodeData(buffer, length, sender); });
}

// --- the same work, straight through the toolkit ---

struct Context {
  const Ct512Api& api;
  void* ctx;
  bool sign;
  Context(const Ct512Api& a, bool s) : api(a), ctx(s ? a.CTN_SignConstructor() : a.CTV_VestaConstructor()), sign(s) {}
  ~Context() { sign ? api.CTN_SignDestructor(ctx) : api.CTV_VestaDestructor(ctx); }
  uint8_t* bytes() const { return static_cast<uint8_t*>(ctx); }
};

int32_t FilledKey(const Ct512Api& api, Context& c, const std::string& file) {
  static const char empty[] = "";
  int32_t r = c.sign ? api.CTN_GetPrivateKeyFile(c.ctx, file.c_str()) : api.CTV_GetPrivateKeyFile(c.ctx, file.c_str());
  zk::lancrypto::SetContextPassword(c.ctx, c.sign ? zk::lancrypto::kSignPassword : zk::lancrypto::kVestaPassword, empty);
  if (r == 0) r = c.sign ? api.CTN_FillPrivateKeyStructure(c.ctx) : api.CTV_FillPrivateKeyStructure(c.ctx);
  zk::lancrypto::SetContextPassword(c.ctx, c.sign ? zk::lancrypto::kSignPassword : zk::lancrypto::kVestaPassword, nullptr);
  return r;
}

int32_t RawSign(World& w, int64_t bytes) {
  Context c(w.api, true);
  int32_t r = FilledKey(w.api, c, w.signKey);
  void* hash = c.bytes() + zk::lancrypto::kSignHashContext;
  if (r == 0) r = w.api.CTN_HashInit(hash, 256);
  if (r == 0) r = w.api.CTN_HashBuffer(hash, w.data.data(), static_cast<int32_t>(bytes));
  if (r == 0) r = w.api.CTN_HashEnd(hash);
  return r == 0 ? w.api.CTN_Sign(c.ctx, 256) : r;
}

void SignRaw(benchmark::State& state, int64_t bytes) {
  World& w = TheWorld();
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] { return RawSign(w, bytes); });
}

void VerifyRaw(benchmark::State& state, int64_t bytes) {
  World& w = TheWorld();
  const Bytes signature = Signature(bytes);
  Context c(w.api, true);
  Check(w.api.CTN_RetrieveInfoFromVault(c.ctx, w.signVault.c_str()) == 0 &&
            w.api.CTN_ReadPublicKeyFromVault(c.ctx, "Bench user", 256) == 0, "vault");
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&]() -> int32_t {
    std::memcpy(c.bytes() + zk::lancrypto::kSignSignature, signature.data(), 92);
    void* hash = c.bytes() + zk::lancrypto::kSignHashContext;
    int32_t r = w.api.CTN_HashInit(hash, 256);
    if (r == 0) r = w.api.CTN_HashBuffer(hash, w.data.data(), static_cast<int32_t>(bytes));
    if (r == 0) r = w.api.CTN_HashEnd(hash);
    return r == 0 ? w.api.CTN_Not(c.ctx) : r;
  });
}

// The toolkit's buffer calls count in blocks of 8 bytes.
constexpr int32_t kBlock = 8;

void EncodeRaw(benchmark::State& state, int64_t bytes) {
  World& w = TheWorld();
  Bytes buffer(static_cast<size_t>(bytes));
  zkbench::TimeEach(
      state, bytes, [&] { std::memcpy(buffer.data(), w.data.data(), buffer.size()); },
      [&]() -> int32_t {
        Context c(w.api, false);
        int32_t r = FilledKey(w.api, c, w.encKey);
        if (r == 0) r = w.api.CTV_RetrieveInfoFromVault(c.ctx, w.encVault.c_str());
        if (r == 0) r = w.api.CTV_ReadPublicKeyFromVault(c.ctx, "Bench user", 16);
        if (r == 0) r = w.api.CTV_CryptoInit(c.ctx, 16, 0);
        for (int64_t done = 0; r == 0 && done < bytes; done += 16384) {
          const auto blocks = static_cast<int32_t>(std::min<int64_t>(16384, bytes - done) / kBlock);
          r = w.api.CTV_CryptoBuffer(c.ctx, buffer.data() + done, blocks);
        }
        return r;
      });
}

void DecodeRaw(benchmark::State& state, int64_t bytes) {
  World& w = TheWorld();
  const Bytes envelope = Envelope(bytes);
  Bytes buffer(envelope.size());
  zkbench::TimeEach(
      state, bytes, [&] { std::memcpy(buffer.data(), envelope.data(), buffer.size()); },
      [&]() -> int32_t {
        Context c(w.api, false);
        int32_t r = FilledKey(w.api, c, w.encKey);
        std::memcpy(c.bytes() + zk::lancrypto::kVestaHeader, buffer.data() + 4, 60);
        char shortName[9] = {};
        std::memcpy(shortName, buffer.data() + 16, 8);
        if (r == 0) r = w.api.CTV_RetrieveInfoFromVault(c.ctx, w.encVault.c_str());
        if (r == 0) r = w.api.CTV_ReadPublicKeyFromVaultByShortName(c.ctx, shortName, 16);
        if (r == 0) r = w.api.CTV_DecryptoInit(c.ctx, 16, 0);
        for (int64_t done = 0; r == 0 && done < bytes; done += 4096) {
          const auto blocks = static_cast<int32_t>(std::min<int64_t>(4096, bytes - done) / kBlock);
          r = w.api.CTV_DecryptoBuffer(c.ctx, buffer.data() + 64 + done, blocks);
        }
        return r;
      });
}

}  // namespace

int main(int argc, char** argv) {
  zkbench::RegisterUsualOperations({SignEngine, SignRaw}, {VerifyEngine, VerifyRaw}, {EncodeEngine, EncodeRaw},
                                   {DecodeEngine, DecodeRaw});
  const int status = zkbench::RunComparison(argc, argv, "LAN Crypto", [] { TheWorld(); });
  std::error_code ignored;
  fs::remove_all(TheWorld().dir, ignored);
  return status;
}
