// The CryptoAPI engine over the Linux stand-in, checked by the openssl command line: signatures
// both ways (with and without signed attributes), envelopes both ways, for each cipher the
// stand-in offers.
#include <algorithm>

#include "capi/capi_helpers.h"
#include "capi_standin/capi_standin_fixture.h"
#include "engines/capi/capi_api.h"

namespace zk::capistandin_test {
namespace {

// RC2, RC4 and single DES are in the legacy provider.
const std::string kProviders = "-provider legacy -provider default";

class CapiInterop : public CapiStandInTest {
 protected:
  std::string File(const std::string& name, const Bytes& bytes) {
    const std::string path = Root() + "/" + name;
    suite::WriteFileBytes(path, bytes);
    return path;
  }
  std::string User(const std::string& name, const char* ext) { return Box().root() + "/" + name + ext; }
};

TEST_F(CapiInterop, SignaturesVerifyWithOpenSSLAndAFlippedBitIsRefused) {
  auto alice = Engine("alice");
  int32_t code = 0;
  const Bytes signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  const std::string verify = "openssl cms " + kProviders + " -verify -binary -inform DER -purpose any -CAfile " + User("ca", ".pem") +
                             " -in " + File("alice.p7s", signature) + " -content ";
  EXPECT_TRUE(Shell(verify + File("data.bin", data_)));
  Bytes flipped = data_;
  flipped[17] ^= 0x04;
  EXPECT_FALSE(Shell(verify + File("flipped.bin", flipped)));

  std::string signer;
  auto bob = Engine("bob");
  EXPECT_EQ(Verify(*bob, data_, signature, signer), 0);
  EXPECT_EQ(signer, "alice");
  EXPECT_EQ(Verify(*bob, flipped, signature, signer), static_cast<int32_t>(0x80090006));
}

// A hash named by its OID is the one the signature carries.
TEST_F(CapiInterop, HashByOid) {
  auto alice = Engine("alice");
  capitest::Set(*alice, "Hash Algorithm", "2.16.840.1.101.3.4.2.1");
  int32_t code = 0;
  const Bytes signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  const Bytes sha256 = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
  EXPECT_NE(std::search(signature.begin(), signature.end(), sha256.begin(), sha256.end()), signature.end());
  EXPECT_TRUE(Shell("openssl cms " + kProviders + " -verify -binary -inform DER -purpose any -CAfile " +
                    User("ca", ".pem") + " -in " + File("sha256.p7s", signature) + " -content " +
                    File("data.bin", data_)));
}

TEST_F(CapiInterop, OpenSSLSignaturesVerifyWithAndWithoutSignedAttributes) {
  const std::string data = File("data.bin", data_);
  Bytes tampered = data_;
  tampered.back() ^= 1;
  auto alice = Engine("alice");
  for (const char* attributes : {"", "-noattr"}) {
    const std::string sig = Root() + "/bob_openssl.p7s";
    ASSERT_TRUE(Shell("openssl cms " + kProviders + " -sign -binary -outform DER -md sha1 " + std::string(attributes) + " -signer " +
                    User("bob", ".crt") + " -inkey " + User("bob", ".pem") + " -in " + data + " -out " + sig));
    const Bytes signature = suite::ReadFileBytes(sig);
    std::string signer;
    EXPECT_EQ(Verify(*alice, data_, signature, signer), 0) << attributes;
    EXPECT_EQ(signer, "bob");
    EXPECT_NE(Verify(*alice, tampered, signature, signer), 0) << attributes;
    EXPECT_EQ(signer, "");
  }
}

TEST_F(CapiInterop, EnvelopesOpenWithOpenSSLForEachCipher) {
  for (const char* cipher : {"RC2CBC", "DESCBC", "RC4"}) {
    auto alice = Engine("alice");
    capitest::Set(*alice, "Encrypt Algorithm", cipher);
    Bytes envelope = data_;
    ASSERT_EQ(Encode(*alice, envelope, "bob;carol"), 0) << cipher;
    const std::string in = File(std::string("env_") + cipher, envelope), out = Root() + "/opened.bin";
    for (const char* user : {"bob", "carol"}) {
      ASSERT_TRUE(Shell("openssl cms " + kProviders + " -decrypt -binary -inform DER -in " + in + " -recip " + User(user, ".crt") +
                      " -inkey " + User(user, ".pem") + " -out " + out))
          << cipher << " " << user;
      EXPECT_EQ(suite::ReadFileBytes(out), data_) << cipher;
    }
    auto bob = Engine("bob");
    EXPECT_EQ(Decode(*bob, envelope), 0) << cipher;
    EXPECT_EQ(envelope, data_) << cipher;
  }
}

TEST_F(CapiInterop, OpenSSLEnvelopesOpenThroughTheEngine) {
  const std::string data = File("data.bin", data_);
  for (const char* cipher : {"-des3", "-rc2", "-aes128", "-des"}) {
    const std::string env = Root() + "/openssl.env";
    ASSERT_TRUE(Shell("openssl cms " + kProviders + " -encrypt -binary -outform DER " + std::string(cipher) + " -in " + data + " -out " +
                    env + " " + User("alice", ".crt") + " " + User("bob", ".crt")))
        << cipher;
    Bytes envelope = suite::ReadFileBytes(env);
    auto bob = Engine("bob");
    ASSERT_EQ(Decode(*bob, envelope), 0) << cipher;
    EXPECT_EQ(envelope, data_) << cipher;
    envelope = suite::ReadFileBytes(env);
    auto carol = Engine("carol");
    EXPECT_EQ(Decode(*carol, envelope), 36) << "carol is no recipient";
  }
}

// Cut-short and altered signatures and envelopes go through the engine (binding and stand-in)
// without harm: a cut one is always refused. (An envelope has no integrity check of its own: an
// altered IV opens to altered content of the same length.)
TEST_F(CapiInterop, DamagedSignaturesAndEnvelopes) {
  auto alice = Engine("alice"), bob = Engine("bob");
  int32_t code = 0;
  const Bytes signature = Sign(*alice, data_, code);
  ASSERT_EQ(code, 0);
  Bytes envelope = data_;
  ASSERT_EQ(Encode(*alice, envelope, "bob"), 0);
  std::string signer;
  for (size_t cut = 0; cut < signature.size(); cut += 37)
    EXPECT_NE(Verify(*bob, data_, Bytes(signature.begin(), signature.begin() + static_cast<long>(cut)), signer), 0) << cut;
  for (size_t cut = 1; cut < envelope.size(); cut += 101) {
    Bytes shorter(envelope.begin(), envelope.begin() + static_cast<long>(cut));
    EXPECT_NE(Decode(*bob, shorter), 0) << cut;
  }
  for (size_t at = 0; at < signature.size(); at += 13) {
    Bytes altered = signature;
    altered[at] ^= 0x20;
    Verify(*bob, data_, altered, signer);  // some bytes do not matter (unused encodings); none may crash
  }
  for (size_t at = 0; at < envelope.size(); at += 29) {
    Bytes altered = envelope;
    altered[at] ^= 0x20;
    if (Decode(*bob, altered) == 0) {
      EXPECT_EQ(altered.size(), data_.size()) << at;
    }
  }
}

// The message calls the binding does not make today, on openssl's messages: CryptDecryptMessage
// (a store holding the recipient's certificate with its key), CryptVerifyDetachedMessageSignature
// and CryptGetMessageCertificates.
TEST_F(CapiInterop, DecryptAndVerifyMessageCalls) {
  using namespace zk::capi;
  const auto& c = Toolkit().crypt32;
  auto decrypt = reinterpret_cast<PFN_CryptDecryptMessage>(c.Symbol("CryptDecryptMessage"));
  auto verify = reinterpret_cast<PFN_CryptVerifyDetachedMessageSignature>(c.Symbol("CryptVerifyDetachedMessageSignature"));
  auto certs = reinterpret_cast<PFN_CryptGetMessageCertificates>(c.Symbol("CryptGetMessageCertificates"));
  auto open = reinterpret_cast<PFN_CertOpenStore>(c.Symbol("CertOpenStore"));
  auto create = reinterpret_cast<PFN_CertCreateCertificateContext>(c.Symbol("CertCreateCertificateContext"));
  auto add = reinterpret_cast<PFN_CertAddCertificateContextToStore>(c.Symbol("CertAddCertificateContextToStore"));
  auto property = reinterpret_cast<PFN_CertSetCertificateContextProperty>(c.Symbol("CertSetCertificateContextProperty"));
  auto enumerate = reinterpret_cast<PFN_CertEnumCertificatesInStore>(c.Symbol("CertEnumCertificatesInStore"));
  auto freeCert = reinterpret_cast<PFN_CertFreeCertificateContext>(c.Symbol("CertFreeCertificateContext"));
  auto close = reinterpret_cast<PFN_CertCloseStore>(c.Symbol("CertCloseStore"));
  auto acquire = reinterpret_cast<PFN_CryptAcquireContextA>(Toolkit().advapi32.Symbol("CryptAcquireContextA"));
  auto release = reinterpret_cast<PFN_CryptReleaseContext>(Toolkit().advapi32.Symbol("CryptReleaseContext"));
  auto lastError = reinterpret_cast<DWORD (*)()>(Toolkit().advapi32.Symbol("GetLastError"));
  ASSERT_TRUE(decrypt && verify && certs && open && create && add && property && enumerate && freeCert && close &&
              acquire && release && lastError);

  // bob's certificate in a memory store, his container's key attached.
  HCERTSTORE store = open(reinterpret_cast<const char*>(uintptr_t{kStoreProvMemory}), kEncoding, 0, kStoreFlags, nullptr);
  const Bytes der = suite::ReadFileBytes(Box().user("bob").cert_path);
  PCCERT_CONTEXT bob = create(kEncoding, der.data(), static_cast<DWORD>(der.size())), inStore = nullptr;
  ASSERT_TRUE(add(store, bob, kAddAlways, &inStore));
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(acquire(&prov, "bob", kMsBase, 1, 0));
  CERT_KEY_CONTEXT key{sizeof key, prov, kAtKeyExchange};
  ASSERT_TRUE(property(inStore, kKeyContextProp, 0, &key));  // the property owns the handle now
  freeCert(inStore);
  const std::string data = File("data.bin", data_), env = Root() + "/for_bob.env";
  ASSERT_TRUE(Shell("openssl cms -encrypt -binary -outform DER -aes128 -in " + data + " -out " + env + " " +
                    User("bob", ".crt")));
  const Bytes envelope = suite::ReadFileBytes(env);
  CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, kEncoding, 1, &store};
  DWORD size = 0;
  ASSERT_TRUE(decrypt(&para, envelope.data(), static_cast<DWORD>(envelope.size()), nullptr, &size, nullptr));
  ASSERT_EQ(size, data_.size());
  Bytes plain(size - 1);
  DWORD shorter = size - 1;
  EXPECT_FALSE(decrypt(&para, envelope.data(), static_cast<DWORD>(envelope.size()), plain.data(), &shorter, nullptr));
  EXPECT_EQ(lastError(), kErrorMoreData);
  EXPECT_EQ(shorter, size);
  plain.resize(size);
  PCCERT_CONTEXT exchange = nullptr;
  ASSERT_TRUE(decrypt(&para, envelope.data(), static_cast<DWORD>(envelope.size()), plain.data(), &size, &exchange));
  EXPECT_EQ(plain, data_);
  ASSERT_NE(exchange, nullptr);
  EXPECT_EQ(exchange->cbCertEncoded, der.size());
  freeCert(exchange);
  CRYPT_DECRYPT_MESSAGE_PARA nobody{sizeof nobody, kEncoding, 0, nullptr};
  EXPECT_FALSE(decrypt(&nobody, envelope.data(), static_cast<DWORD>(envelope.size()), nullptr, &size, nullptr));
  EXPECT_EQ(lastError(), 0x8009200Cu);  // CRYPT_E_NO_DECRYPT_CERT
  HCERTSTORE none = certs(kEncoding, 0, 0, envelope.data(), static_cast<DWORD>(envelope.size()));
  ASSERT_NE(none, nullptr);  // an envelope carries no certificates
  EXPECT_EQ(enumerate(none, nullptr), nullptr);
  close(none, 0);

  Bytes tampered = data_;
  tampered[0] ^= 1;
  for (const char* options : {"", "-noattr", "-nocerts"}) {
    const std::string sig = Root() + "/bob.p7s";
    ASSERT_TRUE(Shell("openssl cms -sign -binary -outform DER -md sha1 " + std::string(options) + " -signer " +
                      User("bob", ".crt") + " -inkey " + User("bob", ".pem") + " -in " + data + " -out " + sig));
    const Bytes signature = suite::ReadFileBytes(sig);
    CRYPT_VERIFY_MESSAGE_PARA vp{sizeof vp, kEncoding, 0, nullptr, nullptr};
    const bool carries = std::string(options) != "-nocerts";
    for (const Bytes* content : {&data_, &tampered}) {
      const BYTE* pieces[] = {content->data()};
      DWORD lengths[] = {static_cast<DWORD>(content->size())};
      PCCERT_CONTEXT signer = nullptr;
      const BOOL ok = verify(&vp, 0, signature.data(), static_cast<DWORD>(signature.size()), 1, pieces, lengths, &signer);
      const bool good = content == &data_ && carries;
      EXPECT_EQ(ok != 0, good) << options;
      if (!good) {
        EXPECT_EQ(lastError(), carries ? 0x80090006u : 0x8009100Eu) << options;
      }
      if (good && signer != nullptr) {
        EXPECT_EQ(signer->cbCertEncoded, der.size());
      }
      freeCert(signer);
    }
    HCERTSTORE carried = certs(kEncoding, 0, 0, signature.data(), static_cast<DWORD>(signature.size()));
    ASSERT_NE(carried, nullptr);
    PCCERT_CONTEXT first = enumerate(carried, nullptr);
    EXPECT_EQ(first != nullptr, carries) << options;
    freeCert(first);
    close(carried, 0);
  }
  // Forms the stand-in does not take: BER's indefinite lengths (read as malformed), a signer named
  // by its key identifier (no certificate to check it with).
  const std::pair<const char*, DWORD> refused[] = {{"-stream", 0x8009310Bu}, {"-keyid", 0x8009100Eu}};
  for (const auto& [option, error] : refused) {
    const std::string sig = Root() + "/form.p7s";
    ASSERT_TRUE(Shell("openssl cms -sign -binary -outform DER -md sha1 " + std::string(option) + " -signer " +
                      User("bob", ".crt") + " -inkey " + User("bob", ".pem") + " -in " + data + " -out " + sig));
    const Bytes signature = suite::ReadFileBytes(sig);
    CRYPT_VERIFY_MESSAGE_PARA vp{sizeof vp, kEncoding, 0, nullptr, nullptr};
    const BYTE* pieces[] = {data_.data()};
    DWORD lengths[] = {static_cast<DWORD>(data_.size())};
    EXPECT_FALSE(verify(&vp, 0, signature.data(), static_cast<DWORD>(signature.size()), 1, pieces, lengths, nullptr))
        << option;
    EXPECT_EQ(lastError(), error) << option;
  }
  freeCert(bob);
  close(store, 0);
}

}  // namespace
}  // namespace zk::capistandin_test
