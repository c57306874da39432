// The "Ms Crypto API 2.0" engine over the stand-in CryptoAPI beside the program (its SignData,
// VerifyData, EncodeData and DecodeData through the exports, as a host calls them) against raw
// OpenSSL CMS doing the same work: a detached SignedData with SHA-1, the signer's certificate and
// no signed attributes, checked against the CA; a triple-DES EnvelopedData for one recipient.
// Then VerifyData with 10 and with 10,000 correspondents' certificates in the directory, and two
// engines on two threads (beside raw OpenSSL CMS signing and verifying on two threads, which shows
// what OpenSSL itself allows: its decoders share locks that two threads contend for). Goals: sign/verify on 1 KiB at 0.7 of raw or better, encode/decode on
// 1 MiB at 0.95, the steady verify rate with 10,000 certificates within 10% of the rate with 10,
// two threads at 1.8 times one.
//
// Without the stand-in CryptoAPI (crypt32.dll) beside the program there is nothing to measure:
// the program says so and ends with status 0.
#define OPENSSL_SUPPRESS_DEPRECATED  // i2b_PrivateKey_bio writes the PRIVATEKEYBLOB keys import

#include <openssl/cms.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "bench_report.h"
#include "bench_scaling.h"
#include "bench_timing.h"
#include "capi/capi_system.h"
#include "osslkit.h"
#include "platform/platform.h"
#include "zk_mint.h"

namespace {

namespace fs = std::filesystem;
namespace kit = zk::osslkit;
using zkbench::NoPrepare;
using zkbench::TimeEach;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kSmall = 1024;
constexpr int64_t kLarge = 1024 * 1024;
constexpr int64_t kFew = 10;
constexpr int64_t kMany = 10000;
const char kType[] = "Ms Crypto API 2.0";
const char kProvider[] = "Microsoft Base Cryptographic Provider v1.0";
const char kTripleDes[] = "1.2.840.113549.3.7";

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

Bytes RandomData(size_t size) {
  Bytes data(size);
  std::mt19937 generator(static_cast<uint32_t>(size));
  for (auto& b : data) b = static_cast<uint8_t>(generator());
  return data;
}

struct EngineCloser {
  void operator()(void* e) const { DoneCryptoEngine(e); }
};
using EnginePtr = std::unique_ptr<void, EngineCloser>;

void SetByName(void* engine, const std::string& name, const std::string& value) {
  char buffer[1025];
  for (int32_t i = 1; i <= GetCryptoParamNumber(engine); ++i) {
    GetCryptoParamName(engine, i, buffer);
    if (name == buffer) {
      Check(SetCryptoParamValue(engine, i, value.c_str()) == 0, "cannot set " + name);
      return;
    }
  }
  throw std::runtime_error("no parameter " + name);
}

Bytes MsBlob(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  Check(i2b_PrivateKey_bio(bio, key) > 0, "no PRIVATEKEYBLOB");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  Bytes blob(data, data + size);
  BIO_free(bio);
  return blob;
}

// One sandbox: a CA, alice and bob (2048-bit keys in containers of the stand-in), and `count`
// correspondents' certificates in the directory bob reads.
class World {
 public:
  explicit World(int64_t count) {
    root_ = (fs::temp_directory_path() / ("zk_bench_capi_" + std::to_string(count))).string();
    fs::remove_all(root_);
    kit::SandboxOptions options;
    options.users = {{"alice", 2048}, {"bob", 2048}};
    options.write_crl = false;
    options.ca_name = "zk bench CA " + std::to_string(count);  // each world its own CA in ROOT
    box_ = std::make_unique<kit::Sandbox>(root_, options);
    if (count > 2) box_->AddAbonents(static_cast<size_t>(count - 2), box_->user("alice").key.get());
    zk::capitest::TSystemCryptoAPI system;
    Check(system.Load(), "the CryptoAPI lacks a call the set-up needs");
    Check(system.TrustRoot(kit::CertToDer(box_->ca_cert())), "the CA cannot go into ROOT");
    for (const char* user : {"alice", "bob"})
      Check(system.PutKey(Container(user), MsBlob(box_->user(user).key.get()), kProvider, 1), "no key container");
    alice_ = Open("alice");
    bob_ = Open("bob");
  }

  EnginePtr Open(const std::string& user) const {
    EnginePtr e(InitCryptoEngine(kType));
    Check(e != nullptr, "no engine");
    SetByName(e.get(), "User certificate file", box_->user(user).cert_path);
    SetByName(e.get(), "CA certificates dir", box_->ca_dir());
    SetByName(e.get(), "Abonents cerificates dir", box_->abonents_dir());
    SetByName(e.get(), "Hash Algorithm", "SHA1");
    SetByName(e.get(), "Encrypt Algorithm", kTripleDes);
    SetByName(e.get(), "Container Name Location", "FIXED_NAME:" + Container(user));
    return e;
  }
  void* alice() const { return alice_.get(); }
  void* bob() const { return bob_.get(); }
  const kit::SandboxUser& user(const char* name) const { return box_->user(name); }
  X509* ca() const { return box_->ca_cert(); }

 private:
  std::string Container(const std::string& user) const { return "zk_bench_" + user + fs::path(root_).filename().string(); }
  std::string root_;
  std::unique_ptr<kit::Sandbox> box_;
  EnginePtr alice_, bob_;
};

std::map<int64_t, std::unique_ptr<World>>& Worlds() {
  static std::map<int64_t, std::unique_ptr<World>> worlds;
  return worlds;
}
const World& WorldOf(int64_t count) {
  auto& w = Worlds()[count];
  if (!w) w = std::make_unique<World>(count);
  return *w;
}

Bytes EngineSign(void* engine, const Bytes& data) {
  Bytes signature(static_cast<size_t>(GetMaxSignatureLength(engine)));
  int32_t length = 0;
  Check(SignData(engine, data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr) == 0,
        "SignData");
  signature.resize(static_cast<size_t>(length));
  return signature;
}

Bytes EngineEnvelope(void* sender, const std::string& recipient, const Bytes& data) {
  Bytes buffer(data.size() + static_cast<size_t>(GetMaxEncodeAddition(sender)));
  std::memcpy(buffer.data(), data.data(), data.size());
  int32_t length = static_cast<int32_t>(data.size());
  Check(EncodeData(sender, buffer.data(), &length, recipient.c_str()) == 0, "EncodeData");
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

int32_t Verify(void* engine, const Bytes& data, const Bytes& signature) {
  char signer[256] = {};
  return VerifyData(engine, data.data(), static_cast<int32_t>(data.size()), signature.data(),
                    static_cast<int32_t>(signature.size()), signer);
}

// ---- the engine ------------------------------------------------------------------------------

void SignEngine(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  Bytes signature(static_cast<size_t>(GetMaxSignatureLength(w.alice())));
  int32_t length = 0;
  TimeEach(state, state.range(0), NoPrepare, [&] {
    return SignData(w.alice(), data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr);
  });
}

void VerifyEngine(benchmark::State& state) {
  const World& w = WorldOf(state.range(1));
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const Bytes signature = EngineSign(w.alice(), data);
  TimeEach(state, state.range(0), NoPrepare, [&] { return Verify(w.bob(), data, signature); });
}

void EncodeEngine(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  Bytes buffer(data.size() + static_cast<size_t>(GetMaxEncodeAddition(w.alice())));
  int32_t length = 0;
  TimeEach(
      state, state.range(0),
      [&] {
        std::memcpy(buffer.data(), data.data(), data.size());
        length = static_cast<int32_t>(data.size());
      },
      [&] { return EncodeData(w.alice(), buffer.data(), &length, "bob"); });
}

void DecodeEngine(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const Bytes envelope = EngineEnvelope(w.alice(), "bob", data);
  Bytes buffer(envelope.size());
  int32_t length = 0;
  TimeEach(
      state, state.range(0),
      [&] {
        std::memcpy(buffer.data(), envelope.data(), envelope.size());
        length = static_cast<int32_t>(envelope.size());
      },
      [&] { return DecodeData(w.bob(), buffer.data(), &length, nullptr); });
  Check(state.error_occurred() || (length == static_cast<int32_t>(data.size()) &&
                                   std::memcmp(buffer.data(), data.data(), data.size()) == 0),
        "DecodeData gave other data");
}

// ---- raw OpenSSL CMS ---------------------------------------------------------------------------

struct CmsFree {
  void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};
using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsFree>;

Bytes ToDer(CMS_ContentInfo* cms) {
  unsigned char* out = nullptr;
  const int size = i2d_CMS_ContentInfo(cms, &out);
  Check(size > 0, "i2d_CMS_ContentInfo");
  Bytes der(out, out + size);
  OPENSSL_free(out);
  return der;
}

CmsPtr FromDer(const Bytes& der) {
  const unsigned char* p = der.data();
  return CmsPtr(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
}

int32_t RawSign(const World& w, const Bytes& data, Bytes& out) {
  BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_NOATTR | CMS_NOSMIMECAP | CMS_PARTIAL;
  CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
  const bool ok = cms && CMS_add1_signer(cms.get(), w.user("alice").cert.get(), w.user("alice").key.get(), EVP_sha1(),
                                         flags) != nullptr &&
                  CMS_final(cms.get(), in, nullptr, flags) == 1;
  BIO_free(in);
  if (!ok) return 1;
  out = ToDer(cms.get());
  return 0;
}

int32_t RawVerify(X509_STORE* store, const Bytes& data, const Bytes& signature) {
  CmsPtr cms = FromDer(signature);
  BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
  const int ok = cms ? CMS_verify(cms.get(), nullptr, store, in, nullptr, CMS_BINARY) : 0;
  BIO_free(in);
  return ok == 1 ? 0 : 1;
}

X509_STORE* StoreOf(const World& w) {
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, w.ca());
  X509_STORE_set_purpose(store, X509_PURPOSE_ANY);
  return store;
}

void SignRaw(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  Bytes signature;
  TimeEach(state, state.range(0), NoPrepare, [&] { return RawSign(w, data, signature); });
}

void VerifyRaw(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  Bytes signature;
  Check(RawSign(w, data, signature) == 0, "CMS_sign");
  X509_STORE* store = StoreOf(w);
  TimeEach(state, state.range(0), NoPrepare, [&] { return RawVerify(store, data, signature); });
  X509_STORE_free(store);
}

void EncodeRaw(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  STACK_OF(X509)* recipients = sk_X509_new_null();
  sk_X509_push(recipients, w.user("bob").cert.get());
  TimeEach(state, state.range(0), NoPrepare, [&] {
    BIO* in = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    CmsPtr cms(CMS_encrypt(recipients, in, EVP_des_ede3_cbc(), CMS_BINARY));
    BIO_free(in);
    if (!cms) return 1;
    return ToDer(cms.get()).empty() ? 1 : 0;
  });
  sk_X509_free(recipients);
}

void DecodeRaw(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  // The engine's own envelope: both sides open the same bytes.
  const Bytes envelope = EngineEnvelope(w.alice(), "bob", data);
  TimeEach(state, state.range(0), NoPrepare, [&] {
    CmsPtr cms = FromDer(envelope);
    BIO* out = BIO_new(BIO_s_mem());
    const int ok = cms ? CMS_decrypt(cms.get(), w.user("bob").key.get(), w.user("bob").cert.get(), nullptr, out,
                                     CMS_BINARY)
                       : 0;
    BIO_free(out);
    return ok == 1 ? 0 : 1;
  });
}

// ---- two engines on two threads ----------------------------------------------------------------

void ScaleSign(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  EnginePtr self = w.Open(state.thread_index() == 0 ? "alice" : "bob");
  const Bytes data = RandomData(zkbench::kScalingBytes);
  Bytes signature(static_cast<size_t>(GetMaxSignatureLength(self.get())));
  int32_t length = 0;
  TimeEach(state, zkbench::kScalingBytes, NoPrepare, [&] {
    return SignData(self.get(), data.data(), static_cast<int32_t>(data.size()), signature.data(), &length, nullptr);
  });
}

void ScaleVerify(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  EnginePtr self = w.Open(state.thread_index() == 0 ? "bob" : "alice");
  const Bytes data = RandomData(zkbench::kScalingBytes);
  const Bytes signature = EngineSign(state.thread_index() == 0 ? w.alice() : w.bob(), data);
  TimeEach(state, zkbench::kScalingBytes, NoPrepare, [&] { return Verify(self.get(), data, signature); });
}

// The same work in raw OpenSSL CMS on one and two threads: what the machine and OpenSSL allow.
void ScaleSignRaw(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(zkbench::kScalingBytes);
  Bytes signature;
  TimeEach(state, zkbench::kScalingBytes, NoPrepare, [&] { return RawSign(w, data, signature); });
}

void ScaleVerifyRaw(benchmark::State& state) {
  const World& w = WorldOf(kFew);
  const Bytes data = RandomData(zkbench::kScalingBytes);
  Bytes signature;
  Check(RawSign(w, data, signature) == 0, "CMS_sign");
  X509_STORE* store = StoreOf(w);
  TimeEach(state, zkbench::kScalingBytes, NoPrepare, [&] { return RawVerify(store, data, signature); });
  X509_STORE_free(store);
}

// ---- tables ------------------------------------------------------------------------------------

double Rate(const zkbench::MedianReporter& r, const std::string& name, const std::string& args) {
  return r.Median(name, args, "items_per_second");
}

void PrintTables(const zkbench::MedianReporter& r) {
  struct Row {
    const char* op;
    int64_t size;
    double goal;
  } rows[] = {{"sign", kSmall, 0.7},  {"verify", kSmall, 0.7},  {"encode", kLarge, 0.95}, {"decode", kLarge, 0.95},
              {"sign", kLarge, 0},    {"encode", kSmall, 0},     {"decode", kSmall, 0}};
  std::printf("\n%-7s %6s %12s %12s %8s   %s\n", "op", "size", "engine op/s", "raw op/s", "ratio", "goal");
  for (const Row& row : rows) {
    const std::string size = std::to_string(row.size);
    const std::string args = std::string(row.op) == "verify" ? size + "/" + std::to_string(kFew) : size;
    const double engine = Rate(r, std::string(row.op) + "/engine", args), raw = Rate(r, std::string(row.op) + "/raw", size);
    if (engine <= 0 || raw <= 0) continue;
    std::printf("%-7s %6s %12.1f %12.1f %8.3f", row.op, row.size == kSmall ? "1 KiB" : "1 MiB", engine, raw, engine / raw);
    if (row.goal > 0) std::printf("   >=%.2f %s", row.goal, engine / raw >= row.goal ? "met" : "NOT MET");
    std::printf("\n");
  }
  const double few = Rate(r, "verify/engine", std::to_string(kSmall) + "/" + std::to_string(kFew));
  const double many = Rate(r, "verify/engine", std::to_string(kSmall) + "/" + std::to_string(kMany));
  if (few > 0 && many > 0)
    std::printf("\nsteady VerifyData, 10,000 certificates against 10: %.1f / %.1f op/s = %.3f   >=0.90 %s\n", many,
                few, many / few, many / few >= 0.9 ? "met" : "NOT MET");
}

void RegisterAll() {
  const auto add = [](const char* name, void (*fn)(benchmark::State&)) {
    return benchmark::RegisterBenchmark(name, fn)->UseManualTime()->Unit(benchmark::kMicrosecond);
  };
  for (int64_t size : {kSmall, kLarge}) {
    add("sign/engine", SignEngine)->Arg(size);
    add("sign/raw", SignRaw)->Arg(size);
    add("verify/raw", VerifyRaw)->Arg(size);
    add("encode/engine", EncodeEngine)->Arg(size);
    add("encode/raw", EncodeRaw)->Arg(size);
    add("decode/engine", DecodeEngine)->Arg(size);
    add("decode/raw", DecodeRaw)->Arg(size);
  }
  add("verify/engine", VerifyEngine)->Args({kSmall, kFew})->Args({kLarge, kFew})->Args({kSmall, kMany});
  zkbench::RegisterScaling("sign", ScaleSign);
  zkbench::RegisterScaling("verify", ScaleVerify);
  zkbench::RegisterScaling("sign", ScaleSignRaw, "raw");
  zkbench::RegisterScaling("verify", ScaleVerifyRaw, "raw");
}

// The stand-in keeps its containers and system stores in a state directory; the benchmark's own.
bool StandInPresent() {
  const std::string self = zk::platform::HostExecutableFileName();
  const fs::path dir = fs::path(self).parent_path();
  if (!fs::exists(dir / "crypt32.dll") || !fs::exists(dir / "advapi32.dll")) return false;
  if (std::getenv("ZK_CAPI_HOME") == nullptr)
    zk::platform::SetEnv("ZK_CAPI_HOME", (fs::temp_directory_path() / "zk_bench_capi_home").string());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!StandInPresent()) {
    std::printf("zk_bench_capi: no stand-in CryptoAPI (advapi32.dll and crypt32.dll) beside the program; "
                "nothing measured.\n");
    return 0;
  }
  RegisterAll();
  int status = 0;
  try {
    WorldOf(kFew);  // built here: the two-thread cases must not race to build it
    zkbench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTables(reporter);
    zkbench::PrintScalingTable(reporter, kType);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", e.what());
    status = 1;
  }
  Worlds().clear();
  benchmark::Shutdown();
  return status;
}
