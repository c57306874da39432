// The formats the engine writes, read and rebuilt independently with the stand-in's primitives:
// digests, signature blocks and envelopes.
#include <cstring>

#include "cryptoc/cryptoc_fixture.h"
#include "engines/cryptoc/crypc_registry.h"

namespace cctest {
namespace {

using zk::cryptoc::CryptoCApi;

const CryptoCApi& Api() { return Toolkit().api; }

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

Bytes Hex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

zk::cryptoc::TCryptoC_DLL& AnyBinding() {
  zk::cryptoc::TCryptoC_DLL* binding = nullptr;
  zk::cryptoc::KeySettings settings;
  settings.AbonentsDir = "digest-only";
  EXPECT_EQ(zk::cryptoc::FetchBinding(settings, nullptr, binding), 0);
  return *binding;
}

Bytes EngineDigest(const Bytes& data, bool compatibility) {
  Bytes out(32);
  EXPECT_EQ(AnyBinding().Digest(data.data(), static_cast<int32_t>(data.size()), compatibility, out.data()), 0);
  return out;
}

// The older digest: every 65535-byte piece replaced by as many bytes from the data's head.
Bytes CompatibilityReference(const Bytes& data) {
  Bytes fed;
  for (size_t done = 0; done < data.size(); done += 65535) {
    const size_t piece = std::min<size_t>(65535, data.size() - done);
    fed.insert(fed.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(piece));
  }
  return ToolkitHash(fed);
}

// A work block with the engine's substitution table (the first 128 bytes of a hash block).
Bytes WorkBlock() {
  Bytes work(zk::cryptoc::kWorkBlockSize, 0);
  static const uint8_t kSbox[128] = {
      1,  15, 13, 0,  5,  7,  10, 4,  9,  2,  3,  14, 6,  11, 8,  12, 13, 11, 4,  1,  3,  15, 5,  9,  0,  10,
      14, 7,  6,  8,  2,  12, 4,  11, 10, 0,  7,  2,  1,  13, 3,  6,  8,  5,  9,  12, 15, 14, 6,  12, 7,  1,
      5,  15, 13, 8,  4,  10, 9,  14, 0,  3,  11, 2,  7,  13, 10, 1,  0,  8,  9,  15, 14, 4,  6,  12, 11, 2,
      5,  3,  5,  8,  1,  13, 10, 3,  4,  2,  14, 15, 12, 7,  6,  0,  9,  11, 14, 11, 4,  12, 6,  13, 15, 10,
      2,  3,  8,  1,  0,  7,  5,  9,  4,  10, 9,  2,  13, 8,  0,  14, 6,  11, 1,  12, 7,  15, 5,  3};
  std::copy(std::begin(kSbox), std::end(kSbox), work.begin());
  return work;
}

Bytes Mac(const Bytes& key, const uint8_t* data, size_t len) {
  Bytes work = WorkBlock(), mac(8);
  EXPECT_EQ(Api().CrypC_G28147_1989_mac_init(work.data(), key.data(), nullptr), 0);
  EXPECT_EQ(Api().CrypC_G28147_1989_mac_update(work.data(), data, static_cast<uint32_t>(len)), 0);
  EXPECT_EQ(Api().CrypC_G28147_1989_mac_final(work.data(), mac.data()), 0);
  Api().CrypC_G28147_1989_mac_clear(work.data());
  return mac;
}

// Method 0 gamma, 1 gamma with feedback.
Bytes Crypt(int method, bool encrypt, const Bytes& key, const uint8_t* iv, const uint8_t* in, size_t len) {
  Bytes work = WorkBlock(), out(len);
  const uint32_t n = static_cast<uint32_t>(len);
  if (method == 0) {
    EXPECT_EQ(Api().CrypC_G28147_1989_gamma_init(work.data(), key.data(), iv), 0);
    EXPECT_EQ(Api().CrypC_G28147_1989_gamma_crypt(work.data(), in, out.data(), n), 0);
    Api().CrypC_G28147_1989_gamma_clear(work.data());
  } else {
    EXPECT_EQ(Api().CrypC_G28147_1989_gamma_ofb_init(work.data(), key.data(), iv), 0);
    EXPECT_EQ(encrypt ? Api().CrypC_G28147_1989_gamma_ofb_encrypt(work.data(), in, out.data(), n)
                      : Api().CrypC_G28147_1989_gamma_ofb_decrypt(work.data(), in, out.data(), n),
              0);
    Api().CrypC_G28147_1989_gamma_ofb_clear(work.data());
  }
  return out;
}

struct KeyFiles {
  std::string uid;
  int type;
  Bytes signPublic, agreePublic, signSecret, agreeSecret;
};

KeyFiles ReadKeys(const Sandbox& box, const std::string& uid) {
  const Bytes pub = ReadFile(box.PublicKeyPath(uid)), sec = ReadFile(box.SecretKeyPath(uid));
  KeyFiles k;
  k.uid = uid;
  const size_t n = uid.size();
  k.type = static_cast<int>(WordAt(pub, n + 1));
  const size_t s = k.type == 0 ? 128 : 100;
  k.signPublic.assign(pub.begin() + static_cast<std::ptrdiff_t>(n + 5), pub.begin() + static_cast<std::ptrdiff_t>(n + 5 + s));
  k.agreePublic.assign(pub.begin() + static_cast<std::ptrdiff_t>(n + 5 + s), pub.end());
  k.signSecret.assign(sec.begin() + 4, sec.begin() + 36);
  k.agreeSecret.assign(sec.begin() + 36, sec.end());
  return k;
}

// The pairwise key: the digest of the Diffie-Hellman value of one's secret and the other's public.
Bytes PairKey(const KeyFiles& own, const KeyFiles& peer) {
  Bytes work = WorkBlock(), agreed(128);
  EXPECT_EQ(Api().CrypC_LDH_PKA_set_parms(work.data(), nullptr, 128), 0);
  EXPECT_EQ(Api().CrypC_LDH_PKA_set_secret_key(work.data(), own.agreeSecret.data()), 0);
  EXPECT_EQ(Api().CrypC_LDH_PKA_gen_mutual_key(work.data(), peer.agreePublic.data(), agreed.data()), 0);
  Api().CrypC_LDH_PKA_clear(work.data());
  return ToolkitHash(agreed);
}

int VerifyRaw(const KeyFiles& signer, const Bytes& digest, const uint8_t* signature) {
  Bytes work = WorkBlock();
  const bool v94 = signer.type == 0;
  EXPECT_EQ(v94 ? Api().CrypC_LR34_10_1994_set_parms(work.data(), nullptr, 32, 128)
                : Api().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32),
            0);
  EXPECT_EQ(v94 ? Api().CrypC_LR34_10_1994_set_public_key(work.data(), signer.signPublic.data())
                : Api().CrypC_LR34_10_2001_set_public_key(work.data(), signer.signPublic.data()),
            0);
  const int status = v94 ? Api().CrypC_LR34_10_1994_verify(work.data(), digest.data(), signature, 64)
                         : Api().CrypC_LR34_10_2001_verify(work.data(), digest.data(), signature, 64);
  v94 ? Api().CrypC_LR34_10_1994_clear(work.data()) : Api().CrypC_LR34_10_2001_clear(work.data());
  return status;
}

TEST(CryptoCDigest, KnownAnswersOfTheTestParameterSet) {
  // GOST R 34.11-94 with the test parameter set, as RFC 5831 prints its examples.
  const Bytes m1 = Text("This is message, length=32 bytes");
  const Bytes m2 = Text("Suppose the original message has length = 50 bytes");
  const Bytes h1 = Hex("b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa");
  const Bytes h2 = Hex("471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208");
  for (bool compatibility : {false, true}) {
    EXPECT_EQ(EngineDigest(m1, compatibility), h1);
    EXPECT_EQ(EngineDigest(m2, compatibility), h2);
  }
}

TEST(CryptoCDigest, VariantsAgreeUpToOnePieceAndDifferBeyond) {
  const Bytes piece = RandomBytes(65535, 1);
  EXPECT_EQ(EngineDigest(piece, false), ToolkitHash(piece));
  EXPECT_EQ(EngineDigest(piece, true), ToolkitHash(piece));

  for (size_t size : {size_t{65536}, size_t{2 * 65535}, size_t{3 * 65535 + 7}}) {
    const Bytes data = RandomBytes(size, static_cast<uint32_t>(size));
    const Bytes standard = EngineDigest(data, false), compatibility = EngineDigest(data, true);
    EXPECT_EQ(standard, ToolkitHash(data)) << size;
    EXPECT_EQ(compatibility, CompatibilityReference(data)) << size;
    EXPECT_NE(standard, compatibility) << size;
  }
  uint8_t out[32];
  EXPECT_EQ(AnyBinding().Digest(nullptr, 5, false, out), -4);
  EXPECT_EQ(AnyBinding().Digest(piece.data(), 0, false, out), -4);
}

class CryptoCFormat : public ::testing::TestWithParam<int> {};

// A signature over the compatibility digest, as earlier releases made them, from the toolkit.
Bytes OlderSignature(const KeyFiles& signer, const std::string& uid, const Bytes& data) {
  Bytes work = WorkBlock(), signature(64);
  const Bytes digest = CompatibilityReference(data);
  const bool v94 = signer.type == 0;
  EXPECT_EQ(v94 ? Api().CrypC_LR34_10_1994_set_parms(work.data(), nullptr, 32, 128)
                : Api().CrypC_LR34_10_2001_set_parms(work.data(), nullptr, 32, 32),
            0);
  EXPECT_EQ(v94 ? Api().CrypC_LR34_10_1994_set_secret_key(work.data(), signer.signSecret.data())
                : Api().CrypC_LR34_10_2001_set_secret_key(work.data(), signer.signSecret.data()),
            0);
  EXPECT_EQ(v94 ? Api().CrypC_LR34_10_1994_sign(work.data(), digest.data(), signature.data())
                : Api().CrypC_LR34_10_2001_sign(work.data(), digest.data(), signature.data()),
            0);
  v94 ? Api().CrypC_LR34_10_1994_clear(work.data()) : Api().CrypC_LR34_10_2001_clear(work.data());
  Bytes block(uid.begin(), uid.end());
  block.push_back(0);
  block.insert(block.end(), signature.begin(), signature.end());
  return block;
}

TEST_P(CryptoCFormat, SignatureBlockIsUidZeroAndTheSignatureOfTheStandardDigest) {
  Sandbox box;
  box.AddUser("Alice", GetParam());
  auto alice = box.Engine("Alice");
  const KeyFiles keys = ReadKeys(box, "Alice");
  const Bytes data = RandomBytes(65536, 7);
  const Bytes digest = ToolkitHash(data), compatibility = CompatibilityReference(data);

  // Whatever "Hash method" says, the whole data is signed.
  for (const char* method : {"gost", ""}) {
    Configure(*alice, kHashMethod, method);
    const SignResult signed_ = Sign(*alice, data);
    ASSERT_EQ(signed_.code, 0);
    ASSERT_EQ(signed_.signature.size(), 5u + 65u);
    EXPECT_EQ(std::string(signed_.signature.begin(), signed_.signature.begin() + 5), "Alice");
    EXPECT_EQ(signed_.signature[5], 0);
    EXPECT_EQ(VerifyRaw(keys, digest, signed_.signature.data() + 6), 0) << method;
    EXPECT_EQ(VerifyRaw(keys, compatibility, signed_.signature.data() + 6), 5) << method;
  }

  // Both digests refuse a change in the first piece; only the standard digest covers the data
  // beyond it.
  const SignResult standard = Sign(*alice, data);
  const Bytes older = OlderSignature(keys, "Alice", data);
  auto bob = box.Engine("Alice");
  const VerifyResult good = Verify(*bob, data, standard.signature);
  EXPECT_EQ(good.code, 0);
  EXPECT_EQ(good.signer, "Alice");
  for (const Bytes* block : {&standard.signature, &older}) {
    Bytes changed = data;
    changed[100] ^= 1;
    EXPECT_EQ(Verify(*bob, changed, *block).code, 5);
  }
  Bytes tail = data;
  tail[65535] ^= 1;
  EXPECT_EQ(Verify(*bob, tail, standard.signature).code, 5);
}

// A signature over the compatibility digest never answers 0 for data it does not cover: up to
// 65535 bytes it covers everything and verifies; beyond, it answers -33 with its own text, also
// when only the uncovered tail changed.
TEST_P(CryptoCFormat, OlderSignaturesVerifyOnlyWhereTheyCoverTheWholeData) {
  Sandbox box;
  box.AddUser("Alice", GetParam());
  auto bob = box.Engine("Alice");
  const KeyFiles keys = ReadKeys(box, "Alice");
  for (size_t size : {size_t{1}, size_t{65535}}) {
    const Bytes data = RandomBytes(size, 5);
    const VerifyResult verified = Verify(*bob, data, OlderSignature(keys, "Alice", data));
    EXPECT_EQ(verified.code, 0) << size;
    EXPECT_EQ(verified.signer, "Alice");
  }
  const Bytes data = RandomBytes(70000, 6);
  const Bytes older = OlderSignature(keys, "Alice", data);
  EXPECT_EQ(Verify(*bob, data, older).code, -33);
  Bytes tail = data;
  for (size_t i = 65535; i < tail.size(); ++i) tail[i] ^= 0x5A;
  const VerifyResult changed = Verify(*bob, tail, older);
  EXPECT_EQ(changed.code, -33);
  EXPECT_EQ(changed.signer, "Alice");
  EXPECT_NE(ErrorTextUtf8(*bob, -33).find("не охватывает данные целиком"), std::string::npos);
}

TEST_P(CryptoCFormat, EnvelopeFieldsDecryptByHand) {
  Sandbox box;
  for (const char* uid : {"Alice", "Bob", "Carol"}) box.AddUser(uid, GetParam());
  auto alice = box.Engine("Alice");
  const Bytes plain = RandomBytes(1000, 3);
  for (int method : {0, 1}) {
    Configure(*alice, kEncryptMethod, std::to_string(method));
    const CodecResult sealed = Encode(*alice, plain, "Bob;Carol");
    ASSERT_EQ(sealed.code, 0);
    const Bytes& p = sealed.data;
    EXPECT_EQ(WordAt(p, 0), 2u);
    EXPECT_EQ(WordAt(p, 4), static_cast<uint32_t>(method));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 8)), "Alice");
    size_t at = 8 + 6;
    const size_t bobEntry = at;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + at)), "Bob");
    at += 3 + 49;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + at)), "Carol");
    at += 5 + 49;
    ASSERT_EQ(p.size(), at + 16 + plain.size());

    // Bob's side, with nothing but the key files and the stand-in's primitives.
    const Bytes pairKey = PairKey(ReadKeys(box, "Bob"), ReadKeys(box, "Alice"));
    EXPECT_EQ(pairKey, PairKey(ReadKeys(box, "Alice"), ReadKeys(box, "Bob")));
    const uint8_t* entry = p.data() + bobEntry + 4;
    const Bytes session = Crypt(method, false, pairKey, entry, entry + 16, 32);
    EXPECT_EQ(Mac(pairKey, session.data(), 32), Bytes(entry + 8, entry + 16));
    const Bytes body = Crypt(method, false, session, p.data() + at, p.data() + at + 16, plain.size());
    EXPECT_EQ(body, plain);
    EXPECT_EQ(Mac(session, body.data(), body.size()), Bytes(p.data() + at + 8, p.data() + at + 16));
  }
}

TEST_P(CryptoCFormat, EnvelopeBuiltByHandDecrypts) {
  Sandbox box;
  for (const char* uid : {"Alice", "Bob"}) box.AddUser(uid, GetParam());
  const KeyFiles alice = ReadKeys(box, "Alice"), bob = ReadKeys(box, "Bob");
  const Bytes plain = RandomBytes(777, 11);
  for (uint32_t method : {0u, 1u}) {
    const Bytes pairKey = PairKey(alice, bob);
    const Bytes session = RandomBytes(32, 100 + method), iv1 = RandomBytes(8, 200), iv2 = RandomBytes(8, 300);
    Bytes p(8);
    PutWordAt(p, 0, 2);
    PutWordAt(p, 4, method);
    const auto put = [&p](const Bytes& b) { p.insert(p.end(), b.begin(), b.end()); };
    put(Text("Alice"));
    p.push_back(0);
    // An entry for somebody else first: the walk must step over it by its own length.
    put(Text("Zed"));
    p.push_back(0);
    put(RandomBytes(48, 9));
    put(Text("Bob"));
    p.push_back(0);
    put(iv1);
    put(Mac(pairKey, session.data(), 32));
    put(Crypt(static_cast<int>(method), true, pairKey, iv1.data(), session.data(), 32));
    put(iv2);
    put(Mac(session, plain.data(), plain.size()));
    put(Crypt(static_cast<int>(method), true, session, iv2.data(), plain.data(), plain.size()));

    auto engine = box.Engine("Bob");
    const CodecResult opened = Decode(*engine, p);
    ASSERT_EQ(opened.code, 0) << method;
    EXPECT_EQ(opened.data, plain);
  }
}

INSTANTIATE_TEST_SUITE_P(BothSchemes, CryptoCFormat, ::testing::Values(kGost94, kGost2001));

}  // namespace
}  // namespace cctest
