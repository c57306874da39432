// The CryptoCom 3.x engine (through the exports, as a host calls them) against the stand-in
// toolkit's raw primitives doing the same work: EncodeData and DecodeData of 1 MiB, SignData and
// VerifyData of 1 KiB, each also on one and two threads; then the VerifyData rate with 10 and with
// 10,000 correspondents' public keys in the directory. Tables of ratios end the output.
//
// The raw side makes the calls the engine's format needs and nothing else: for an envelope the
// 40 random bytes, the session key wrapped and MACed under a pairwise key (kept, as the engine
// keeps it), the MAC and the encryption of the body; for decryption the key agreement with the
// user's private key, the derivation, the unwrapping and both MACs. Only the operation is timed:
// restoring a buffer that an in-place operation overwrote is not counted on either side.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_compare.h"
#include "engines/ccom3x/ccom_api.h"
#include "platform/platform.h"
#include "zk_mint.h"

extern "C" int CCOM_StandIn_MakeUser(const char*, const char*, const char*, const char*);

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr int64_t kFew = 10, kMany = 10000;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

Bytes RandomData(int64_t n) {
  std::mt19937 generator(42);
  Bytes data(static_cast<size_t>(n));
  for (auto& b : data) b = static_cast<uint8_t>(generator());
  return data;
}

// The stand-in's calls, from the module the engine uses as well.
struct Toolkit {
#define BENCH_FN(name) decltype(&::name) name = nullptr;
  BENCH_FN(CCOM_StandIn_MakeUser) BENCH_FN(GOSTE_new) BENCH_FN(GOSTE_free) BENCH_FN(GOSTE_init)
  BENCH_FN(GOSTE_update) BENCH_FN(GOSTE_mac_update) BENCH_FN(GOSTE_mac_final) BENCH_FN(GOSTH_new)
  BENCH_FN(GOSTH_free) BENCH_FN(GOSTH_hash_init) BENCH_FN(GOSTH_update) BENCH_FN(GOSTH_final)
  BENCH_FN(ECGOST_DH_new) BENCH_FN(ECGOST_DH_free) BENCH_FN(ECGOST_DH_generate_key) BENCH_FN(ECGOST_DH_compute_key)
  BENCH_FN(ECGOST_SIGN_new) BENCH_FN(ECGOST_SIGN_free) BENCH_FN(ECGOST_sign_init) BENCH_FN(ECGOST_verify_init)
  BENCH_FN(ECGOST_update) BENCH_FN(ECGOST_sign_final) BENCH_FN(ECGOST_verify_final) BENCH_FN(PSE_CTX_new)
  BENCH_FN(PSE_CTX_free) BENCH_FN(PSE_CTX_set_path) BENCH_FN(PSE_CTX_read) BENCH_FN(PSE_CTX_get_pse)
  BENCH_FN(PSE_CTX_get_mkey) BENCH_FN(PSE_CTX_get_masks) BENCH_FN(PSE_CTX_get_kek) BENCH_FN(PSE_CTX_get_rand)
  BENCH_FN(PSE_CTX_set_mkey) BENCH_FN(PSE_CTX_set_masks) BENCH_FN(PSE_CTX_set_kek) BENCH_FN(PSE_CTX_set_rand)
  BENCH_FN(RAND_bytes)
#undef BENCH_FN

  static const Toolkit& Get() {
    static const Toolkit toolkit = [] {
      Toolkit t;
      // Loaded by its full name first: the engine's search for "ccom.dll" then finds this module.
      zk::platform::ModuleHandle m = zk::platform::LoadModule(ZK_CCOM_STANDIN);
      Check(m != nullptr, "cannot load " ZK_CCOM_STANDIN);
#define BENCH_BIND(name) \
  t.name = reinterpret_cast<decltype(t.name)>(zk::platform::FindSymbol(m, #name)); \
  Check(t.name != nullptr, #name);
      BENCH_BIND(CCOM_StandIn_MakeUser) BENCH_BIND(GOSTE_new) BENCH_BIND(GOSTE_free) BENCH_BIND(GOSTE_init)
      BENCH_BIND(GOSTE_update) BENCH_BIND(GOSTE_mac_update) BENCH_BIND(GOSTE_mac_final) BENCH_BIND(GOSTH_new)
      BENCH_BIND(GOSTH_free) BENCH_BIND(GOSTH_hash_init) BENCH_BIND(GOSTH_update) BENCH_BIND(GOSTH_final)
      BENCH_BIND(ECGOST_DH_new) BENCH_BIND(ECGOST_DH_free) BENCH_BIND(ECGOST_DH_generate_key)
      BENCH_BIND(ECGOST_DH_compute_key) BENCH_BIND(ECGOST_SIGN_new) BENCH_BIND(ECGOST_SIGN_free)
      BENCH_BIND(ECGOST_sign_init) BENCH_BIND(ECGOST_verify_init) BENCH_BIND(ECGOST_update)
      BENCH_BIND(ECGOST_sign_final) BENCH_BIND(ECGOST_verify_final) BENCH_BIND(PSE_CTX_new) BENCH_BIND(PSE_CTX_free)
      BENCH_BIND(PSE_CTX_set_path) BENCH_BIND(PSE_CTX_read) BENCH_BIND(PSE_CTX_get_pse) BENCH_BIND(PSE_CTX_get_mkey)
      BENCH_BIND(PSE_CTX_get_masks) BENCH_BIND(PSE_CTX_get_kek) BENCH_BIND(PSE_CTX_get_rand)
      BENCH_BIND(PSE_CTX_set_mkey) BENCH_BIND(PSE_CTX_set_masks) BENCH_BIND(PSE_CTX_set_kek)
      BENCH_BIND(PSE_CTX_set_rand) BENCH_BIND(RAND_bytes)
#undef BENCH_BIND
      return t;
    }();
    return toolkit;
  }
};

Bytes ReadAll(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  Check(f != nullptr, "cannot read " + path);
  Bytes data;
  uint8_t chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);
  return data;
}

// A user's private key opened with the toolkit, as the engine opens it.
struct PrivateKey {
  CCOM_PSE_CTX* pse = nullptr;
  CCOM_PSE_CTX* work = nullptr;
  explicit PrivateKey(const std::string& secretDir) {
    const Toolkit& t = Toolkit::Get();
    pse = t.PSE_CTX_new();
    work = t.PSE_CTX_new();
    uint8_t mkey[32], masks[32], kek[32], rand[64];
    const std::string file = secretDir + "/KEYS/1.sec";
    Check(t.PSE_CTX_set_path(pse, secretDir.c_str()) == 1 && t.PSE_CTX_read(pse) == 1 &&
              t.PSE_CTX_get_mkey(pse, mkey) == 1 && t.PSE_CTX_get_masks(pse, masks) == 1 &&
              t.PSE_CTX_get_kek(pse, kek) == 1 && t.PSE_CTX_get_rand(pse, rand) == 1 &&
              t.PSE_CTX_set_mkey(work, mkey) == 1 && t.PSE_CTX_set_masks(work, masks) == 1 &&
              t.PSE_CTX_set_kek(work, kek) == 1 && t.PSE_CTX_set_rand(work, rand) == 1 &&
              t.PSE_CTX_set_path(work, file.c_str()) == 1 && t.PSE_CTX_read(work) == 1,
          "cannot open the key of " + secretDir);
  }
  CCOM_PSE* Key() const { return Toolkit::Get().PSE_CTX_get_pse(work); }
};

// <dir>/alice, <dir>/bob (each SK/, self.pub, ABONENTS/); bob's directory holds alice's key and
// `correspondents - 1` others, self-signed keys of a third user under distinct UIDs.
class World {
 public:
  explicit World(int64_t correspondents) {
    dir_ = (fs::temp_directory_path() / ("zk_bench_ccom3x_" + std::to_string(correspondents))).string();
    fs::remove_all(dir_);
    const Toolkit& t = Toolkit::Get();
    for (const char* user : {"alice", "bob", "other"}) {
      fs::create_directories(dir_ + "/" + user + "/ABONENTS");
      Check(t.CCOM_StandIn_MakeUser((dir_ + "/" + user + "/SK").c_str(), (dir_ + "/" + user + "/self.pub").c_str(),
                                    user, "benchmark user") == 1,
            "provisioning failed");
    }
    fs::copy_file(dir_ + "/alice/self.pub", dir_ + "/bob/ABONENTS/alice.pub");
    fs::copy_file(dir_ + "/bob/self.pub", dir_ + "/alice/ABONENTS/bob.pub");
    WriteOthers(correspondents - 1);
    alice_ = Open("alice");
    bob_ = Open("bob");
  }
  ~World() {
    DoneCryptoEngine(alice_);
    DoneCryptoEngine(bob_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  ZkEngine alice() const { return alice_; }
  ZkEngine bob() const { return bob_; }
  const std::string& dir() const { return dir_; }
  // A further engine of the user alice or bob, for a thread of its own; DoneCryptoEngine frees it.
  ZkEngine OpenFor(const std::string& user) const { return Open(user); }
  Bytes PublicKeyOf(const std::string& user) const {
    const Bytes file = ReadAll(dir_ + "/" + user + "/self.pub");
    const uint32_t t = file[4] | file[5] << 8 | file[6] << 16 | static_cast<uint32_t>(file[7]) << 24;
    return Bytes(file.begin() + 16 + t, file.begin() + 16 + t + 65);
  }

 private:
  ZkEngine Open(const std::string& user) const {
    ZkEngine engine = InitCryptoEngine("CryptoCom 32x");
    Check(engine != nullptr, "no CryptoCom 32x engine");
    const std::string base = dir_ + "/" + user;
    SetCryptoParamValue(engine, 1, (base + "/self.pub").c_str());
    SetCryptoParamValue(engine, 2, (base + "/SK").c_str());
    SetCryptoParamValue(engine, 4, (base + "/ABONENTS").c_str());
    return engine;
  }

  // The file layout of the stand-in's own provisioning, signed with "other"'s key.
  void WriteOthers(int64_t count) {
    const Toolkit& t = Toolkit::Get();
    PrivateKey key(dir_ + "/other/SK");
    const Bytes publicKey = PublicKeyOf("other");
    for (int64_t i = 0; i < count; ++i) {
      const std::string uid = "correspondent " + std::to_string(i);
      const std::string text = "\r\n" + uid + "\r\nbenchmark correspondent\r\n";
      Bytes file;
      auto put = [&file](uint32_t v) {
        for (int k = 0; k < 4; ++k) file.push_back(static_cast<uint8_t>(v >> (8 * k)));
      };
      put(static_cast<uint32_t>(text.size() + 149));
      put(static_cast<uint32_t>(text.size()));
      file.insert(file.end(), text.begin(), text.end());
      put(1);
      put(65);
      file.insert(file.end(), publicKey.begin(), publicKey.end());
      put(64);
      uint8_t signature[64];
      CCOM_ECGOST_SIGN* ctx = t.ECGOST_SIGN_new();
      Check(t.ECGOST_sign_init(ctx, key.Key()) == 1 && t.ECGOST_update(ctx, file.data(), file.size()) == 1 &&
                t.ECGOST_sign_final(ctx, signature) == 1,
            "signing a correspondent's file failed");
      t.ECGOST_SIGN_free(ctx);
      file.insert(file.end(), signature, signature + 64);
      std::FILE* f = std::fopen((dir_ + "/bob/ABONENTS/c" + std::to_string(i) + ".pub").c_str(), "wb");
      Check(f != nullptr && std::fwrite(file.data(), 1, file.size(), f) == file.size(), "cannot write a key file");
      std::fclose(f);
    }
  }

  std::string dir_;
  ZkEngine alice_ = nullptr, bob_ = nullptr;
};

const World& WorldOf(int64_t correspondents) {
  static std::map<int64_t, std::unique_ptr<World>> worlds;
  auto& world = worlds[correspondents];
  if (!world) world = std::make_unique<World>(correspondents);
  return *world;
}

using zkbench::NoPrepare;
using zkbench::TimeEach;

// ---- the engine ------------------------------------------------------------------------------

// Thread 0 works as alice with bob as the peer, thread 1 the other way round. Each thread has its
// own engines: the one it times, and the peer's, which only makes the data the timed one reads.
struct Side {
  struct Closer {
    void operator()(void* engine) const { DoneCryptoEngine(engine); }
  };
  std::unique_ptr<void, Closer> self, peer;
  std::string selfUid, peerUid;
};

Side SideOf(const benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const std::string me = state.thread_index() == 0 ? "alice" : "bob";
  const std::string other = state.thread_index() == 0 ? "bob" : "alice";
  using Owned = std::unique_ptr<void, Side::Closer>;
  return Side{Owned(w.OpenFor(me)), Owned(w.OpenFor(other)), me, other};
}

Bytes SignatureBy(ZkEngine signer, const Bytes& data) {
  Bytes signature(400);
  int32_t length = 0;
  Check(SignData(signer, data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr) == 0,
        "SignData failed");
  signature.resize(static_cast<size_t>(length));
  return signature;
}

void SignEngine(benchmark::State& state, int64_t bytes) {
  const Side side = SideOf(state);
  const Bytes data = RandomData(bytes);
  uint8_t signature[400];
  int32_t length = 0;
  TimeEach(state, bytes, NoPrepare, [&] {
    return SignData(side.self.get(), data.data(), static_cast<int32_t>(data.size()), signature, &length, nullptr);
  });
}

void VerifyEngine(benchmark::State& state, int64_t bytes) {
  const Side side = SideOf(state);
  const Bytes data = RandomData(bytes);
  const Bytes signature = SignatureBy(side.peer.get(), data);
  char signer[256];
  TimeEach(state, bytes, NoPrepare, [&] {
    return VerifyData(side.self.get(), data.data(), static_cast<int32_t>(data.size()), signature.data(),
                      static_cast<int32_t>(signature.size()), signer);
  });
}

// bob verifies alice's signature with `state.range(0)` correspondents' keys in his directory.
void VerifySteady(benchmark::State& state) {
  const World& w = WorldOf(state.range(0));
  const Bytes data = RandomData(zkbench::kSmallOp);
  const Bytes signature = SignatureBy(w.alice(), data);
  char signer[256];
  TimeEach(state, zkbench::kSmallOp, NoPrepare, [&] {
    return VerifyData(w.bob(), data.data(), static_cast<int32_t>(data.size()), signature.data(),
                      static_cast<int32_t>(signature.size()), signer);
  });
}

void EncodeEngine(benchmark::State& state, int64_t bytes) {
  const Side side = SideOf(state);
  const auto room = static_cast<size_t>(GetMaxEncodeAddition(side.self.get()));
  zkbench::TimeInPlace(state, bytes, RandomData(bytes), room, [&](uint8_t* buffer, int32_t* length) {
    return EncodeData(side.self.get(), buffer, length, side.peerUid.c_str());
  });
}

void DecodeEngine(benchmark::State& state, int64_t bytes) {
  const Side side = SideOf(state);
  Bytes envelope = RandomData(bytes);
  envelope.resize(envelope.size() + static_cast<size_t>(GetMaxEncodeAddition(side.peer.get())));
  int32_t envelopeLen = static_cast<int32_t>(bytes);
  Check(EncodeData(side.peer.get(), envelope.data(), &envelopeLen, side.selfUid.c_str()) == 0, "EncodeData failed");
  envelope.resize(static_cast<size_t>(envelopeLen));
  char sender[256];
  zkbench::TimeInPlace(state, bytes, envelope, 0, [&](uint8_t* buffer, int32_t* length) {
    return DecodeData(side.self.get(), buffer, length, sender);
  });
}

// ---- the raw toolkit -------------------------------------------------------------------------
int32_t RawCrypt(const Toolkit& t, int encrypt, const uint8_t* key, const uint8_t* iv, const uint8_t* in,
                 uint8_t* out, size_t len) {
  CCOM_GOSTE_CTX* ctx = t.GOSTE_new();
  const bool ok = t.GOSTE_init(ctx, zk::ccom3x::kGosteModeGamma, encrypt, key, iv) == 1 &&
                  t.GOSTE_update(ctx, out, in, len) == 1;
  t.GOSTE_free(ctx);
  return ok ? 0 : 1;
}

int32_t RawMac(const Toolkit& t, const uint8_t* key, const uint8_t* data, size_t len, uint8_t* mac) {
  CCOM_GOSTE_CTX* ctx = t.GOSTE_new();
  const bool ok = t.GOSTE_init(ctx, zk::ccom3x::kGosteModeMac, 1, key, nullptr) == 1 &&
                  t.GOSTE_mac_update(ctx, data, len) == 1 && t.GOSTE_mac_final(ctx, mac) == 1;
  t.GOSTE_free(ctx);
  return ok ? 0 : 1;
}

void EncodeRaw(benchmark::State& state, int64_t bytes) {
  const Toolkit& t = Toolkit::Get();
  const Bytes data = RandomData(bytes);
  const Bytes pairwise = RandomData(32);  // kept between envelopes, as the engine keeps it
  Bytes out(data.size() + 200);
  TimeEach(state, bytes, NoPrepare, [&] {
    uint8_t random[40], wrapped[32], mac[4];
    int32_t failed = t.RAND_bytes(random, 40) == 1 ? 0 : 1;
    failed |= RawCrypt(t, 1, pairwise.data(), random + 32, random, wrapped, 32);
    failed |= RawMac(t, pairwise.data(), random, 32, mac);
    failed |= RawMac(t, random, data.data(), data.size(), out.data());
    failed |= RawCrypt(t, 1, random, random + 32, data.data(), out.data() + 100, data.size());
    return failed;
  });
}

void DecodeRaw(benchmark::State& state, int64_t bytes) {
  const Toolkit& t = Toolkit::Get();
  const World& w = WorldOf(kFew);
  const PrivateKey bobKey(w.dir() + "/bob/SK");
  const Bytes data = RandomData(bytes);
  uint8_t senderValue[65];
  {
    CCOM_ECGOST_DH* dh = t.ECGOST_DH_new();
    Check(t.ECGOST_DH_generate_key(dh, nullptr, senderValue) == 1, "ephemeral key");
    t.ECGOST_DH_free(dh);
  }
  const Bytes session = RandomData(32), vector = RandomData(8);
  Bytes cipher(data.size()), plain(data.size());
  Check(RawCrypt(t, 1, session.data(), vector.data(), data.data(), cipher.data(), data.size()) == 0, "encrypt");
  TimeEach(state, bytes, NoPrepare, [&] {
    uint8_t own[65], agreed[64], pairwise[32], key[32], mac[4];
    static const uint8_t zeros[32] = {};
    CCOM_ECGOST_DH* dh = t.ECGOST_DH_new();
    int32_t failed = t.ECGOST_DH_generate_key(dh, bobKey.Key(), own) == 1 &&
                             t.ECGOST_DH_compute_key(dh, senderValue, agreed) == 1
                         ? 0
                         : 1;
    t.ECGOST_DH_free(dh);
    CCOM_GOSTH_CTX* h = t.GOSTH_new();
    failed |= t.GOSTH_hash_init(h, 21) == 1 && t.GOSTH_update(h, agreed, 64) == 1 &&
                      t.GOSTH_update(h, zeros, 32) == 1 && t.GOSTH_final(h, pairwise) == 1
                  ? 0
                  : 1;
    t.GOSTH_free(h);
    failed |= RawCrypt(t, 0, pairwise, vector.data(), session.data(), key, 32);
    failed |= RawMac(t, pairwise, key, 32, mac);
    failed |= RawCrypt(t, 0, session.data(), vector.data(), cipher.data(), plain.data(), cipher.size());
    failed |= RawMac(t, session.data(), plain.data(), plain.size(), mac);
    return failed;
  });
}

void SignRaw(benchmark::State& state, int64_t bytes) {
  const Toolkit& t = Toolkit::Get();
  const World& w = WorldOf(kFew);
  const PrivateKey aliceKey(w.dir() + "/alice/SK");
  const Bytes data = RandomData(bytes);
  TimeEach(state, bytes, NoPrepare, [&] {
    uint8_t signature[64];
    CCOM_ECGOST_SIGN* ctx = t.ECGOST_SIGN_new();
    const bool ok = t.ECGOST_sign_init(ctx, aliceKey.Key()) == 1 && t.ECGOST_update(ctx, "alice", 6) == 1 &&
                    t.ECGOST_update(ctx, data.data(), data.size()) == 1 && t.ECGOST_sign_final(ctx, signature) == 1;
    t.ECGOST_SIGN_free(ctx);
    return ok ? 0 : 1;
  });
}

void VerifyRaw(benchmark::State& state, int64_t bytes) {
  const Toolkit& t = Toolkit::Get();
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(bytes);
  const std::unique_ptr<void, Side::Closer> alice(w.OpenFor("alice"));  // an engine of this thread's own
  const Bytes signature = SignatureBy(alice.get(), data);
  const Bytes key = w.PublicKeyOf("alice");
  TimeEach(state, bytes, NoPrepare, [&] {
    CCOM_ECGOST_SIGN* ctx = t.ECGOST_SIGN_new();
    const bool ok = t.ECGOST_verify_init(ctx, key.data(), 65) == 1 && t.ECGOST_update(ctx, "alice", 6) == 1 &&
                    t.ECGOST_update(ctx, data.data(), data.size()) == 1 &&
                    t.ECGOST_verify_final(ctx, signature.data() + 6, 64) == 1;
    t.ECGOST_SIGN_free(ctx);
    return ok ? 0 : 1;
  });
}

// ---- the summary -----------------------------------------------------------------------------

void PrintCorrespondents(const zkbench::MedianReporter& r) {
  const auto rates = [&](int64_t correspondents) {
    const std::string args = std::to_string(correspondents);
    const double cpuSeconds = r.Median("verify_steady/engine", args, zkbench::kCpuSecondsPerOp);
    return std::pair{r.Median("verify_steady/engine", args, "items_per_second"), cpuSeconds > 0 ? 1 / cpuSeconds : 0};
  };
  const auto verdict = [](double value) { return value >= 0.9 ? "met" : "MISSED"; };
  const auto [fewWall, fewCpu] = rates(kFew);
  const auto [manyWall, manyCpu] = rates(kMany);
  if (fewCpu <= 0 || manyCpu <= 0) return;
  const double wall = manyWall / fewWall, cpu = manyCpu / fewCpu;
  std::printf("\nVerifyData/s with %lld correspondents: %.1f (cpu %.1f); with %lld: %.1f (cpu %.1f);\n"
              "ratio %.3f (cpu %.3f), goal >=0.90 %s, %s\n",
              static_cast<long long>(kFew), fewWall, fewCpu, static_cast<long long>(kMany), manyWall, manyCpu, wall,
              cpu, verdict(wall), verdict(cpu));
}

}  // namespace

int main(int argc, char** argv) {
  // Signatures have no goal against the raw primitives here; the data ciphers do.
  zkbench::RegisterUsualOperations({SignEngine, SignRaw}, {VerifyEngine, VerifyRaw}, {EncodeEngine, EncodeRaw},
                                   {DecodeEngine, DecodeRaw}, /*signatureGoal=*/0);
  benchmark::RegisterBenchmark("verify_steady/engine", VerifySteady)
      ->Arg(kFew)
      ->Arg(kMany)
      ->UseManualTime()
      ->Unit(benchmark::kMicrosecond);
  // Built before any case runs: the two-thread cases must not race to build it.
  return zkbench::RunComparison(argc, argv, "CryptoCom 3.x", [] { WorldOf(kFew); }, PrintCorrespondents);
}
