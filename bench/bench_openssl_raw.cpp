// The raw side of the OpenSSL engine's benchmark: libcrypto doing the engine's primitive work with
// keys parsed once and kept. Per operation:
//   sign       MD5 of the data; RSA_sign (DigestInfo, PKCS#1 v1.5 private-key operation)
//   verify     MD5 of the data; RSA_verify with the signer's public key
//   raw_chain  the same, plus X509_verify_cert of the signer's certificate against the CA and a
//              look-up in the CA's CRL on every verification (the engine looks in the CRLs every
//              time, but runs the chain check again only when its remembered result has lapsed)
//   encode     16 random bytes; MD5 of the data; PKCS#1 v1.5 public-key encryption of session key
//              and MD5 for the recipient; RC4 of the data into the output buffer
//   decode     PKCS#1 v1.5 private-key decryption of the key block; RC4 of the ciphertext; MD5 of
//              the plaintext compared with the key block's
// The engine's envelopes are read here and the envelopes made here are read by the engine, so
// both sides are seen to do the same work.
#define OPENSSL_SUPPRESS_DEPRECATED  // the same low-level RSA and RC4 calls the engine makes

#include <openssl/md5.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>
#include <openssl/rc4.h>
#include <openssl/rsa.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>

#include "bench_openssl_world.h"
#include "zk_mint.h"

namespace zkbench::ossl {

namespace {

struct RsaCloser {
  void operator()(RSA* rsa) const { RSA_free(rsa); }
};
using RsaPtr = std::unique_ptr<RSA, RsaCloser>;

struct StoreCloser {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
using StorePtr = std::unique_ptr<X509_STORE, StoreCloser>;

RsaPtr RsaOf(EVP_PKEY* key) {
  RsaPtr rsa(EVP_PKEY_get1_RSA(key));
  Check(rsa != nullptr, "not an RSA key");
  return rsa;
}

RsaPtr PublicRsaOf(X509* cert) { return RsaOf(X509_get0_pubkey(cert)); }

Bytes ReadAll(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  Check(file != nullptr, "cannot read " + path);
  Bytes bytes;
  uint8_t chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

// The RSA part of an engine signature: after the UID, its NUL and the hash byte.
const uint8_t* RsaPartOf(const Bytes& signature, size_t& length) {
  const size_t uidEnd = std::strlen(reinterpret_cast<const char*>(signature.data()));
  length = signature.size() - uidEnd - 2;
  return signature.data() + uidEnd + 2;
}

void PutLe32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The certificate check the engine runs before it trusts a correspondent's key: the chain to the
// CA for any purpose, then the serial in the CA's CRL.
class ChainCheck {
 public:
  explicit ChainCheck(const kit::Sandbox& box)
      : store_(X509_STORE_new()), crl_(kit::CrlFromDer(ReadAll(box.crl_path()))) {
    Check(store_ != nullptr && X509_STORE_add_cert(store_.get(), box.ca_cert()) == 1, "X509_STORE_add_cert");
    Check(X509_STORE_add_crl(store_.get(), crl_.get()) == 1, "X509_STORE_add_crl");
  }

  bool Passes(X509* cert) const {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    bool ok = ctx != nullptr && X509_STORE_CTX_init(ctx, store_.get(), cert, nullptr) == 1;
    if (ok) {
      X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_ANY);
      X509_REVOKED* revoked = nullptr;
      ok = X509_verify_cert(ctx) == 1 &&
           !(X509_NAME_cmp(X509_CRL_get_issuer(crl_.get()), X509_get_issuer_name(cert)) == 0 &&
             X509_CRL_get0_by_serial(crl_.get(), &revoked, X509_get_serialNumber(cert)) > 0);
    }
    X509_STORE_CTX_free(ctx);
    return ok;
  }

 private:
  StorePtr store_;
  kit::CrlPtr crl_;
};

void VerifyRawCase(benchmark::State& state, bool withChain) {
  const World& world = WorldOf(kFewCorrespondents);
  const kit::SandboxUser& alice = world.user("alice");
  const RsaPtr rsa = PublicRsaOf(alice.cert.get());
  const ChainCheck chain(world.box());
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const Bytes signature = EngineSign(world.alice(), data);
  size_t rsaLength = 0;
  const uint8_t* rsaPart = RsaPartOf(signature, rsaLength);
  TimeEach(state, state.range(0), NoPrepare, [&] {
    if (withChain && !chain.Passes(alice.cert.get())) return -1;
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5(data.data(), data.size(), digest);
    const int ok = RSA_verify(NID_md5, digest, sizeof(digest), rsaPart, static_cast<unsigned>(rsaLength), rsa.get());
    return ok == 1 ? 0 : -1;
  });
}

// The plaintext bob's engine gets from an envelope; empty when it refuses it.
Bytes EngineDecode(const World& world, Bytes envelope) {
  int32_t length = static_cast<int32_t>(envelope.size());
  std::string sender(static_cast<size_t>(GetMaxUIDLength(world.bob())), '\0');
  if (DecodeData(world.bob(), envelope.data(), &length, sender.data()) != 0) return {};
  envelope.resize(static_cast<size_t>(length));
  return envelope;
}

}  // namespace

void SignRaw(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const RsaPtr rsa = RsaOf(world.user("alice").key.get());
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  Bytes signature(static_cast<size_t>(RSA_size(rsa.get())));
  TimeEach(state, state.range(0), NoPrepare, [&] {
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5(data.data(), data.size(), digest);
    unsigned int length = 0;
    return RSA_sign(NID_md5, digest, sizeof(digest), signature.data(), &length, rsa.get()) == 1 ? 0 : -1;
  });
}

void VerifyRaw(benchmark::State& state) { VerifyRawCase(state, false); }
void VerifyRawChain(benchmark::State& state) { VerifyRawCase(state, true); }

void EncodeRaw(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const kit::SandboxUser& bob = world.user("bob");
  const RsaPtr rsa = PublicRsaOf(bob.cert.get());
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const size_t keyBlockLen = static_cast<size_t>(RSA_size(rsa.get()));
  const size_t header = 8 + bob.uid.size() + 1 + 4 + keyBlockLen;
  Bytes out(header + data.size() + 4);
  TimeEach(state, state.range(0), NoPrepare, [&] {
    uint8_t keyBlock[32];
    if (RAND_bytes(keyBlock, 16) != 1) return -1;
    MD5(data.data(), data.size(), keyBlock + 16);
    PutLe32(out.data(), 1);     // one recipient
    PutLe32(out.data() + 4, 1);  // RC4
    std::memcpy(out.data() + 8, bob.uid.c_str(), bob.uid.size() + 1);
    PutLe32(out.data() + 8 + bob.uid.size() + 1, static_cast<uint32_t>(keyBlockLen));
    const int written = RSA_public_encrypt(sizeof(keyBlock), keyBlock, out.data() + header - keyBlockLen, rsa.get(),
                                           RSA_PKCS1_PADDING);
    if (written != static_cast<int>(keyBlockLen)) return -1;
    RC4_KEY key;
    RC4_set_key(&key, 16, keyBlock);
    RC4(&key, data.size(), data.data(), out.data() + header);
    PutLe32(out.data() + header + data.size(), static_cast<uint32_t>(header));
    return 0;
  });
  // One thread checks: the engine serves one operation at a time.
  Check(state.error_occurred() || state.thread_index() != 0 || EngineDecode(world, out) == data,
        "the engine does not read the raw envelope");
}

void DecodeRaw(benchmark::State& state) {
  const World& world = WorldOf(kFewCorrespondents);
  const kit::SandboxUser& bob = world.user("bob");
  const RsaPtr rsa = RsaOf(bob.key.get());
  const Bytes data = RandomData(static_cast<size_t>(state.range(0)));
  const Bytes envelope = EngineEnvelope(world, data);
  const size_t keyBlockLen = static_cast<size_t>(RSA_size(rsa.get()));
  const size_t header = 8 + bob.uid.size() + 1 + 4 + keyBlockLen;
  const size_t cipherLen = envelope.size() - header - 4;
  Bytes plain(cipherLen);
  TimeEach(state, state.range(0), NoPrepare, [&] {
    uint8_t keyBlock[256];
    const int recovered = RSA_private_decrypt(static_cast<int>(keyBlockLen), envelope.data() + header - keyBlockLen,
                                              keyBlock, rsa.get(), RSA_PKCS1_PADDING);
    if (recovered != 32) return -1;
    RC4_KEY key;
    RC4_set_key(&key, 16, keyBlock);
    RC4(&key, cipherLen, envelope.data() + header, plain.data());
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5(plain.data(), plain.size(), digest);
    return std::memcmp(digest, keyBlock + 16, sizeof(digest)) == 0 ? 0 : -1;
  });
  Check(state.error_occurred() || plain == data, "raw decoding of the engine's envelope gave other bytes");
}

}  // namespace zkbench::ossl
