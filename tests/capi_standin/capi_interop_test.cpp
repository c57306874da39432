// The CryptoAPI engine over the Linux stand-in, checked by the openssl command line: signatures
// both ways (with and without signed attributes), envelopes both ways, for each cipher the
// stand-in offers.
#include <algorithm>

#include "capi/capi_helpers.h"
#include "capi_standin/capi_standin_fixture.h"

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

}  // namespace
}  // namespace zk::capistandin_test
