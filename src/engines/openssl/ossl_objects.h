// Owning handles for libcrypto objects and the reading of certificate and CRL files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/openssl/ossl_api.h"

namespace zk::ossl {

struct X509Deleter {
  void operator()(X509Cert* p) const { TOpenSSLLibrary::Api().X509_free(p); }
};
struct CrlDeleter {
  void operator()(X509Crl* p) const { TOpenSSLLibrary::Api().X509_CRL_free(p); }
};
struct PkeyDeleter {
  void operator()(EvpPkey* p) const { TOpenSSLLibrary::Api().EVP_PKEY_free(p); }
};
struct RsaDeleter {
  void operator()(RsaKey* p) const { TOpenSSLLibrary::Api().RSA_free(p); }
};
struct StoreDeleter {
  void operator()(X509Store* p) const { TOpenSSLLibrary::Api().X509_STORE_free(p); }
};
struct StoreCtxDeleter {
  void operator()(X509StoreCtx* p) const { TOpenSSLLibrary::Api().X509_STORE_CTX_free(p); }
};

using X509Ptr = std::unique_ptr<X509Cert, X509Deleter>;
using CrlPtr = std::unique_ptr<X509Crl, CrlDeleter>;
using PkeyPtr = std::unique_ptr<EvpPkey, PkeyDeleter>;
using RsaPtr = std::unique_ptr<RsaKey, RsaDeleter>;
using StorePtr = std::unique_ptr<X509Store, StoreDeleter>;
using StoreCtxPtr = std::unique_ptr<X509StoreCtx, StoreCtxDeleter>;

// Keys and stores that an operation keeps using after it has released the lock of the cache that
// holds them: a cache that drops one meanwhile drops only its own reference.
using SharedRsa = std::shared_ptr<RsaKey>;
using SharedStore = std::shared_ptr<X509Store>;
inline SharedRsa Shared(RsaPtr key) { return SharedRsa(key.release(), RsaDeleter()); }
inline SharedStore Shared(StorePtr store) { return SharedStore(store.release(), StoreDeleter()); }

// A second owner of the same certificate (reference count), or null on failure.
X509Ptr ShareCert(X509Cert* cert);

// The RSA key inside a certificate's public key, or null.
RsaPtr CertRsaKey(X509Cert* cert);

// The UID of a certificate: its serial number's content bytes as upper-case hex, no separators.
// Empty when the certificate has no serial.
std::string CertUID(X509Cert* cert);

// The base64 text between the armour lines, line breaks removed, decoded; false when absent.
bool DecodePemBlock(const std::vector<uint8_t>& file, const char* begin, const char* end,
                    std::vector<uint8_t>& der);

// A certificate file, DER first, else PEM. 0, -15 (unreadable), -48 (too large) or -40 (format).
int32_t LoadCertFile(const std::string& FileName, X509Ptr& cert);
// A CRL file, DER first, else PEM. 0, -53 (unreadable) or -52 (format).
int32_t LoadCrlFile(const std::string& FileName, CrlPtr& crl);

// The first MaxBytes bytes of a file (all of a shorter one); false when it cannot be read. Nothing
// is kept in a stream buffer, so a secret read this way is only in Data.
bool ReadFileHead(const std::string& FileName, size_t MaxBytes, std::vector<uint8_t>& Data);

// DER encoding of a certificate (empty on failure).
std::vector<uint8_t> CertToDer(X509Cert* cert);

}  // namespace zk::ossl
