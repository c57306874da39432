// The control entry of the stand-in "crypt32.dll" and its provisioning exports for tests and the
// demo: certificates made for container keys, and put into a system store ("MY", "ROOT") with
// their link to a key container.
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "crypt32_internal.h"

using namespace capistandin;

namespace {

// The type of a listed provider, 1 when it is not listed.
DWORD ProviderType(const char* provider) {
  DWORD type = 1;
  char name[256];
  for (DWORD i = 0, t = 0, size = sizeof name; CryptEnumProvidersA(i, nullptr, 0, &t, name, &size);
       ++i, size = sizeof name)
    if (provider != nullptr && strcasecmp(name, provider) == 0) type = t;
  return type;
}

X509* ReadCertificate(const char* file) {
  BIO* in = BIO_new_file(file, "rb");
  X509* x = in != nullptr ? PEM_read_bio_X509(in, nullptr, nullptr, nullptr) : nullptr;
  if (x == nullptr && in != nullptr) {
    BIO_reset(in);
    x = d2i_X509_bio(in, nullptr);
  }
  BIO_free(in);
  return x;
}

// The key of a container (made, with a new key, when missing or empty), with a reference.
EVP_PKEY* ContainerKey(const char* provider, const char* container) {
  const DWORD type = ProviderType(provider);
  HCRYPTPROV prov = 0;
  if (!ZkCapiAcquire(&prov, container, provider, type) &&
      !CryptAcquireContextA(&prov, container, provider, type, kNewKeySet))
    return nullptr;
  EVP_PKEY* key = ZkCapiProviderKey(prov, kAtKeyExchange);
  HCRYPTKEY made = 0;
  if (key == nullptr && CryptGenKey(prov, kAtKeyExchange, 1024u << 16, &made)) {
    CryptDestroyKey(made);
    key = ZkCapiProviderKey(prov, kAtKeyExchange);
  }
  CryptReleaseContext(prov, 0);
  return key;
}

bool AddExtension(X509* x, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  const bool added = ext != nullptr && X509_add_ext(x, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

}  // namespace

extern "C" {

#if !defined(ZK_CAPI_ONE_IMAGE)  // both modules in one program (the fuzz target): advapi32's serves
STANDIN_EXPORT int StandIn_Control(const char* command);

namespace {

// advapi32's control entry, found through the module that defines the advapi32 calls crypt32 makes.
int AdvapiControl(const char* command) {
  static int (*const entry)(const char*) = [] {
    Dl_info info{};
    void* module = dladdr(reinterpret_cast<void*>(&ZkCapiHome), &info) != 0 && info.dli_fname != nullptr
                       ? dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD)
                       : nullptr;
    return module != nullptr ? reinterpret_cast<int (*)(const char*)>(dlsym(module, "StandIn_Control")) : nullptr;
  }();
  return entry != nullptr && entry != &StandIn_Control ? entry(command) : -1;
}

}  // namespace

// "home <dir>": the state directory (shared with advapi32); otherwise the usual verbs, for the
// functions of both modules: a test scripts advapi32's key calls here too. Each module counts
// and answers only its own functions, so "calls" adds the two counts.
STANDIN_EXPORT int StandIn_Control(const char* command) {
  if (command != nullptr && std::strncmp(command, "home ", 5) == 0) {
    ZkCapiSetHome(command + 5);
    return 0;
  }
  const int own = standin::Control(command);
  const int advapi = AdvapiControl(command);
  if (command != nullptr && std::strncmp(command, "calls ", 6) == 0) return own + std::max(advapi, 0);
  return own != 0 ? own : advapi;
}
#endif

// Provisioning for tests and the demo: a certificate "CN=<CommonName>" for the key of (Provider,
// Container), made there when the container has none (RSA 1024, or GOST R 34.10-2001 for the GOST
// providers), issued by the key of (Provider, IssuerContainer) under the subject of
// IssuerCertFile, or self-signed when IssuerContainer is null. A CA gets basic constraints and
// keyCertSign|cRLSign, anyone else digitalSignature|keyEncipherment. Written as DER to OutFile.
// 0, or the failure's HRESULT.
STANDIN_EXPORT DWORD CapiStandIn_MakeCertificate(const char* Provider, const char* Container, const char* CommonName,
                                                 const char* IssuerContainer, const char* IssuerCertFile,
                                                 DWORD Serial, int Days, int IsCA, const char* OutFile) {
  if (Provider == nullptr || Container == nullptr || CommonName == nullptr || OutFile == nullptr || Days <= 0 ||
      (IssuerContainer != nullptr && IssuerCertFile == nullptr))
    return kErrorInvalidParameter;
  EVP_PKEY* key = ContainerKey(Provider, Container);
  EVP_PKEY* signer = IssuerContainer != nullptr ? ContainerKey(Provider, IssuerContainer) : key;
  X509* issuer = IssuerCertFile != nullptr ? ReadCertificate(IssuerCertFile) : nullptr;
  X509* x = X509_new();
  bool ok = key != nullptr && signer != nullptr && (IssuerCertFile == nullptr || issuer != nullptr) && x != nullptr &&
            X509_set_version(x, 2) && ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(Serial)) &&
            X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(CommonName), -1, -1, 0) &&
            X509_set_issuer_name(x, issuer != nullptr ? X509_get_subject_name(issuer) : X509_get_subject_name(x)) &&
            X509_gmtime_adj(X509_getm_notBefore(x), -3600) &&
            X509_gmtime_adj(X509_getm_notAfter(x), static_cast<long>(Days) * 86400) && X509_set_pubkey(x, key) &&
            AddExtension(x, issuer != nullptr ? issuer : x, NID_basic_constraints,
                         IsCA ? "critical,CA:TRUE" : "CA:FALSE") &&
            AddExtension(x, issuer != nullptr ? issuer : x, NID_key_usage,
                         IsCA ? "critical,keyCertSign,cRLSign" : "digitalSignature,keyEncipherment");
  if (ok) {
    // GOST keys sign with GOST R 34.11-94, RSA keys with SHA-256.
    const int id = EVP_PKEY_get_base_id(signer);
    const EVP_MD* md = id == NID_id_GostR3410_2001 ? EVP_get_digestbynid(NID_id_GostR3411_94) : EVP_sha256();
    ok = md != nullptr && X509_sign(x, signer, md) > 0;
  }
  BIO* out = ok ? BIO_new_file(OutFile, "wb") : nullptr;
  ok = out != nullptr && i2d_X509_bio(out, x) == 1;
  if (out != nullptr && BIO_free(out) != 1) ok = false;
  X509_free(x);
  X509_free(issuer);
  if (signer != key) EVP_PKEY_free(signer);
  EVP_PKEY_free(key);
  return ok ? 0 : (key == nullptr || signer == nullptr ? kNteBadKeyset : kNteFail);
}

// The certificate of CertFile (DER or PEM) into the system store; with a container, linked to it
// (KEY_PROV_INFO, AT_KEYEXCHANGE). 0, or the failure's HRESULT.
STANDIN_EXPORT DWORD CapiStandIn_AddCertificate(const char* Store, const char* CertFile, const char* Provider,
                                                const char* Container) {
  if (Store == nullptr || CertFile == nullptr) return kErrorInvalidParameter;
  X509* x = ReadCertificate(CertFile);
  if (x == nullptr) return kCryptEFileError;
  unsigned char* der = nullptr;
  const int len = i2d_X509(x, &der);
  X509_free(x);
  PCCERT_CONTEXT cert = len > 0 ? CertCreateCertificateContext(kEncoding, der, static_cast<DWORD>(len)) : nullptr;
  OPENSSL_free(der);
  if (cert == nullptr) return kCryptEBadEncode;
  if (Container != nullptr && *Container != 0) {
    const DWORD type = ProviderType(Provider);
    std::u16string container, provider;
    for (const char* p = Container; *p != 0; ++p) container += static_cast<char16_t>(static_cast<unsigned char>(*p));
    for (const char* p = Provider != nullptr ? Provider : ""; *p != 0; ++p)
      provider += static_cast<char16_t>(static_cast<unsigned char>(*p));
    CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), type, 0, 0, nullptr, kAtKeyExchange};
    CertSetCertificateContextProperty(cert, kKeyProvInfoProp, 0, &info);
  }
  HCERTSTORE store = CertOpenSystemStoreA(0, Store);
  const bool added = store != nullptr && CertAddCertificateContextToStore(store, cert, kAddReplaceExisting, nullptr);
  const DWORD error = added ? 0 : GetLastError();
  CertCloseStore(store, 0);
  CertFreeCertificateContext(cert);
  return added ? 0 : (error != 0 ? error : kNteFail);
}

}  // extern "C"
