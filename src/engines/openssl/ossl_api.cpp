#include "engines/openssl/ossl_api.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "engines/openssl/ossl_locks.h"
#include "frame/rwsyncs.h"

namespace zk::ossl {

namespace {

#if defined(_WIN32)
const char* const kLibraryNames[] = {"libcrypto-3.dll", "libeay32.dll", nullptr};
#else
const char* const kLibraryNames[] = {"libcrypto.so.3", nullptr};
#endif

// OPENSSL_init_crypto options: error texts, all ciphers and digests. On Windows every DLL runs its
// exit handlers at its own detach, and libcrypto, loaded after this library, detaches first: it
// must not shut itself down then, or the finalisation could not write the seed file back.
#if defined(_WIN32)
constexpr uint64_t kInitOptions = 0x00000002 | 0x00000004 | 0x00000008 | 0x00080000;
#else
constexpr uint64_t kInitOptions = 0x00000002 | 0x00000004 | 0x00000008;
#endif

TCriticalSection& LibraryLock() {
  static TCriticalSection lock;
  return lock;
}

// One object for the life of this module: Api() reads the table without a lock on every
// libcrypto call, and the unload step (Finalize) keeps it in place, so a late reader never meets
// freed memory. It is destroyed only with the module itself, so a host that unloads the library
// leaves nothing behind. The table is written only while the library loads, under LibraryLock.
TOpenSSLLibrary& Instance() {
  static TOpenSSLLibrary instance;
  return instance;
}

}  // namespace

platform::ModuleHandle LoadLibcrypto() {
  for (const char* const* name = kLibraryNames; *name != nullptr; ++name) {
    if (platform::ModuleHandle module = LoadToolkitLibrary(*name)) return module;
  }
  return nullptr;
}

void ReleaseLibcrypto(platform::ModuleHandle module) {
#if defined(_WIN32)
  // The finalisation runs inside this library's detach, where unloading another DLL is unsafe;
  // the reference simply lapses with the process or stays with the loaded library.
  (void)module;
#else
  platform::FreeModule(module);
#endif
}

void PrepareLibraryOnce(platform::ModuleHandle module) {
  static std::once_flag once;
  std::call_once(once, [module] {
    using InitFn = int (*)(uint64_t, const void*);
    // Older libraries initialise themselves; OpenSSL 3 registers its own exit handler here.
    if (auto init = reinterpret_cast<InitFn>(platform::FindSymbol(module, "OPENSSL_init_crypto"))) {
      init(kInitOptions, nullptr);
    }
    PrepareAdapterStatics();
    std::atexit(FinalizeOpenSSLAdapter);
  });
}

TOpenSSLLibrary& TOpenSSLLibrary::Acquire() {
  TOpenSSLLibrary& instance = Instance();
  // Every operation asks; once loaded, the answer stands until unload, without the lock.
  if (instance.loaded_.load(std::memory_order_acquire)) return instance;
  SectionLock hold(LibraryLock());
  if (!instance.LibLoaded) instance.Load();
  instance.loaded_.store(instance.LibLoaded, std::memory_order_release);
  return instance;
}

const OpenSSLApi& TOpenSSLLibrary::Api() { return Instance().api_; }

void TOpenSSLLibrary::Finalize() {
  SectionLock hold(LibraryLock());
  TOpenSSLLibrary& instance = Instance();
  if (!instance.LibLoaded) return;
  ReleaseLibcrypto(instance.module_);
  instance.module_ = nullptr;
  instance.loaded_.store(false);
  instance.LibLoaded = instance.FunctionsPresent = false;
}

void TOpenSSLLibrary::Load() {
  module_ = LoadLibcrypto();
  if (module_ == nullptr) return;
  LibLoaded = true;
  PrepareLibraryOnce(module_);
  ResolveAll();
}

void TOpenSSLLibrary::ResolveAll() {
  FunctionsPresent = true;
  OpenSSLApi& a = api_;
  platform::ModuleHandle m = module_;
  Resolve(m, "ERR_get_error", a.ERR_get_error);
  Resolve(m, "ERR_clear_error", a.ERR_clear_error);
  Resolve(m, "ERR_error_string_n", a.ERR_error_string_n);
  Resolve(m, "X509_verify_cert_error_string", a.X509_verify_cert_error_string);
  Resolve(m, "MD5", a.MD5);
  Resolve(m, "RSA_size", a.RSA_size);
  Resolve(m, "RSA_public_encrypt", a.RSA_public_encrypt);
  Resolve(m, "RSA_private_decrypt", a.RSA_private_decrypt);
  Resolve(m, "RSA_private_encrypt", a.RSA_private_encrypt);
  Resolve(m, "RSA_public_decrypt", a.RSA_public_decrypt);
  Resolve(m, "RSA_free", a.RSA_free);
  Resolve(m, "EVP_PKEY_get1_RSA", a.EVP_PKEY_get1_RSA);
  Resolve(m, "d2i_PrivateKey", a.d2i_PrivateKey);
  Resolve(m, "EVP_PKEY_free", a.EVP_PKEY_free);
  Resolve(m, "RC4_set_key", a.RC4_set_key);
  Resolve(m, "RC4", a.RC4);
  Resolve(m, "RC2_set_key", a.RC2_set_key);
  Resolve(m, "RC2_ecb_encrypt", a.RC2_ecb_encrypt);
  Resolve(m, "RC2_cbc_encrypt", a.RC2_cbc_encrypt);
  Resolve(m, "d2i_X509", a.d2i_X509);
  Resolve(m, "i2d_X509", a.i2d_X509);
  Resolve(m, "X509_free", a.X509_free);
  Resolve(m, "X509_up_ref", a.X509_up_ref);
  Resolve(m, "X509_dup", a.X509_dup);
  Resolve(m, "X509_check_purpose", a.X509_check_purpose);
  Resolve(m, "X509_get_pubkey", a.X509_get_pubkey);
  Resolve(m, "X509_get_serialNumber", a.X509_get_serialNumber);
  Resolve(m, "X509_get_issuer_name", a.X509_get_issuer_name);
  Resolve(m, "X509_get_subject_name", a.X509_get_subject_name);
  Resolve(m, "X509_NAME_cmp", a.X509_NAME_cmp);
  Resolve(m, "i2d_ASN1_INTEGER", a.i2d_ASN1_INTEGER);
  Resolve(m, "X509_get0_notBefore", a.X509_get0_notBefore);
  Resolve(m, "X509_get0_notAfter", a.X509_get0_notAfter);
  Resolve(m, "ASN1_TIME_to_tm", a.ASN1_TIME_to_tm);
  Resolve(m, "d2i_X509_CRL", a.d2i_X509_CRL);
  Resolve(m, "X509_CRL_free", a.X509_CRL_free);
  Resolve(m, "X509_CRL_verify", a.X509_CRL_verify);
  Resolve(m, "X509_CRL_get_issuer", a.X509_CRL_get_issuer);
  Resolve(m, "X509_CRL_get0_by_serial", a.X509_CRL_get0_by_serial);
  Resolve(m, "X509_STORE_new", a.X509_STORE_new);
  Resolve(m, "X509_STORE_free", a.X509_STORE_free);
  Resolve(m, "X509_STORE_add_cert", a.X509_STORE_add_cert);
  Resolve(m, "X509_STORE_add_crl", a.X509_STORE_add_crl);
  Resolve(m, "X509_STORE_CTX_new", a.X509_STORE_CTX_new);
  Resolve(m, "X509_STORE_CTX_free", a.X509_STORE_CTX_free);
  Resolve(m, "X509_STORE_CTX_init", a.X509_STORE_CTX_init);
  Resolve(m, "X509_STORE_CTX_set_flags", a.X509_STORE_CTX_set_flags);
  Resolve(m, "X509_STORE_CTX_set_purpose", a.X509_STORE_CTX_set_purpose);
  Resolve(m, "X509_verify_cert", a.X509_verify_cert);
  Resolve(m, "X509_STORE_CTX_get_error", a.X509_STORE_CTX_get_error);
  Resolve(m, "X509_STORE_CTX_get0_chain", a.X509_STORE_CTX_get0_chain);
  Resolve(m, "OPENSSL_sk_num", a.OPENSSL_sk_num);
  Resolve(m, "OPENSSL_sk_value", a.OPENSSL_sk_value);
}

}  // namespace zk::ossl
