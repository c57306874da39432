// The stand-in's answers as a CryptoAPI caller sees them: failures with their exact last error
// (never 0), reference counts, the system store "MY" with container links (persisted), and the
// in-memory copy of a private key through the engine.
#include <cerrno>
#include <algorithm>
#include <functional>
#include <thread>

#include "capi/capi_helpers.h"
#include "capi_standin/capi_standin_fixture.h"
#include "engines/capi/capi_api.h"

namespace zk::capistandin_test {
namespace {

using namespace zk::capi;

class CapiCalls : public CapiStandInTest {
 protected:
  template <typename F>
  static F Fn(const suite::StandInControl& module, const char* name) {
    auto f = reinterpret_cast<F>(module.Symbol(name));
    EXPECT_NE(f, nullptr) << name;
    return f;
  }
  DWORD LastError() { return Fn<DWORD (*)()>(Toolkit().advapi32, "GetLastError")(); }
  void ClearError() { Fn<void (*)(DWORD)>(Toolkit().advapi32, "SetLastError")(0); }
};

TEST_F(CapiCalls, FailuresSetTheirLastError) {
  const auto& a = Toolkit().advapi32;
  const auto& c = Toolkit().crypt32;
  auto acquire = Fn<PFN_CryptAcquireContextA>(a, "CryptAcquireContextA");
  auto release = Fn<PFN_CryptReleaseContext>(a, "CryptReleaseContext");
  auto userKey = Fn<PFN_CryptGetUserKey>(a, "CryptGetUserKey");
  auto create = Fn<PFN_CertCreateCertificateContext>(c, "CertCreateCertificateContext");
  auto open = Fn<PFN_CertOpenStore>(c, "CertOpenStore");
  auto find = Fn<PFN_CertFindCertificateInStore>(c, "CertFindCertificateInStore");
  auto msgOpen = Fn<PFN_CryptMsgOpenToDecode>(c, "CryptMsgOpenToDecode");
  auto msgUpdate = Fn<PFN_CryptMsgUpdate>(c, "CryptMsgUpdate");
  auto encrypt = Fn<PFN_CryptEncryptMessage>(c, "CryptEncryptMessage");
  auto sign = Fn<PFN_CryptSignMessage>(c, "CryptSignMessage");
  auto decode = Fn<BOOL (*)(DWORD, const char*, const BYTE*, DWORD, DWORD, void*, DWORD*)>(c, "CryptDecodeObject");
  HCRYPTPROV verify = 0;
  ASSERT_TRUE(acquire(&verify, nullptr, kMsBase, 1, kVerifyContext));
  const Bytes der = suite::ReadFileBytes(Box().user("bob").cert_path);
  PCCERT_CONTEXT bob = create(kEncoding, der.data(), static_cast<DWORD>(der.size()));
  ASSERT_NE(bob, nullptr);
  HCERTSTORE store = open(reinterpret_cast<const char*>(uintptr_t{kStoreProvMemory}), kEncoding, 0, kStoreFlags, nullptr);
  const BYTE junk[] = {0x30, 0x03, 0x02, 0x01};
  char sha1[] = "1.3.14.3.2.26", unknown[] = "1.2.3.4";

  struct Case {
    const char* call;
    DWORD error;
    std::function<bool()> run;  // true when the call failed
  } cases[] = {
      {"unknown provider", 0x80090019, [&] { HCRYPTPROV p; return !acquire(&p, nullptr, "No Such CSP", 1, kVerifyContext); }},
      {"wrong provider type", 0x8009001B, [&] { HCRYPTPROV p; return !acquire(&p, nullptr, kMsBase, 75, kVerifyContext); }},
      {"missing container", 0x80090016, [&] { HCRYPTPROV p; return !acquire(&p, "nobody", kMsBase, 1, 0); }},
      {"named verify context", 0x80090009, [&] { HCRYPTPROV p; return !acquire(&p, "alice", kMsBase, 1, kVerifyContext); }},
      {"no key in a verify context", 0x8009000D, [&] { HCRYPTKEY k; return !userKey(verify, kAtKeyExchange, &k); }},
      {"stale provider handle", 0x80090001, [&] { return !release(verify + 1, 0); }},
      {"certificate of junk", 0x8009310B, [&] { return create(kEncoding, junk, sizeof junk) == nullptr; }},
      {"subject not found", 0x80092004, [&] { return find(store, kEncoding, 0, kFindSubjectStrW, u"bob", nullptr) == nullptr; }},
      {"message of junk", 0x8009310B, [&] {
         HCRYPTMSG m = msgOpen(kEncoding, 0, 0, 0, nullptr, nullptr);
         const bool failed = !msgUpdate(m, junk, sizeof junk, 1);
         Fn<PFN_CryptMsgClose>(c, "CryptMsgClose")(m);
         return failed;
       }},
      {"unknown cipher", 0x80091002, [&] {
         CRYPT_ENCRYPT_MESSAGE_PARA p{sizeof p, kEncoding, 0, {unknown, {0, nullptr}}, nullptr, 0, 0};
         DWORD size = 0;
         return !encrypt(&p, 1, &bob, junk, sizeof junk, nullptr, &size);
       }},
      {"signing certificate without a key", 0x8009200B, [&] {
         CRYPT_SIGN_MESSAGE_PARA p{};
         p.cbSize = sizeof p;
         p.dwMsgEncodingType = kEncoding;
         p.pSigningCert = bob;
         p.HashAlgorithm.pszObjId = sha1;
         const BYTE* pieces[] = {junk};
         DWORD lengths[] = {sizeof junk}, size = 0;
         return !sign(&p, 1, 1, pieces, lengths, nullptr, &size);
       }},
      {"not implemented", 120, [&] { DWORD size = 0; return !decode(kEncoding, "1.2.3", junk, 4, 0, nullptr, &size); }},
  };
  for (const auto& k : cases) {
    ClearError();
    EXPECT_TRUE(k.run()) << k.call;
    EXPECT_EQ(LastError(), k.error) << k.call;
    EXPECT_EQ(static_cast<DWORD>(errno), k.error) << k.call << ": the platform's last error";
  }
  // The last error is the calling thread's own.
  DWORD elsewhere = 1;
  std::thread([&] { elsewhere = LastError(); }).join();
  EXPECT_EQ(elsewhere, 0u);
  EXPECT_EQ(LastError(), 120u);
  // Reference counts: two references, two releases; a third is refused.
  ASSERT_TRUE(Fn<PFN_CryptContextAddRef>(a, "CryptContextAddRef")(verify, nullptr, 0));
  EXPECT_TRUE(release(verify, 0));
  EXPECT_TRUE(release(verify, 0));
  EXPECT_FALSE(release(verify, 0));
  Fn<PFN_CertFreeCertificateContext>(c, "CertFreeCertificateContext")(bob);
  Fn<PFN_CertCloseStore>(c, "CertCloseStore")(store, 0);
}

// "MY" holds alice's certificate with a link to a container of another name: the engine finds
// the key through it (SYS_REF), and a deletion from MY is still gone when MY is opened again.
TEST_F(CapiCalls, SystemStoreMYWithContainerLinks) {
  const auto& alice = Box().user("alice");
  Toolkit().PutKey(kMsBase, "alice's key", Box().root() + "/alice.pem");
  Toolkit().AddCertificate("MY", alice.cert_path, kMsBase, "alice's key");
  auto e = Engine("alice");
  capitest::Set(*e, "Abonents cerificates dir", "MY");
  capitest::Set(*e, "Container Name Location", "SYS_REF");
  int32_t code = 0;
  const Bytes signature = Sign(*e, data_, code);
  ASSERT_EQ(code, 0);
  std::string signer;
  EXPECT_EQ(Verify(*Engine("bob"), data_, signature, signer), 0);
  EXPECT_EQ(signer, "alice");

  auto openMy = Fn<PFN_CertOpenSystemStoreA>(Toolkit().crypt32, "CertOpenSystemStoreA");
  auto enumerate = Fn<PFN_CertEnumCertificatesInStore>(Toolkit().crypt32, "CertEnumCertificatesInStore");
  auto remove = Fn<PFN_CertDeleteCertificateFromStore>(Toolkit().crypt32, "CertDeleteCertificateFromStore");
  auto close = Fn<PFN_CertCloseStore>(Toolkit().crypt32, "CertCloseStore");
  HCERTSTORE my = openMy(0, "MY");
  PCCERT_CONTEXT found = enumerate(my, nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(remove(found));
  close(my, 0);
  my = openMy(0, "MY");
  EXPECT_EQ(enumerate(my, nullptr), nullptr);
  close(my, 0);
}

// The key copied into a verify context (export and import of its PRIVATEKEYBLOB) signs as well.
TEST_F(CapiCalls, KeyCopiedIntoAVerifyContextSigns) {
  auto e = Engine("carol");
  capitest::Set(*e, "Secret key cash method", "VERIFY_CONTEXT");
  capitest::Set(*e, "CRL dir", Root() + "/copy");  // a binding of its own
  int32_t code = 0;
  const Bytes signature = Sign(*e, data_, code);
  ASSERT_EQ(code, 0);
  EXPECT_GT(Toolkit().advapi32.Calls("CryptImportKey"), 0);
  std::string signer;
  EXPECT_EQ(Verify(*Engine("bob"), data_, signature, signer), 0);
  EXPECT_EQ(signer, "carol");
}

// The add dispositions on a certificate already in the store (same issuer and serial).
TEST_F(CapiCalls, AddDispositions) {
  const auto& c = Toolkit().crypt32;
  auto open = Fn<PFN_CertOpenStore>(c, "CertOpenStore");
  auto create = Fn<PFN_CertCreateCertificateContext>(c, "CertCreateCertificateContext");
  auto add = Fn<PFN_CertAddCertificateContextToStore>(c, "CertAddCertificateContextToStore");
  auto enumerate = Fn<PFN_CertEnumCertificatesInStore>(c, "CertEnumCertificatesInStore");
  auto freeCert = Fn<PFN_CertFreeCertificateContext>(c, "CertFreeCertificateContext");
  auto close = Fn<PFN_CertCloseStore>(c, "CertCloseStore");
  const Bytes der = suite::ReadFileBytes(Box().user("bob").cert_path);
  PCCERT_CONTEXT bob = create(kEncoding, der.data(), static_cast<DWORD>(der.size()));
  struct Case {
    DWORD disposition;
    bool added;
    DWORD error;
    int members;
  } cases[] = {{1, false, 0x80092005, 1},  // NEW
               {2, true, 0, 1},            // USE_EXISTING
               {3, true, 0, 1},            // REPLACE_EXISTING
               {4, true, 0, 2},            // ALWAYS
               {6, false, 0x80092005, 1},  // NEWER: not newer
               {9, false, 87, 1}};
  for (const auto& k : cases) {
    HCERTSTORE store = open(reinterpret_cast<const char*>(uintptr_t{kStoreProvMemory}), kEncoding, 0, kStoreFlags, nullptr);
    ASSERT_TRUE(add(store, bob, kAddAlways, nullptr));
    ClearError();
    PCCERT_CONTEXT added = nullptr;
    EXPECT_EQ(add(store, bob, k.disposition, &added) != 0, k.added) << k.disposition;
    if (!k.added) {
      EXPECT_EQ(LastError(), k.error) << k.disposition;
    }
    EXPECT_EQ(added != nullptr, k.added) << k.disposition;
    if (added != nullptr) {
      EXPECT_EQ(added->hCertStore, store) << k.disposition;
    }
    freeCert(added);
    int members = 0;
    for (PCCERT_CONTEXT m = enumerate(store, nullptr); m != nullptr; m = enumerate(store, m)) ++members;
    EXPECT_EQ(members, k.members) << k.disposition;
    close(store, 0);
  }
  freeCert(bob);
}

// OID information: the names the engines show, the GOST algorithms among them.
TEST_F(CapiCalls, OidInformationByGroup) {
  auto find = Fn<PFN_CryptFindOIDInfo>(Toolkit().crypt32, "CryptFindOIDInfo");
  auto enumerate = Fn<PFN_CryptEnumOIDInfo>(Toolkit().crypt32, "CryptEnumOIDInfo");
  const CRYPT_OID_INFO* gost = find(kOidInfoOidKey, "1.2.643.2.2.9", kOidHashGroup);
  ASSERT_NE(gost, nullptr);
  EXPECT_EQ(std::u16string(gost->pwszName), u"GOST R 34.11-94");
  EXPECT_EQ(find(kOidInfoOidKey, "1.2.643.2.2.9", kOidEncryptGroup), nullptr);
  std::vector<std::string> ciphers;
  auto collect = [](const CRYPT_OID_INFO* info, void* arg) -> BOOL {
    static_cast<std::vector<std::string>*>(arg)->push_back(info->pszOID);
    return 1;
  };
  EXPECT_TRUE(enumerate(kOidEncryptGroup, 0, &ciphers, collect));
  for (const char* oid : {"1.2.840.113549.3.2", "1.2.840.113549.3.4", "1.3.14.3.2.7", "1.2.643.2.2.21"})
    EXPECT_NE(std::find(ciphers.begin(), ciphers.end(), oid), ciphers.end()) << oid;
}

// Engines on two threads share the stand-in's handles, stores and caches.
TEST_F(CapiCalls, TwoThreadsSignVerifyEncodeAndDecode) {
  int failures[2] = {0, 0};
  auto round = [&](const char* me, const char* peer, int& failed) {
    auto mine = Engine(me), theirs = Engine(peer);
    for (int i = 0; i < 20; ++i) {
      Bytes data(100 + static_cast<size_t>(i), static_cast<uint8_t>(i));
      int32_t code = 0;
      const Bytes signature = Sign(*mine, data, code);
      std::string signer;
      if (code != 0 || Verify(*theirs, data, signature, signer) != 0 || signer != me) ++failed;
      Bytes envelope = data;
      if (Encode(*mine, envelope, peer) != 0 || Decode(*theirs, envelope) != 0 || envelope != data) ++failed;
    }
  };
  std::thread one(round, "alice", "bob", std::ref(failures[0]));
  std::thread two(round, "carol", "alice", std::ref(failures[1]));
  one.join();
  two.join();
  EXPECT_EQ(failures[0], 0);
  EXPECT_EQ(failures[1], 0);
}

}  // namespace
}  // namespace zk::capistandin_test
