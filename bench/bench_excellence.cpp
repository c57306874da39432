// The Excellence 4.0 engine against the GOST primitives the stand-in cryst.dll is built on, called
// directly to do the same work. Per operation:
//   sign     GOST R 34.11-94 of the data; GOST R 34.10-2001 signature
//   verify   the digest; verification with the signer's public key
//   encode   a content key, UKM and IV; for the sender and one recipient VKO key agreement and the
//            RFC 4357 key wrap; MAC and gamma with feedback of the data
//   decode   VKO and unwrap for the recipient; the data decrypted and its MAC checked
// Each also on one and two threads: the engine's thread 0 works as alice (signs, encodes for bob,
// verifies and decodes what bob sent), thread 1 as bob the other way; the raw side has keys of its
// own on each thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "bench_compare.h"
#include "engines/excellence/ce_exc4.h"
#include "frame/zexroot.h"
#include "gost.h"
#include "keywrap.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using gost::r3410_2001::Point;

constexpr auto kCurve = gost::r3410_2001::Curve::CryptoProA;
const char kPassword[] = "bench";

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

int32_t ZK_STDCALL AnswerPassword(char* buffer, int32_t size) {
  std::snprintf(buffer, static_cast<size_t>(size), "%s", kPassword);
  return 1;
}

Bytes RandomBytes(int64_t size) {
  std::mt19937 gen(42);
  Bytes out(static_cast<size_t>(size));
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

// Alice and Bob, each with a secret-key directory and a public-key directory knowing the other.
class World {
 public:
  World() {
    root_ = fs::temp_directory_path() / ("zk_bench_exc4_" + std::to_string(std::random_device()()));
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("cryst.dll");
    Check(module != nullptr, "cryst.dll is not beside the benchmark");
    using MakeUser = int (*)(const char*, const char*, const char*, const char*);
    const auto make = reinterpret_cast<MakeUser>(zk::platform::FindSymbol(module, "EXC_StandIn_MakeUser"));
    Check(make != nullptr, "not the stand-in");
    for (const char* user : {"alice", "bob"}) {
      fs::create_directories(root_ / user / "PUBLIC");
      Check(make(Dir(user, "SECRET").c_str(), user, kPassword, (root_ / (std::string(user) + ".pub")).string().c_str()) == 0,
            "provision");
    }
    for (const auto& [holder, owner] : {std::pair{"alice", "bob"}, {"bob", "alice"}}) {
      Check(Engine(holder)->IncludePublicKey((root_ / (std::string(owner) + ".pub")).string().c_str()) == 0, "include");
    }
  }
  ~World() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::unique_ptr<zk::TExc4CryptoEngine> Engine(const std::string& user) const {
    auto engine = std::make_unique<zk::TExc4CryptoEngine>();
    engine->SetCryptoParamValue(2, Dir(user, "SECRET").c_str());
    engine->SetCryptoParamValue(3, Dir(user, "PUBLIC").c_str());
    engine->SetPasswordRequestFunc(&AnswerPassword);
    return engine;
  }

 private:
  std::string Dir(const std::string& user, const char* name) const { return (root_ / user / name).string(); }
  fs::path root_;
};

World& TheWorld() {
  static World world;
  return world;
}

// Keys of the same kind for the raw side.
struct RawParty {
  uint8_t signD[32], exchangeD[32];
  Point sign, exchange;
  RawParty() {
    gost::r3410_2001::GenerateSecret(kCurve, signD);
    gost::r3410_2001::GenerateSecret(kCurve, exchangeD);
    gost::r3410_2001::PublicFromSecret(kCurve, signD, sign);
    gost::r3410_2001::PublicFromSecret(kCurve, exchangeD, exchange);
  }
};

void Digest(const Bytes& data, uint8_t out[32]) {
  gost::R3411Hash h;
  h.InitCryptoPro();
  h.Update(data.data(), data.size());
  h.Final(out);
}

void Mac(const uint8_t key[32], const uint8_t* data, size_t len, uint8_t out[8]) {
  gost::Gost28147 cipher;
  cipher.SetKey(key, gost::kSboxR3411TestParams);
  gost::MacMode mac;
  mac.Init(&cipher);
  mac.Update(data, len);
  mac.Final(out);
}

void Feedback(bool encrypt, const uint8_t key[32], const uint8_t iv[8], const uint8_t* in, uint8_t* out, size_t len) {
  gost::Gost28147 cipher;
  cipher.SetKey(key, gost::kSboxR3411TestParams);
  gost::GammaFeedbackMode mode;
  mode.Init(&cipher, iv);
  encrypt ? mode.Encrypt(in, out, len) : mode.Decrypt(in, out, len);
}

// The thread's own user, and the other one.
const char* Self(const benchmark::State& state) { return state.thread_index() == 0 ? "alice" : "bob"; }
const char* Peer(const benchmark::State& state) { return state.thread_index() == 0 ? "bob" : "alice"; }

void SignEngine(benchmark::State& state, int64_t bytes) {
  auto engine = TheWorld().Engine(Self(state));
  const Bytes data = RandomBytes(bytes);
  uint8_t signature[1024];
  int32_t length = 0;
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return engine->SignData(data.data(), static_cast<int32_t>(data.size()), signature, &length, nullptr);
  });
}

void SignRaw(benchmark::State& state, int64_t bytes) {
  const RawParty self;
  const Bytes data = RandomBytes(bytes);
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    uint8_t digest[32], signature[64];
    Digest(data, digest);
    return gost::r3410_2001::Sign(kCurve, self.signD, digest, signature);
  });
}

void VerifyEngine(benchmark::State& state, int64_t bytes) {
  const Bytes data = RandomBytes(bytes);
  Bytes signature(1024);
  int32_t length = 0;
  Check(TheWorld().Engine(Peer(state))->SignData(data.data(), static_cast<int32_t>(data.size()), signature.data(),
                                                 &length, nullptr) == 0,
        "sign");
  auto engine = TheWorld().Engine(Self(state));
  char signer[256];
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    return engine->VerifyData(data.data(), static_cast<int32_t>(data.size()), signature.data(), length, signer);
  });
}

void VerifyRaw(benchmark::State& state, int64_t bytes) {
  const RawParty peer;
  const Bytes data = RandomBytes(bytes);
  uint8_t digest[32], signature[64];
  Digest(data, digest);
  gost::r3410_2001::Sign(kCurve, peer.signD, digest, signature);
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    Digest(data, digest);
    return gost::r3410_2001::Verify(kCurve, peer.sign, digest, signature);
  });
}

void EncodeEngine(benchmark::State& state, int64_t bytes) {
  auto engine = TheWorld().Engine(Self(state));
  zkbench::TimeInPlace(state, bytes, RandomBytes(bytes), zk::TExc4CryptoEngine::kMaxEncodeAddition,
                       [&](uint8_t* buffer, int32_t* length) { return engine->EncodeData(buffer, length, Peer(state)); });
}

void EncodeRaw(benchmark::State& state, int64_t bytes) {
  const RawParty self, peer;
  const Bytes plain = RandomBytes(bytes);
  Bytes out(plain.size() + 124);
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    uint8_t cek[32], ukm[8], kek[32], mac[8];
    gost::SystemRandom(cek, sizeof(cek));
    gost::SystemRandom(ukm, sizeof(ukm));
    for (const Point* recipient : {&self.exchange, &peer.exchange}) {
      if (gost::Vko2001(kCurve, self.exchangeD, *recipient, ukm, kek) != 0) return 1;
      gost::WrapKey(kek, ukm, cek, gost::kSboxR3411TestParams, out.data() + 32);
    }
    gost::SystemRandom(out.data() + 112, 8);
    Mac(cek, plain.data(), plain.size(), mac);
    Feedback(true, cek, out.data() + 112, plain.data(), out.data() + 124, plain.size());
    return 0;
  });
}

// An envelope from the peer to this thread's user.
Bytes EnvelopeFromPeer(const benchmark::State& state, int64_t bytes) {
  Bytes envelope = RandomBytes(bytes);
  envelope.resize(envelope.size() + zk::TExc4CryptoEngine::kMaxEncodeAddition);
  int32_t length = static_cast<int32_t>(bytes);
  Check(TheWorld().Engine(Peer(state))->EncodeData(envelope.data(), &length, Self(state)) == 0, "encode");
  envelope.resize(static_cast<size_t>(length));
  return envelope;
}

void DecodeEngine(benchmark::State& state, int64_t bytes) {
  auto engine = TheWorld().Engine(Self(state));
  char sender[256];
  zkbench::TimeInPlace(state, bytes, EnvelopeFromPeer(state, bytes), 0,
                       [&](uint8_t* buffer, int32_t* length) { return engine->DecodeData(buffer, length, sender); });
}

void DecodeRaw(benchmark::State& state, int64_t bytes) {
  const RawParty self, peer;
  const Bytes plain = RandomBytes(bytes);
  uint8_t cek[32], ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8}, iv[8] = {8, 7, 6, 5, 4, 3, 2, 1}, kek[32], wrapped[36], mac[8];
  gost::SystemRandom(cek, sizeof(cek));
  Check(gost::Vko2001(kCurve, peer.exchangeD, self.exchange, ukm, kek) == 0, "raw vko");
  gost::WrapKey(kek, ukm, cek, gost::kSboxR3411TestParams, wrapped);
  Bytes body(plain.size()), out(plain.size());
  Feedback(true, cek, iv, plain.data(), body.data(), body.size());
  zkbench::TimeEach(state, bytes, zkbench::NoPrepare, [&] {
    uint8_t key[32];
    if (gost::Vko2001(kCurve, self.exchangeD, peer.exchange, ukm, kek) != 0) return 1;
    if (!gost::UnwrapKey(kek, ukm, wrapped, gost::kSboxR3411TestParams, key)) return 2;
    Feedback(false, key, iv, body.data(), out.data(), out.size());
    Mac(key, out.data(), out.size(), mac);
    return 0;
  });
}

}  // namespace

int main(int argc, char** argv) {
  zkbench::RegisterUsualOperations({SignEngine, SignRaw}, {VerifyEngine, VerifyRaw}, {EncodeEngine, EncodeRaw},
                                   {DecodeEngine, DecodeRaw});
  return zkbench::RunComparison(argc, argv, "Excellence", [] { TheWorld(); });
}
