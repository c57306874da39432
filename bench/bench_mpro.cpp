// The Message-PRO engine ("M-Pro v2.x", whose plug-in runs calls concurrently) against libgcrypt
// doing the same cryptographic work with the keys already in memory:
//   encode   a random AES-256 key and IV, AES-256-CBC over the data, RSA key transport to one recipient
//   decode   RSA decryption of the content key, AES-256-CBC decryption of the data
//   sign     SHA-256 of the data and of the signed attributes, RSA signature
//   verify   SHA-256 of the data and of the signed attributes, RSA verification, and the
//            certificate check: SHA-256 of the certificate's signed part, the authority's RSA verification
// The engine's side also builds and parses CMS with libksba, reads the certificates and the
// authority from their files and checks the CRL directory, as every operation of the plug-in does.
// encode_steady: EncodeData of 1 KiB for one recipient with 10 and with 10,000 certificates in the
// certificate directory. scale_*: two engines (two users) on two threads against one.
#include <benchmark/benchmark.h>
#include <gcrypt.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

#include "bench_report.h"
#include "bench_scaling.h"
#include "bench_timing.h"
#include "engines/mpro/mpro_engine.h"
#include "frame/zexroot.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using zkbench::kCpuSecondsPerOp;

constexpr int64_t kSmall = 1024;
constexpr int64_t kLarge = 1 << 20;
constexpr int kFew = 10, kMany = 10000;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

Bytes RandomBytes(size_t size) {
  std::mt19937 gen(42);
  Bytes out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

struct Sexp {
  gcry_sexp_t s = nullptr;
  ~Sexp() { gcry_sexp_release(s); }
};

// A stand-in key file: "ZKMPPSE 1", "Key=<hex of the canonical S-expression>", its check.
void ReadKeyFile(const std::string& path, Sexp& priv, Sexp& pub) {
  std::ifstream in(path);
  std::string line, hex;
  while (std::getline(in, line))
    if (line.compare(0, 4, "Key=") == 0) hex = line.substr(4);
  Bytes canon;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) canon.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  Check(gcry_sexp_new(&priv.s, canon.data(), canon.size(), 1) == 0, "key file " + path);
  gcry_sexp_t n = gcry_sexp_find_token(priv.s, "n", 0), e = gcry_sexp_find_token(priv.s, "e", 0);
  gcry_mpi_t nm = gcry_sexp_nth_mpi(n, 1, GCRYMPI_FMT_USG), em = gcry_sexp_nth_mpi(e, 1, GCRYMPI_FMT_USG);
  Check(gcry_sexp_build(&pub.s, nullptr, "(public-key(rsa(n %m)(e %m)))", nm, em) == 0, "public key");
  gcry_mpi_release(nm);
  gcry_mpi_release(em);
  gcry_sexp_release(n);
  gcry_sexp_release(e);
}

struct Toolkit {
  int (*MakeCa)(const char*, const char*, const char*) = nullptr;
  int (*MakeUser)(const char*, const char*, const char*, int64_t, const char*, const char*) = nullptr;
};

// Users alice (1) and bob (2) of one authority, their certificates in one directory, an engine each.
class World {
 public:
  World() {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("mplug2.dll");
    Check(module != nullptr, "mplug2.dll is not beside the benchmark");
    toolkit_.MakeCa = reinterpret_cast<decltype(toolkit_.MakeCa)>(zk::platform::FindSymbol(module, "MPro_StandIn_MakeCa"));
    toolkit_.MakeUser =
        reinterpret_cast<decltype(toolkit_.MakeUser)>(zk::platform::FindSymbol(module, "MPro_StandIn_MakeUser"));
    Check(toolkit_.MakeCa != nullptr && toolkit_.MakeUser != nullptr, "not the stand-in");
    root_ = fs::temp_directory_path() / ("zk_bench_mpro_" + std::to_string(std::random_device()()));
    fs::create_directories(root_ / "certs");
    fs::create_directories(root_ / "work" / "CRL");
    Check(toolkit_.MakeCa("/C=RU/O=Bench/CN=Root", Path("ca.key").c_str(), Path("ca.pem").c_str()) == 0, "authority");
    for (int n : {1, 2}) {
      Check(toolkit_.MakeUser(Path("ca.key").c_str(), Path("ca.pem").c_str(), ("/C=RU/O=Bench/CN=" + Name(n)).c_str(), 0,
                              Pse(n).c_str(), Cert(n).c_str()) == 0,
            "user");
      auto engine = std::make_unique<zk::TMPro2xCryptoEngine>();
      const std::pair<int32_t, std::string> params[] = {{1, Cert(n)},   {2, Path("certs")},     {3, Path("work")},
                                                        {7, Pse(n)},    {8, Path("ca.pem")},    {22, "600"}};
      for (const auto& [index, value] : params) Check(engine->SetCryptoParamValue(index, value.c_str()) == 0, "param");
      engines_.push_back(std::move(engine));
    }
    ReadKeyFile(Pse(1), alice_, alicePub_);
    ReadKeyFile(Pse(2), bob_, bobPub_);
    ReadKeyFile(Path("ca.key"), ca_, caPub_);
  }
  ~World() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  zk::TMPro2xCryptoEngine& Engine(int n) { return *engines_[size_t(n - 1)]; }
  static std::string Name(int n) { return n == 1 ? "alice" : "bob"; }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  std::string Pse(int n) const { return Path(Name(n) + ".pse"); }
  std::string Cert(int n) const { return Path("certs/" + Name(n) + ".pem"); }
  // Copies of bob's certificate under other names, up to `count` files in the directory.
  void FillCertificates(int count) {
    for (int i = filler_; i < count - 2; ++i) fs::copy_file(Cert(2), Path("certs/filler" + std::to_string(i) + ".pem"));
    filler_ = std::max(filler_, count - 2);
  }
  gcry_sexp_t Private(int n) const { return n == 1 ? alice_.s : bob_.s; }
  gcry_sexp_t Public(int n) const { return n == 1 ? alicePub_.s : bobPub_.s; }
  gcry_sexp_t Authority() const { return ca_.s; }
  gcry_sexp_t AuthorityPublic() const { return caPub_.s; }

 private:
  Toolkit toolkit_;
  fs::path root_;
  std::vector<std::unique_ptr<zk::TMPro2xCryptoEngine>> engines_;
  Sexp alice_, alicePub_, bob_, bobPub_, ca_, caPub_;
  int filler_ = 0;
};

World& TheWorld() {
  static World world;
  return world;
}

// ---- the raw primitives ------------------------------------------------------------------------

Bytes Digest(const uint8_t* data, size_t len) {
  Bytes d(32);
  gcry_md_hash_buffer(GCRY_MD_SHA256, d.data(), data, len);
  return d;
}

bool RsaSign(gcry_sexp_t key, const Bytes& digest, Sexp& sig) {
  Sexp in;
  return gcry_sexp_build(&in.s, nullptr, "(data(flags pkcs1)(hash sha256 %b))", int(digest.size()), digest.data()) == 0 &&
         gcry_pk_sign(&sig.s, in.s, key) == 0;
}

bool RsaVerify(gcry_sexp_t pub, const Bytes& digest, const Sexp& sig) {
  Sexp in;
  return gcry_sexp_build(&in.s, nullptr, "(data(flags pkcs1)(hash sha256 %b))", int(digest.size()), digest.data()) == 0 &&
         gcry_pk_verify(sig.s, in.s, pub) == 0;
}

bool AesCbc(bool encrypt, const uint8_t* key, const uint8_t* iv, Bytes& buffer) {
  gcry_cipher_hd_t h = nullptr;
  const bool ok = gcry_cipher_open(&h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) == 0 &&
                  gcry_cipher_setkey(h, key, 32) == 0 && gcry_cipher_setiv(h, iv, 16) == 0 &&
                  (encrypt ? gcry_cipher_encrypt(h, buffer.data(), buffer.size(), nullptr, 0)
                           : gcry_cipher_decrypt(h, buffer.data(), buffer.size(), nullptr, 0)) == 0;
  gcry_cipher_close(h);
  return ok;
}

struct RawEnvelope {
  Bytes body;
  Sexp wrapped;
  uint8_t iv[16];
};

int RawEncode(const Bytes& plain, RawEnvelope& out) {
  uint8_t key[32];
  gcry_randomize(key, sizeof key, GCRY_STRONG_RANDOM);
  gcry_create_nonce(out.iv, sizeof out.iv);
  out.body.assign(plain.begin(), plain.end());
  out.body.insert(out.body.end(), 16 - plain.size() % 16, uint8_t(16 - plain.size() % 16));
  if (!AesCbc(true, key, out.iv, out.body)) return 1;
  Sexp in;
  gcry_sexp_release(out.wrapped.s);
  out.wrapped.s = nullptr;
  return gcry_sexp_build(&in.s, nullptr, "(data(flags pkcs1)(value %b))", 32, key) == 0 &&
                 gcry_pk_encrypt(&out.wrapped.s, in.s, TheWorld().Public(2)) == 0
             ? 0
             : 2;
}

int RawDecode(const RawEnvelope& in, Bytes& plain) {
  // The wrapped key as it travels (its bytes), taken back with PKCS#1 v1.5 unpadding.
  gcry_sexp_t a = gcry_sexp_find_token(in.wrapped.s, "a", 0);
  size_t aLen = 0;
  const char* aData = a ? gcry_sexp_nth_data(a, 1, &aLen) : nullptr;
  Sexp enc, key;
  const bool built = aData != nullptr &&
                     gcry_sexp_build(&enc.s, nullptr, "(enc-val(flags pkcs1)(rsa(a %b)))", int(aLen), aData) == 0;
  gcry_sexp_release(a);
  if (!built || gcry_pk_decrypt(&key.s, enc.s, TheWorld().Private(2)) != 0) return 1;
  size_t n = 0;
  gcry_sexp_t value = gcry_sexp_find_token(key.s, "value", 0);
  const char* k = value ? gcry_sexp_nth_data(value, 1, &n) : nullptr;
  const bool ok = k != nullptr && n == 32;
  uint8_t contentKey[32];
  if (ok) std::memcpy(contentKey, k, 32);
  gcry_sexp_release(value);
  if (!ok) return 2;
  plain = in.body;
  return AesCbc(false, contentKey, in.iv, plain) ? 0 : 3;
}

// The signed attributes: content type, signing time and the data's digest, about 100 bytes.
Bytes Attributes(const Bytes& dataDigest) {
  Bytes attrs(105, 0x31);
  std::memcpy(attrs.data() + attrs.size() - 32, dataDigest.data(), 32);
  return attrs;
}

// ---- encryption of 1 MiB -----------------------------------------------------------------------

void EncodeEngine(benchmark::State& state) {
  const Bytes plain = RandomBytes(kLarge);
  Bytes buffer(plain.size() + size_t(TheWorld().Engine(1).GetMaxEncodeAddition()));
  int32_t length = 0;
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(buffer.data(), plain.data(), plain.size()), length = kLarge; },
      [&] { return TheWorld().Engine(1).EncodeData(buffer.data(), &length, "bob"); });
}

void EncodeRaw(benchmark::State& state) {
  const Bytes plain = RandomBytes(kLarge);
  RawEnvelope envelope;
  zkbench::TimeEach(state, kLarge, zkbench::NoPrepare, [&] { return RawEncode(plain, envelope); });
}

void DecodeEngine(benchmark::State& state) {
  Bytes envelope = RandomBytes(kLarge);
  envelope.resize(kLarge + size_t(TheWorld().Engine(1).GetMaxEncodeAddition()));
  int32_t sealed = kLarge;
  Check(TheWorld().Engine(1).EncodeData(envelope.data(), &sealed, "bob") == 0, "envelope");
  Bytes buffer(size_t(sealed) + 16);
  int32_t length = 0;
  char sender[64];
  zkbench::TimeEach(
      state, kLarge, [&] { std::memcpy(buffer.data(), envelope.data(), size_t(sealed)), length = sealed; },
      [&] { return TheWorld().Engine(2).DecodeData(buffer.data(), &length, sender); });
}

void DecodeRaw(benchmark::State& state) {
  RawEnvelope envelope;
  Check(RawEncode(RandomBytes(kLarge), envelope) == 0, "raw envelope");
  Bytes plain;
  zkbench::TimeEach(state, kLarge, zkbench::NoPrepare, [&] { return RawDecode(envelope, plain); });
}

// ---- signatures over 1 KiB ---------------------------------------------------------------------

void SignEngineWith(benchmark::State& state, int user) {
  const Bytes data = RandomBytes(kSmall);
  uint8_t signature[4096];
  int32_t length = 0;
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] {
    return TheWorld().Engine(user).SignData(data.data(), kSmall, signature, &length, "");
  });
}

int RawSign(const Bytes& data, int user) {
  Sexp sig;
  return RsaSign(TheWorld().Private(user), Digest(Attributes(Digest(data.data(), data.size())).data(), 105), sig) ? 0 : 1;
}

void SignEngine(benchmark::State& state) { SignEngineWith(state, 1); }

void SignRaw(benchmark::State& state) {
  const Bytes data = RandomBytes(kSmall);
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] { return RawSign(data, 1); });
}

Bytes SignatureOf(int user, const Bytes& data) {
  uint8_t signature[4096];
  int32_t length = 0;
  Check(TheWorld().Engine(user).SignData(data.data(), int32_t(data.size()), signature, &length, "") == 0, "signature");
  return Bytes(signature, signature + length);
}

void VerifyEngineWith(benchmark::State& state, int signer, int verifier) {
  const Bytes data = RandomBytes(kSmall), signature = SignatureOf(signer, data);
  char uid[64];
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] {
    return TheWorld().Engine(verifier).VerifyData(data.data(), kSmall, signature.data(), int32_t(signature.size()), uid);
  });
}

void VerifyEngine(benchmark::State& state) { VerifyEngineWith(state, 1, 2); }

struct RawSignature {
  Sexp signature, certificate;
  Bytes tbs = RandomBytes(700);
};

int RawVerify(const Bytes& data, const RawSignature& s, int signer) {
  const bool ok = RsaVerify(TheWorld().Public(signer), Digest(Attributes(Digest(data.data(), data.size())).data(), 105),
                            s.signature) &&
                  RsaVerify(TheWorld().AuthorityPublic(), Digest(s.tbs.data(), s.tbs.size()), s.certificate);
  return ok ? 0 : 1;
}

RawSignature RawSignatureOf(const Bytes& data, int signer) {
  RawSignature s;
  Check(RsaSign(TheWorld().Private(signer), Digest(Attributes(Digest(data.data(), data.size())).data(), 105), s.signature) &&
            RsaSign(TheWorld().Authority(), Digest(s.tbs.data(), s.tbs.size()), s.certificate),
        "raw signature");
  return s;
}

void VerifyRaw(benchmark::State& state) {
  const Bytes data = RandomBytes(kSmall);
  const RawSignature s = RawSignatureOf(data, 1);
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] { return RawVerify(data, s, 1); });
}

// ---- 10 or 10,000 certificates in the directory ------------------------------------------------

void EncodeSteady(benchmark::State& state) {
  TheWorld().FillCertificates(int(state.range(0)));
  const Bytes plain = RandomBytes(kSmall);
  Bytes buffer(plain.size() + size_t(TheWorld().Engine(1).GetMaxEncodeAddition()));
  int32_t length = 0;
  zkbench::TimeEach(
      state, kSmall, [&] { std::memcpy(buffer.data(), plain.data(), plain.size()), length = kSmall; },
      [&] { return TheWorld().Engine(1).EncodeData(buffer.data(), &length, "bob"); });
}

// ---- two engines on two threads ----------------------------------------------------------------

int User(const benchmark::State& state) { return state.thread_index() % 2 + 1; }

void ScaleSign(benchmark::State& state) { SignEngineWith(state, User(state)); }
void ScaleVerify(benchmark::State& state) { VerifyEngineWith(state, 3 - User(state), User(state)); }
void ScaleSignRaw(benchmark::State& state) {
  const Bytes data = RandomBytes(kSmall);
  const int user = User(state);
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] { return RawSign(data, user); });
}
void ScaleVerifyRaw(benchmark::State& state) {
  const Bytes data = RandomBytes(kSmall);
  const RawSignature s = RawSignatureOf(data, 1);
  zkbench::TimeEach(state, kSmall, zkbench::NoPrepare, [&] { return RawVerify(data, s, 1); });
}

void ScaleEncode(benchmark::State& state) {
  const int user = User(state);
  const Bytes plain = RandomBytes(kSmall);
  Bytes buffer(plain.size() + size_t(TheWorld().Engine(user).GetMaxEncodeAddition()));
  int32_t length = 0;
  const std::string to = World::Name(3 - user);
  zkbench::TimeEach(
      state, kSmall, [&] { std::memcpy(buffer.data(), plain.data(), plain.size()), length = kSmall; },
      [&] { return TheWorld().Engine(user).EncodeData(buffer.data(), &length, to.c_str()); });
}

void ScaleDecode(benchmark::State& state) {
  const int user = User(state);
  Bytes envelope = RandomBytes(kSmall);
  envelope.resize(kSmall + size_t(TheWorld().Engine(user).GetMaxEncodeAddition()));
  int32_t sealed = kSmall;
  Check(TheWorld().Engine(3 - user).EncodeData(envelope.data(), &sealed, World::Name(user).c_str()) == 0, "envelope");
  Bytes buffer(static_cast<size_t>(sealed));
  int32_t length = 0;
  char sender[64];
  zkbench::TimeEach(
      state, kSmall, [&] { std::memcpy(buffer.data(), envelope.data(), size_t(sealed)), length = sealed; },
      [&] { return TheWorld().Engine(user).DecodeData(buffer.data(), &length, sender); });
}

void RegisterAll() {
  const std::pair<const char*, void (*)(benchmark::State&)> timed[] = {
      {"encode/engine", EncodeEngine}, {"encode/raw", EncodeRaw}, {"decode/engine", DecodeEngine},
      {"decode/raw", DecodeRaw},       {"sign/engine", SignEngine}, {"sign/raw", SignRaw},
      {"verify/engine", VerifyEngine}, {"verify/raw", VerifyRaw}};
  for (const auto& [name, fn] : timed) {
    benchmark::RegisterBenchmark(name, fn)->UseManualTime()->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("encode_steady/engine", EncodeSteady)
      ->Arg(kFew)
      ->Arg(kMany)
      ->UseManualTime()
      ->Unit(benchmark::kMicrosecond);
  zkbench::RegisterScaling("sign", ScaleSign);
  zkbench::RegisterScaling("sign", ScaleSignRaw, "raw");
  zkbench::RegisterScaling("verify", ScaleVerify);
  zkbench::RegisterScaling("verify", ScaleVerifyRaw, "raw");
  zkbench::RegisterScaling("encode", ScaleEncode);
  zkbench::RegisterScaling("decode", ScaleDecode);
}

void PrintTables(const zkbench::MedianReporter& r) {
  struct Row {
    const char* op;
    const char* size;
    double goal;
  };
  const Row rows[] = {{"encode", "1 MiB", 0.95}, {"decode", "1 MiB", 0.95}, {"sign", "1 KiB", 0.85}, {"verify", "1 KiB", 0.85}};
  std::printf("\nM-Pro v2.x engine against libgcrypt doing the same work:\n");
  std::printf("%-7s %6s %12s %12s %8s %8s   %s\n", "op", "size", "engine op/s", "raw op/s", "ratio", "cpu", "goal");
  for (const Row& row : rows) {
    const std::string engine = std::string(row.op) + "/engine", raw = std::string(row.op) + "/raw";
    const double ew = r.Median(engine, "", "items_per_second"), rw = r.Median(raw, "", "items_per_second");
    const double ec = r.Median(engine, "", kCpuSecondsPerOp), rc = r.Median(raw, "", kCpuSecondsPerOp);
    if (ew <= 0 || rw <= 0 || ec <= 0 || rc <= 0) continue;
    std::printf("%-7s %6s %12.2f %12.2f %8.3f %8.3f   >=%.2f %s\n", row.op, row.size, ew, rw, ew / rw, rc / ec,
                row.goal, ew / rw >= row.goal ? "met" : "MISSED");
  }
  const double few = r.Median("encode_steady/engine", std::to_string(kFew), "items_per_second");
  const double many = r.Median("encode_steady/engine", std::to_string(kMany), "items_per_second");
  if (few > 0 && many > 0) {
    std::printf("steady EncodeData/s with %d certificates %.1f, with %d certificates %.1f: ratio %.3f, goal >=0.90 %s\n",
                kFew, few, kMany, many, many / few, many / few >= 0.9 ? "met" : "MISSED");
  }
  zkbench::PrintScalingTable(r, "M-Pro v2.x");
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int status = 0;
  try {
    zkbench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTables(reporter);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  return status;
}
