// The Crypto-C engine against the stand-in toolkit's primitives doing the same work, called
// directly. Per operation:
//   sign     GOST R 34.11-94 of the data; GOST R 34.10-2001 signature with the key set into a
//            fresh context
//   verify   the digest; verification with the signer's public key set into a fresh context
//   encode   32 random bytes (session key) and two 8-byte vectors; MAC and gamma with feedback of
//            the session key under the pairwise key (agreed once, as the engine keeps it); MAC and
//            gamma with feedback of the data
//   decode   the session key decrypted and its MAC checked; the data decrypted and its MAC checked
// Each also on one and two threads: the engine's thread 0 works as Alice with Bob as the peer,
// thread 1 the other way round; the raw side has contexts of its own on each thread.
// verify_steady: VerifyData with 10 or 10,000 correspondents' public keys in the directory, the
// cache already read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>

#include "bench_compare.h"
#include "engines/cryptoc/crypc_api.h"
#include "engines/cryptoc/crypc_engine.h"
#include "frame/zexroot.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kFew = 10;
constexpr int kMany = 10000;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

struct Toolkit {
  zk::cryptoc::CryptoCApi api;
  int (*WriteKeyFiles)(int, const char*, const char*, const char*) = nullptr;
};

const Toolkit& StandIn() {
  static const Toolkit toolkit = [] {
    Toolkit t;
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("libcrypt.dll");
    Check(module != nullptr, "libcrypt.dll is not beside the benchmark");
#define X(name) t.api.name = reinterpret_cast<decltype(t.api.name)>(zk::platform::FindSymbol(module, #name));
    ZK_CRYPTOC_FUNCTIONS
#undef X
    t.WriteKeyFiles = reinterpret_cast<decltype(t.WriteKeyFiles)>(
        zk::platform::FindSymbol(module, "CrypC_StandIn_WriteKeyFiles"));
    Check(t.WriteKeyFiles != nullptr, "not the stand-in");
    return t;
  }();
  return toolkit;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes RandomBytes(int64_t size) {
  std::mt19937 gen(42);
  Bytes out(static_cast<size_t>(size));
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// Alice and Bob with GOST R 34.10-2001 keys, and two correspondents' directories of 10 and
// 10,000 public keys (copies of Bob's key under other names, beside Alice's and Bob's).
class World {
 public:
  World() {
    root_ = fs::temp_directory_path() / ("zk_bench_crypc_" + std::to_string(std::random_device()()));
    for (const char* dir : {"alice", "bob", "few", "many", "ca"}) fs::create_directories(root_ / dir);
    for (const char* uid : {"Alice", "Bob"}) {
      const fs::path dir = root_ / (uid[0] == 'A' ? "alice" : "bob");
      Check(StandIn().WriteKeyFiles(1, uid, (dir / "self.sec").string().c_str(), (dir / "self.pub").string().c_str()) == 0,
            "key files");
    }
    const Bytes bob = ReadAll(root_ / "bob" / "self.pub");
    for (const char* dir : {"few", "many"}) {
      fs::copy_file(root_ / "alice" / "self.pub", root_ / dir / "alice.pub");
      fs::copy_file(root_ / "bob" / "self.pub", root_ / dir / "bob.pub");
    }
    for (int i = 0; i < kMany; ++i) {
      char uid[16];
      std::snprintf(uid, sizeof(uid), "Corr%05d", i);
      Bytes image(uid, uid + std::strlen(uid));
      image.insert(image.end(), bob.begin() + 3, bob.end());  // Bob's key after "Bob"
      if (i < kFew - 2) WriteAll(root_ / "few" / (std::string(uid) + ".pub"), image);
      WriteAll(root_ / "many" / (std::string(uid) + ".pub"), image);
    }
  }
  ~World() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::unique_ptr<zk::TCryptoCEngine> Engine(const char* who, const char* abonents = "few") const {
    auto engine = std::make_unique<zk::TCryptoCEngine>();
    const fs::path dir = root_ / who;
    engine->SetCryptoParamValue(1, (dir / "self.pub").string().c_str());
    engine->SetCryptoParamValue(2, (dir / "self.sec").string().c_str());
    engine->SetCryptoParamValue(3, (root_ / abonents).string().c_str());
    engine->SetCryptoParamValue(4, (root_ / "ca").string().c_str());
    engine->SetCryptoParamValue(13, "GOST");
    return engine;
  }
  Bytes File(const char* who, const char* name) const { return ReadAll(root_ / who / name); }

 private:
  fs::path root_;
};

World& TheWorld() {
  static World world;
  return world;
}

// A work block with the substitution table of the toolkit's hash.
struct Work {
  Work() {
    static const uint8_t kSbox[128] = {
        1,  15, 13, 0,  5,  7,  10, 4,  9,  2,  3,  14, 6,  11, 8,  12, 13, 11, 4,  1,  3,  15, 5,  9,  0,  10,
        14, 7,  6,  8,  2,  12, 4,  11, 10, 0,  7,  2,  1,  13, 3,  6,  8,  5,  9,  12, 15, 14, 6,  12, 7,  1,
        5,  15, 13, 8,  4,  10, 9,  14, 0,  3,  11, 2,  7,  13, 10, 1,  0,  8,  9,  15, 14, 4,  6,  12, 11, 2,
        5,  3,  5,  8,  1,  13, 10, 3,  4,  2,  14, 15, 12, 7,  6,  0,  9,  11, 14, 11, 4,  12, 6,  13, 15, 10,
        2,  3,  8,  1,  0,  7,  5,  9,  4,  10, 9,  2,  13, 8,  0,  14, 6,  11, 1,  12, 7,  15, 5,  3};
    std::memcpy(block, kSbox, sizeof(kSbox));
  }
  uint8_t block[zk::cryptoc::kWorkBlockSize] = {};
};

const zk::cryptoc::CryptoCApi& Api() { return StandIn().api; }

void Hash(const uint8_t* data, size_t len, uint8_t out[32]) {
  Work w;
  Api().CrypC_R34_11_1994_init(w.block);
  Api().CrypC_R34_11_1994_update(w.block, data, static_cast<uint32_t>(len));
  Api().CrypC_R34_11_1994_final(w.block, out);
  Api().CrypC_R34_11_1994_clear(w.block);
}

void Mac(const uint8_t* key, const uint8_t* data, size_t len, uint8_t out[8]) {
  Work w;
  Api().CrypC_G28147_1989_mac_init(w.block, key, out);
  Api().CrypC_G28147_1989_mac_update(w.block, data, static_cast<uint32_t>(len));
  Api().CrypC_G28147_1989_mac_final(w.block, out);
  Api().CrypC_G28147_1989_mac_clear(w.block);
}

void Feedback(bool encrypt, const uint8_t* key, const uint8_t* iv, const uint8_t* in, uint8_t* out, size_t len) {
  Work w;
  Api().CrypC_G28147_1989_gamma_ofb_init(w.block, key, iv);
  const uint32_t n = static_cast<uint32_t>(len);
  encrypt ? Api().CrypC_G28147_1989_gamma_ofb_encrypt(w.block, in, out, n)
          : Api().CrypC_G28147_1989_gamma_ofb_decrypt(w.block, in, out, n);
  Api().CrypC_G28147_1989_gamma_ofb_clear(w.block);
}

// The pairwise key of Alice and Bob, agreed once as the engine keeps it.
Bytes PairKey() {
  const Bytes secret = TheWorld().File("alice", "self.sec"), peer = TheWorld().File("bob", "self.pub");
  Work w;
  uint8_t agreed[128];
  Api().CrypC_LDH_PKA_set_parms(w.block, nullptr, 128);
  Api().CrypC_LDH_PKA_set_secret_key(w.block, secret.data() + 36);
  Api().CrypC_LDH_PKA_gen_mutual_key(w.block, peer.data() + peer.size() - 128, agreed);
  Api().CrypC_LDH_PKA_clear(w.block);
  Bytes key(32);
  Hash(agreed, sizeof(agreed), key.data());
  return key;
}

// The engines of the thread's side: the one it times, and the peer's, which only makes the data
// the timed one reads.
struct Side {
  std::unique_ptr<zk::TCryptoCEngine> self, peer;
  const char* selfUid;
  const char* peerUid;
};

Side SideOf(const benchmark::State& state, const char* abonents = "few") {
  const bool alice = state.thread_index() == 0;
  return Side{TheWorld().Engine(alice ? "alice" : "bob", abonents), TheWorld().Engine(alice ? "bob" : "alice"),
              alice ? "Alice" : "Bob", alice ? "Bob" : "Alice"};
}

void SignEngine(benchmark::State& state, int64_t bytes) {
  const Side side = SideOf(state);
  const Bytes data = RandomBytes(bytes);
  uint8_t signature[400];
  int32_t length = 0;
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return side.self->SignData(data.data(), static_cast<int32_t>(data.size()), signature, &length, nullptr);
  });
}

void SignRaw(benchmark::State& state, int64_t bytes) {
  const Bytes data = RandomBytes(bytes);
  const Bytes secret = TheWorld().File("alice", "self.sec");
  uint8_t digest[32], signature[64];
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    Hash(data.data(), data.size(), digest);
    Work w;
    Api().CrypC_LR34_10_2001_set_parms(w.block, nullptr, 32, 32);
    Api().CrypC_LR34_10_2001_set_secret_key(w.block, secret.data() + 4);
    const int32_t code = Api().CrypC_LR34_10_2001_sign(w.block, digest, signature);
    Api().CrypC_LR34_10_2001_clear(w.block);
    return code;
  });
}

void VerifyWith(benchmark::State& state, const char* abonents, int64_t bytes) {
  const Side side = SideOf(state, abonents);
  const Bytes data = RandomBytes(bytes);
  Bytes signature(400);
  int32_t length = 0;
  Check(side.peer->SignData(data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr) == 0,
        "sign");
  char signer[256];
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return side.self->VerifyData(data.data(), static_cast<int32_t>(data.size()), signature.data(), length, signer);
  });
}

void VerifyEngine(benchmark::State& state, int64_t bytes) { VerifyWith(state, "few", bytes); }
void VerifySteady(benchmark::State& state) {
  VerifyWith(state, state.range(0) == kFew ? "few" : "many", zkbench::kSmallOp);
}

void VerifyRaw(benchmark::State& state, int64_t bytes) {
  const Bytes data = RandomBytes(bytes);
  auto alice = TheWorld().Engine("alice");
  Bytes signature(400);
  int32_t length = 0;
  Check(alice->SignData(data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr) == 0,
        "sign");
  const Bytes publicFile = TheWorld().File("alice", "self.pub");
  uint8_t digest[32];
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    Hash(data.data(), data.size(), digest);
    Work w;
    Api().CrypC_LR34_10_2001_set_parms(w.block, nullptr, 32, 32);
    Api().CrypC_LR34_10_2001_set_public_key(w.block, publicFile.data() + 10);
    const int32_t code = Api().CrypC_LR34_10_2001_verify(w.block, digest, signature.data() + 6, 64);
    Api().CrypC_LR34_10_2001_clear(w.block);
    return code;
  });
}

void EncodeEngine(benchmark::State& state, int64_t bytes) {
  const Side side = SideOf(state);
  zkbench::TimeInPlace(state, bytes, RandomBytes(bytes), 30579, [&](uint8_t* buffer, int32_t* length) {
    return side.self->EncodeData(buffer, length, side.peerUid);
  });
}

void EncodeRaw(benchmark::State& state, int64_t bytes) {
  const Bytes plain = RandomBytes(bytes), pairKey = PairKey();
  Bytes out(plain.size() + 30579);
  uint8_t randomState[76] = {};
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    uint8_t session[32], vectors[16];
    Api().CrypC_Random_Fill(randomState, session, sizeof(session));
    Api().CrypC_Random_Fill(randomState, vectors, sizeof(vectors));
    uint8_t* entry = out.data() + 14 + 4;  // after N, method, "Alice" and "Bob"
    std::memcpy(entry, vectors, 8);
    Mac(pairKey.data(), session, 32, entry + 8);
    Feedback(true, pairKey.data(), vectors, session, entry + 16, 32);
    uint8_t* body = entry + 48;
    std::memcpy(body, vectors + 8, 8);
    Mac(session, plain.data(), plain.size(), body + 8);
    Feedback(true, session, vectors + 8, plain.data(), body + 16, plain.size());
    return 0;
  });
}

// A package of `bytes` from the thread's peer for its own user.
Bytes PackageFromPeer(const Side& side, int64_t bytes) {
  Bytes package = RandomBytes(bytes);
  package.resize(package.size() + 30579);
  int32_t length = static_cast<int32_t>(bytes);
  Check(side.peer->EncodeData(package.data(), &length, side.selfUid) == 0, "encode");
  package.resize(static_cast<size_t>(length));
  return package;
}

void DecodeEngine(benchmark::State& state, int64_t bytes) {
  const Side side = SideOf(state);
  char sender[256];
  zkbench::TimeInPlace(state, bytes, PackageFromPeer(side, bytes), 0,
                       [&](uint8_t* buffer, int32_t* length) { return side.self->DecodeData(buffer, length, sender); });
}

// Every thread opens a package from Alice to Bob: the pairwise key is the same either way.
void DecodeRaw(benchmark::State& state, int64_t bytes) {
  auto alice = TheWorld().Engine("alice");
  Bytes package = RandomBytes(bytes);
  package.resize(package.size() + 30579);
  int32_t packageLen = static_cast<int32_t>(bytes);
  Check(alice->EncodeData(package.data(), &packageLen, "Bob") == 0, "encode");
  package.resize(static_cast<size_t>(packageLen));
  const Bytes pairKey = PairKey();
  Bytes plain(package.size());
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&]() -> int32_t {
    const uint8_t* entry = package.data() + 14 + 4;
    uint8_t session[32], mac[8];
    Feedback(false, pairKey.data(), entry, entry + 16, session, 32);
    Mac(pairKey.data(), session, 32, mac);
    if (std::memcmp(mac, entry + 8, 8) != 0) return 1;
    const uint8_t* body = entry + 48;
    const size_t len = package.size() - 82;
    Feedback(false, session, body, body + 16, plain.data(), len);
    Mac(session, plain.data(), len, mac);
    return std::memcmp(mac, body + 8, 8) == 0 ? 0 : 2;
  });
}

void PrintSteady(const zkbench::MedianReporter& r) {
  const double few = r.Median("verify_steady/engine", std::to_string(kFew), "items_per_second");
  const double many = r.Median("verify_steady/engine", std::to_string(kMany), "items_per_second");
  if (few > 0 && many > 0) {
    std::printf("steady VerifyData/s with %d keys %.1f, with %d keys %.1f: ratio %.3f, goal >=0.90 %s\n", kFew, few,
                kMany, many, many / few, many / few >= 0.9 ? "met" : "MISSED");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Signatures have no goal against the raw primitives here; the data ciphers do.
  zkbench::RegisterUsualOperations({SignEngine, SignRaw}, {VerifyEngine, VerifyRaw}, {EncodeEngine, EncodeRaw},
                                   {DecodeEngine, DecodeRaw}, /*signatureGoal=*/0);
  benchmark::RegisterBenchmark("verify_steady/engine", &VerifySteady)
      ->Arg(kFew)
      ->Arg(kMany)
      ->UseManualTime()
      ->Unit(benchmark::kMicrosecond);
  return zkbench::RunComparison(argc, argv, "Crypto-C", [] { TheWorld(); }, PrintSteady);
}
