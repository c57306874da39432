// The functions of libcrypto that the OpenSSL engine calls, resolved by name at run time.
//
// The library is loaded once per process through LoadToolkitLibrary ("libcrypto.so.3" on Linux;
// "libcrypto-3.dll", then the historical "libeay32.dll" on Windows). No OpenSSL header is included:
// the Win32 build has none, so the types below are opaque and the prototypes are written out here
// exactly as OpenSSL 3 declares them (cdecl, `long` where OpenSSL has `long`).
#pragma once

#include <atomic>
#include <cstddef>
#include <ctime>

#include "frame/zexroot.h"

namespace zk::ossl {

struct X509Cert;
struct X509Crl;
struct X509Name;
struct X509Store;
struct X509StoreCtx;
struct X509Revoked;
struct Asn1Integer;
struct Asn1Time;
struct X509Stack;  // STACK_OF(X509)
struct EvpPkey;
struct RsaKey;

// Padding of the RSA_* calls: PKCS#1 v1.5.
constexpr int kRsaPkcs1Padding = 1;
// d2i_PrivateKey key type.
constexpr int kEvpPkeyRsa = 6;
// RC2_ecb_encrypt / RC2_cbc_encrypt direction.
constexpr int kRc2Encrypt = 1;
constexpr int kRc2Decrypt = 0;
// Big enough for RC4_KEY (258 ints) and RC2_KEY (64 ints) of any build.
constexpr size_t kCipherKeyScheduleBytes = 2048;

struct OpenSSLApi {
  // errors
  unsigned long (*ERR_get_error)();
  void (*ERR_clear_error)();
  void (*ERR_error_string_n)(unsigned long e, char* buf, size_t len);
  const char* (*X509_verify_cert_error_string)(long n);
  // digests and RSA
  unsigned char* (*MD5)(const unsigned char* d, size_t n, unsigned char* md);
  int (*RSA_size)(const RsaKey* rsa);
  int (*RSA_public_encrypt)(int flen, const unsigned char* from, unsigned char* to, RsaKey* rsa, int padding);
  int (*RSA_private_decrypt)(int flen, const unsigned char* from, unsigned char* to, RsaKey* rsa, int padding);
  int (*RSA_private_encrypt)(int flen, const unsigned char* from, unsigned char* to, RsaKey* rsa, int padding);
  int (*RSA_public_decrypt)(int flen, const unsigned char* from, unsigned char* to, RsaKey* rsa, int padding);
  void (*RSA_free)(RsaKey* rsa);
  RsaKey* (*EVP_PKEY_get1_RSA)(EvpPkey* pkey);
  EvpPkey* (*d2i_PrivateKey)(int type, EvpPkey** a, const unsigned char** pp, long length);
  void (*EVP_PKEY_free)(EvpPkey* pkey);
  // session-key ciphers (the key schedules are opaque blocks of kCipherKeyScheduleBytes)
  void (*RC4_set_key)(void* key, int len, const unsigned char* data);
  void (*RC4)(void* key, size_t len, const unsigned char* indata, unsigned char* outdata);
  void (*RC2_set_key)(void* key, int len, const unsigned char* data, int bits);
  void (*RC2_ecb_encrypt)(const unsigned char* in, unsigned char* out, void* key, int enc);
  void (*RC2_cbc_encrypt)(const unsigned char* in, unsigned char* out, long length, void* ks, unsigned char* iv,
                          int enc);
  // certificates
  X509Cert* (*d2i_X509)(X509Cert** a, const unsigned char** in, long len);
  int (*i2d_X509)(X509Cert* a, unsigned char** out);
  void (*X509_free)(X509Cert* a);
  int (*X509_up_ref)(X509Cert* a);
  X509Cert* (*X509_dup)(const X509Cert* a);
  int (*X509_check_purpose)(X509Cert* x, int id, int ca);
  EvpPkey* (*X509_get_pubkey)(X509Cert* x);
  Asn1Integer* (*X509_get_serialNumber)(X509Cert* x);
  X509Name* (*X509_get_issuer_name)(const X509Cert* a);
  X509Name* (*X509_get_subject_name)(const X509Cert* a);
  int (*X509_NAME_cmp)(const X509Name* a, const X509Name* b);
  int (*i2d_ASN1_INTEGER)(const Asn1Integer* a, unsigned char** out);
  const Asn1Time* (*X509_get0_notBefore)(const X509Cert* x);
  const Asn1Time* (*X509_get0_notAfter)(const X509Cert* x);
  int (*ASN1_TIME_to_tm)(const Asn1Time* s, struct tm* tm);
  // revocation lists
  X509Crl* (*d2i_X509_CRL)(X509Crl** a, const unsigned char** in, long len);
  void (*X509_CRL_free)(X509Crl* a);
  int (*X509_CRL_verify)(X509Crl* a, EvpPkey* r);
  X509Name* (*X509_CRL_get_issuer)(const X509Crl* crl);
  int (*X509_CRL_get0_by_serial)(X509Crl* crl, X509Revoked** ret, const Asn1Integer* serial);
  // chain verification
  X509Store* (*X509_STORE_new)();
  void (*X509_STORE_free)(X509Store* v);
  int (*X509_STORE_add_cert)(X509Store* ctx, X509Cert* x);
  int (*X509_STORE_add_crl)(X509Store* ctx, X509Crl* x);
  X509StoreCtx* (*X509_STORE_CTX_new)();
  void (*X509_STORE_CTX_free)(X509StoreCtx* ctx);
  int (*X509_STORE_CTX_init)(X509StoreCtx* ctx, X509Store* store, X509Cert* x509, void* chain);
  void (*X509_STORE_CTX_set_flags)(X509StoreCtx* ctx, unsigned long flags);
  int (*X509_STORE_CTX_set_purpose)(X509StoreCtx* ctx, int purpose);
  int (*X509_verify_cert)(X509StoreCtx* ctx);
  int (*X509_STORE_CTX_get_error)(const X509StoreCtx* ctx);
  X509Stack* (*X509_STORE_CTX_get0_chain)(const X509StoreCtx* ctx);
  int (*OPENSSL_sk_num)(const X509Stack* st);
  void* (*OPENSSL_sk_value)(const X509Stack* st, int i);
};

// The process-wide libcrypto module and its function table.
class TOpenSSLLibrary : public TCrypto_DLL {
 public:
  // Loads the library when it is not loaded yet (a failed load is retried on the next call, so a
  // root directory set later still counts) and returns the process-wide instance.
  static TOpenSSLLibrary& Acquire();
  // The table; valid only while LibLoaded and FunctionsPresent. Never freed, so reading it is
  // safe at any time.
  static const OpenSSLApi& Api();

  // The unload step: frees the module; the next Acquire loads it and resolves the table again.
  static void Finalize();

 private:
  void Load();
  void ResolveAll();

  platform::ModuleHandle module_ = nullptr;
  OpenSSLApi api_{};
  std::atomic<bool> loaded_{false};  // LibLoaded, published for Acquire's path without the lock
};

// Loads libcrypto under the names of this platform, in order; null when none loads.
platform::ModuleHandle LoadLibcrypto();
// Gives back a reference taken by LoadLibcrypto, at unload.
void ReleaseLibcrypto(platform::ModuleHandle module);

// Called once a module is in place: lets libcrypto initialise itself, then arranges for
// FinalizeOpenSSLAdapter to run at unload. Registered after libcrypto's own exit handler, it runs
// before libcrypto shuts down, while the seed file can still be written and objects freed.
void PrepareLibraryOnce(platform::ModuleHandle module);

// The unload step of the adapter: empties the binding cache, writes the random seed file back,
// frees the modules. Later use loads everything again (tests rely on that).
void FinalizeOpenSSLAdapter();

}  // namespace zk::ossl
