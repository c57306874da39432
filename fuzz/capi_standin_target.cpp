// libFuzzer target over the Linux CryptoAPI stand-in's parsers (toolkits/capi, compiled into this
// program so that they are instrumented): any bytes as a certificate, a CRL, a detached signature
// (CryptMsg*, CryptVerifyDetachedMessageSignature, CryptGetMessageCertificates) and an envelope
// (CryptMsg* decryption with a real key, CryptDecryptMessage). Every size query is followed by a
// read of exactly that size, so a wrong size or pointer shows as an out-of-bounds access.
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "capi_standin.h"

using namespace zk::capi;
using Bytes = std::vector<uint8_t>;

extern "C" {
BOOL CryptGenKey(HCRYPTPROV, DWORD, DWORD, HCRYPTKEY*);
BOOL CryptDestroyKey(HCRYPTKEY);
BOOL CryptAcquireContextA(HCRYPTPROV*, const char*, const char*, DWORD, DWORD);
HCERTSTORE CertOpenStore(const char*, DWORD, HCRYPTPROV, DWORD, const void*);
PCCRL_CONTEXT CertCreateCRLContext(DWORD, const BYTE*, DWORD);
BOOL CertFreeCRLContext(PCCRL_CONTEXT);
BOOL CertAddCRLContextToStore(HCERTSTORE, PCCRL_CONTEXT, DWORD, PCCRL_CONTEXT*);
BOOL CertGetIntendedKeyUsage(DWORD, CERT_INFO*, BYTE*, DWORD);
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE, DWORD, DWORD, DWORD, const void*, PCCERT_CONTEXT);
BOOL CertGetCertificateChain(void*, PCCERT_CONTEXT, FILETIME_*, HCERTSTORE, CERT_CHAIN_PARA*, DWORD, void*,
                             const CERT_CHAIN_CONTEXT**);
void CertFreeCertificateChain(const CERT_CHAIN_CONTEXT*);
HCRYPTMSG CryptMsgOpenToDecode(DWORD, DWORD, DWORD, HCRYPTPROV, void*, void*);
BOOL CryptMsgUpdate(HCRYPTMSG, const BYTE*, DWORD, BOOL);
BOOL CryptMsgGetParam(HCRYPTMSG, DWORD, DWORD, void*, DWORD*);
BOOL CryptMsgControl(HCRYPTMSG, DWORD, DWORD, const void*);
BOOL CryptMsgClose(HCRYPTMSG);
BOOL CryptVerifyDetachedMessageSignature(CRYPT_VERIFY_MESSAGE_PARA*, DWORD, const BYTE*, DWORD, DWORD, const BYTE**,
                                         DWORD*, PCCERT_CONTEXT*);
HCERTSTORE CryptGetMessageCertificates(DWORD, HCRYPTPROV, DWORD, const BYTE*, DWORD);
BOOL CryptDecryptMessage(CRYPT_DECRYPT_MESSAGE_PARA*, const BYTE*, DWORD, BYTE*, DWORD*, PCCERT_CONTEXT*);
}

namespace {

const BYTE kContent[] = "content signed by the seeds";

struct State {
  HCRYPTPROV prov = 0;        // a verify context holding the recipient's key
  PCCERT_CONTEXT cert = nullptr;  // its certificate, the key attached
  HCERTSTORE store = nullptr;
};
State& S() {
  static State s;
  return s;
}

volatile BYTE sink;
void Touch(const void* p, size_t n) {
  const auto* b = static_cast<const BYTE*>(p);
  for (size_t i = 0; i < n; ++i) sink = sink ^ b[i];
}
void TouchBlob(const CRYPT_BLOB& b) { Touch(b.pbData, b.cbData); }

void TouchCert(PCCERT_CONTEXT c) {
  const CERT_INFO& i = *c->pCertInfo;
  Touch(c->pbCertEncoded, c->cbCertEncoded);
  TouchBlob(i.SerialNumber);
  TouchBlob(i.Issuer);
  TouchBlob(i.Subject);
  TouchBlob(i.SignatureAlgorithm.Parameters);
  Touch(i.SignatureAlgorithm.pszObjId, std::strlen(i.SignatureAlgorithm.pszObjId));
  Touch(i.SubjectPublicKeyInfo.PublicKey.pbData, i.SubjectPublicKeyInfo.PublicKey.cbData);
  for (DWORD e = 0; e < i.cExtension; ++e) {
    TouchBlob(i.rgExtension[e].Value);
    Touch(i.rgExtension[e].pszObjId, std::strlen(i.rgExtension[e].pszObjId));
  }
}

// Every parameter of a message, each asked for its size and then read at exactly that size.
void TouchParams(HCRYPTMSG msg) {
  for (DWORD type : {1u, 2u, 5u, 7u, 9u, 11u, 12u, 17u, 19u, 22u})
    for (DWORD index = 0; index < 3; ++index) {
      DWORD size = 0;
      if (!CryptMsgGetParam(msg, type, index, nullptr, &size)) continue;
      Bytes out(size);
      if (CryptMsgGetParam(msg, type, index, out.data(), &size)) Touch(out.data(), size);
    }
}

// Seeds: a certificate, a CRL, signatures with and without signed attributes, an envelope for the
// target's own key.
std::vector<Bytes> Seeds() {
  std::vector<Bytes> seeds;
  auto der = [&](int len, unsigned char* p) {
    if (len > 0) seeds.emplace_back(p, p + len);
    OPENSSL_free(p);
  };
  X509* x = X509_new();
  const unsigned char* p = S().cert->pbCertEncoded;
  d2i_X509(&x, &p, S().cert->cbCertEncoded);
  EVP_PKEY* key = ZkCapiProviderKey(S().prov, 1);
  seeds.emplace_back(S().cert->pbCertEncoded, S().cert->pbCertEncoded + S().cert->cbCertEncoded);
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(x));
  X509_CRL_set1_lastUpdate(crl, X509_get0_notBefore(x));
  X509_CRL_sign(crl, key, EVP_sha256());
  unsigned char* out = nullptr;
  der(i2d_X509_CRL(crl, &out), out);
  for (unsigned flags : {CMS_DETACHED | CMS_BINARY, CMS_DETACHED | CMS_BINARY | CMS_NOATTR}) {
    BIO* in = BIO_new_mem_buf(kContent, sizeof kContent);
    CMS_ContentInfo* cms = CMS_sign(x, key, nullptr, in, flags);
    out = nullptr;
    der(cms != nullptr ? i2d_CMS_ContentInfo(cms, &out) : 0, out);
    CMS_ContentInfo_free(cms);
    BIO_free(in);
  }
  STACK_OF(X509)* to = sk_X509_new_null();
  sk_X509_push(to, x);
  BIO* in = BIO_new_mem_buf(kContent, sizeof kContent);
  CMS_ContentInfo* env = CMS_encrypt(to, in, EVP_aes_128_cbc(), CMS_BINARY);
  out = nullptr;
  der(env != nullptr ? i2d_CMS_ContentInfo(env, &out) : 0, out);
  CMS_ContentInfo_free(env);
  BIO_free(in);
  sk_X509_free(to);
  X509_CRL_free(crl);
  EVP_PKEY_free(key);
  X509_free(x);
  return seeds;
}

// A certificate for the key of the verify context, self-signed, made with OpenSSL.
PCCERT_CONTEXT MakeCertificate(HCRYPTPROV prov) {
  EVP_PKEY* key = ZkCapiProviderKey(prov, 1);
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 0x1234);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("fuzz"), -1, -1, 0);
  X509_set_issuer_name(x, X509_get_subject_name(x));
  X509_gmtime_adj(X509_getm_notBefore(x), -3600);
  X509_gmtime_adj(X509_getm_notAfter(x), 3600);
  X509_set_pubkey(x, key);
  X509_sign(x, key, EVP_sha256());
  unsigned char* der = nullptr;
  const int len = i2d_X509(x, &der);
  PCCERT_CONTEXT c = CertCreateCertificateContext(kEncoding, der, static_cast<DWORD>(len));
  OPENSSL_free(der);
  X509_free(x);
  EVP_PKEY_free(key);
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  State& s = S();
  CryptAcquireContextA(&s.prov, nullptr, "Microsoft Base Cryptographic Provider v1.0", 1, kVerifyContext);
  HCRYPTKEY key = 0;
  if (!CryptGenKey(s.prov, kAtKeyExchange, 1024u << 16, &key)) std::abort();
  CryptDestroyKey(key);
  s.cert = MakeCertificate(s.prov);
  s.store = CertOpenStore(reinterpret_cast<const char*>(uintptr_t{kStoreProvMemory}), kEncoding, 0, kStoreFlags, nullptr);
  PCCERT_CONTEXT inStore = nullptr;
  CertAddCertificateContextToStore(s.store, s.cert, kAddAlways, &inStore);
  CERT_KEY_CONTEXT context{sizeof context, s.prov, kAtKeyExchange};
  CertSetCertificateContextProperty(inStore, kKeyContextProp, kNoCryptRelease, &context);
  CertFreeCertificateContext(inStore);
  for (int i = 1; i < *argc; ++i) {
    const char* arg = (*argv)[i];
    if (arg[0] == '-' || !std::filesystem::is_directory(arg)) continue;
    const auto seeds = Seeds();
    for (size_t n = 0; n < seeds.size(); ++n) {
      FILE* f = std::fopen((std::string(arg) + "/valid_" + std::to_string(n)).c_str(), "wb");
      if (f == nullptr) continue;
      std::fwrite(seeds[n].data(), 1, seeds[n].size(), f);
      std::fclose(f);
    }
    break;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const State& s = S();
  const auto len = static_cast<DWORD>(size);
  if (PCCERT_CONTEXT c = CertCreateCertificateContext(kEncoding, data, len)) {
    TouchCert(c);
    BYTE usage[2];
    CertGetIntendedKeyUsage(kEncoding, c->pCertInfo, usage, sizeof usage);
    HCERTSTORE store = CertOpenStore(reinterpret_cast<const char*>(uintptr_t{kStoreProvMemory}), kEncoding, 0,
                                     kStoreFlags, nullptr);
    CertAddCertificateContextToStore(store, c, kAddNewer, nullptr);
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, kEncoding, 0, kFindSubjectStrW, u"fuzz", nullptr);
    CertFreeCertificateContext(found);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    const CERT_CHAIN_CONTEXT* chain = nullptr;
    if (CertGetCertificateChain(nullptr, c, nullptr, store, &para, 0x90000001, nullptr, &chain))
      CertFreeCertificateChain(chain);
    CertCloseStore(store, 0);
    CertFreeCertificateContext(c);
  }
  if (PCCRL_CONTEXT crl = CertCreateCRLContext(kEncoding, data, len)) {
    Touch(crl->pbCrlEncoded, crl->cbCrlEncoded);
    HCERTSTORE store = CertOpenStore(reinterpret_cast<const char*>(uintptr_t{kStoreProvMemory}), kEncoding, 0,
                                     kStoreFlags, nullptr);
    CertAddCRLContextToStore(store, crl, kAddNewer, nullptr);
    CertAddCRLContextToStore(store, crl, kAddNewer, nullptr);  // the same again: refused as not newer
    CertCloseStore(store, 0);
    CertFreeCRLContext(crl);
  }
  // As a detached signature over the seeds' content.
  HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, kDetachedFlag, 0, 0, nullptr, nullptr);
  if (CryptMsgUpdate(msg, data, len, 1) && CryptMsgUpdate(msg, kContent, sizeof kContent, 1)) {
    TouchParams(msg);
    CryptMsgControl(msg, 0, kCtrlVerifySignature, s.cert->pCertInfo);
  }
  CryptMsgClose(msg);
  CRYPT_VERIFY_MESSAGE_PARA verify{sizeof verify, kEncoding, 0, nullptr, nullptr};
  const BYTE* pieces[] = {kContent};
  DWORD lengths[] = {sizeof kContent};
  PCCERT_CONTEXT signer = nullptr;
  if (CryptVerifyDetachedMessageSignature(&verify, 0, data, len, 1, pieces, lengths, &signer)) TouchCert(signer);
  CertFreeCertificateContext(signer);
  if (HCERTSTORE certs = CryptGetMessageCertificates(kEncoding, 0, 0, data, len)) {
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(certs, nullptr); c != nullptr;
         c = CertEnumCertificatesInStore(certs, c))
      TouchCert(c);
    CertCloseStore(certs, 0);
  }
  // As an envelope for the target's own key.
  msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
  if (CryptMsgUpdate(msg, data, len, 1)) {
    CMSG_CTRL_DECRYPT_PARA decrypt{sizeof decrypt, s.prov, kAtKeyExchange, 0};
    CryptMsgControl(msg, 0, kCtrlDecrypt, &decrypt);
    TouchParams(msg);
  }
  CryptMsgClose(msg);
  HCERTSTORE stores[] = {s.store};
  CRYPT_DECRYPT_MESSAGE_PARA para{sizeof para, kEncoding, 1, stores};
  DWORD outLen = 0;
  if (CryptDecryptMessage(&para, data, len, nullptr, &outLen, nullptr)) {
    Bytes out(outLen);
    if (CryptDecryptMessage(&para, data, len, out.data(), &outLen, nullptr)) Touch(out.data(), outLen);
  }
  return 0;
}
