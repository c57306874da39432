// The control entry of the stand-in "crypt32.dll" and its provisioning export for tests and the
// demo: a certificate put into a system store ("MY", "ROOT") with its link to a key container.
#include <openssl/pem.h>

#include <cstring>
#include <string>

#include "crypt32_internal.h"

using namespace capistandin;

extern "C" {

#if !defined(ZK_CAPI_ONE_IMAGE)  // both modules in one program (the fuzz target): advapi32's serves
// "home <dir>": the state directory (shared with advapi32); otherwise the usual verbs.
STANDIN_EXPORT int StandIn_Control(const char* command) {
  if (command != nullptr && std::strncmp(command, "home ", 5) == 0) {
    ZkCapiSetHome(command + 5);
    return 0;
  }
  return standin::Control(command);
}
#endif

// The certificate of CertFile (DER or PEM) into the system store; with a container, linked to it
// (KEY_PROV_INFO, AT_KEYEXCHANGE). 0, or the failure's HRESULT.
STANDIN_EXPORT DWORD CapiStandIn_AddCertificate(const char* Store, const char* CertFile, const char* Provider,
                                                const char* Container) {
  if (Store == nullptr || CertFile == nullptr) return kErrorInvalidParameter;
  BIO* in = BIO_new_file(CertFile, "rb");
  X509* x = in != nullptr ? PEM_read_bio_X509(in, nullptr, nullptr, nullptr) : nullptr;
  if (x == nullptr && in != nullptr) {
    BIO_reset(in);
    x = d2i_X509_bio(in, nullptr);
  }
  BIO_free(in);
  if (x == nullptr) return kCryptEFileError;
  unsigned char* der = nullptr;
  const int len = i2d_X509(x, &der);
  X509_free(x);
  PCCERT_CONTEXT cert = len > 0 ? CertCreateCertificateContext(kEncoding, der, static_cast<DWORD>(len)) : nullptr;
  OPENSSL_free(der);
  if (cert == nullptr) return kCryptEBadEncode;
  if (Container != nullptr && *Container != 0) {
    DWORD type = 1;
    char name[256];
    for (DWORD i = 0, t = 0, size = sizeof name; CryptEnumProvidersA(i, nullptr, 0, &t, name, &size);
         ++i, size = sizeof name)
      if (Provider != nullptr && strcasecmp(name, Provider) == 0) type = t;
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
