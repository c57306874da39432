// The chain engine of the stand-in "crypt32.dll", over X509_verify_cert: every error OpenSSL
// meets on the way is gathered into the CryptoAPI's trust-status bits instead of stopping at the
// first. Trusted are the certificates of the engine's restricted root (each of which must also be
// in "ROOT", as the CryptoAPI requires), or "ROOT" itself; CRLs come only from the additional
// stores, and only when a revocation flag asks for them.
#include <openssl/x509v3.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "crypt32_internal.h"

namespace capistandin {
namespace {

constexpr DWORD kNotTimeValid = 0x1, kRevoked = 0x4, kNotSignatureValid = 0x8, kNotValidForUsage = 0x10,
                kUntrustedRoot = 0x20, kRevocationUnknown = 0x40, kInvalidBasicConstraints = 0x400,
                kPartialChain = 0x10000, kOfflineRevocation = 0x01000000;
constexpr DWORD kRevocationFlags = 0x10000000 | 0x20000000 | 0x40000000;  // end cert, chain, chain w/o root

struct TEngine {
  std::vector<TStore*> roots;       // empty: "ROOT"
  std::vector<TStore*> additional;  // their CRLs and certificates
};

// What CertGetCertificateChain hands out: the context (as the CryptoAPI lays it out, no simple
// chains offered) followed by nothing the caller reads.
struct TChain {
  CERT_CHAIN_CONTEXT head;
  DWORD cChain;
  void* rgpChain;
  DWORD cLowerQualityChainContext;
  void* rgpLowerQualityChainContext;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
};

DWORD StatusBit(int error, X509* current) {
  switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return kNotTimeValid;
    case X509_V_ERR_CERT_REVOKED:
      return kRevoked;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
      return kNotSignatureValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
      return kUntrustedRoot;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return kPartialChain;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
      // A root vouches for itself: nothing can revoke it.
      return current != nullptr && X509_check_issued(current, current) == X509_V_OK
                 ? 0
                 : kRevocationUnknown | kOfflineRevocation;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
      return kInvalidBasicConstraints;
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_INVALID_PURPOSE:
      return kNotValidForUsage;
  }
  return 0x100;  // CERT_TRUST_IS_INVALID_EXTENSION stands for anything else
}

int Gather(int ok, X509_STORE_CTX* ctx) {
  if (!ok) {
    auto* status = static_cast<DWORD*>(X509_STORE_CTX_get_app_data(ctx));
    *status |= StatusBit(X509_STORE_CTX_get_error(ctx), X509_STORE_CTX_get_current_cert(ctx));
  }
  return 1;  // go on: every error is wanted
}

std::vector<X509*> Certificates(const std::vector<TStore*>& stores) {
  std::vector<X509*> all;
  for (TStore* s : stores) {
    auto some = StoreCertificates(s);
    all.insert(all.end(), some.begin(), some.end());
  }
  return all;
}

DWORD ChainStatus(X509* leaf, const std::vector<X509*>& trusted, const std::vector<X509*>& others,
                  const std::vector<X509_CRL*>& crls, const FILETIME_* when, DWORD flags) {
  X509_STORE* store = X509_STORE_new();
  for (X509* t : trusted) X509_STORE_add_cert(store, t);
  STACK_OF(X509)* chain = sk_X509_new_null();
  for (X509* o : others) sk_X509_push(chain, o);
  STACK_OF(X509_CRL)* crlStack = sk_X509_CRL_new_null();
  for (X509_CRL* c : crls) sk_X509_CRL_push(crlStack, c);
  X509_STORE_CTX* ctx = X509_STORE_CTX_new_ex(ZkCapiLibContext(), nullptr);
  DWORD status = 0;
  if (ctx != nullptr && X509_STORE_CTX_init(ctx, store, leaf, chain)) {
    X509_STORE_CTX_set0_crls(ctx, crlStack);
    X509_STORE_CTX_set_verify_cb(ctx, Gather);
    X509_STORE_CTX_set_app_data(ctx, &status);
    unsigned long vflags = 0;
    if (flags & kRevocationFlags) vflags |= (flags & 0x10000000) != 0 && (flags & 0x60000000) == 0
                                                ? X509_V_FLAG_CRL_CHECK
                                                : X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL;
    X509_STORE_CTX_set_flags(ctx, vflags);
    if (when != nullptr && (when->dwHighDateTime | when->dwLowDateTime) != 0) {
      const uint64_t ticks = (static_cast<uint64_t>(when->dwHighDateTime) << 32) | when->dwLowDateTime;
      X509_STORE_CTX_set_time(ctx, 0, static_cast<time_t>(ticks / 10000000ull - 11644473600ull));
    }
    if (X509_verify_cert(ctx) < 0) status |= kPartialChain;
  } else {
    status |= kPartialChain;
  }
  X509_STORE_CTX_free(ctx);
  sk_X509_CRL_free(crlStack);
  sk_X509_free(chain);
  X509_STORE_free(store);
  return status;
}

}  // namespace
}  // namespace capistandin

using namespace capistandin;

extern "C" {

STANDIN_EXPORT BOOL CertCreateCertificateChainEngine(CERT_CHAIN_ENGINE_CONFIG* Config, HCERTCHAINENGINE* Engine) {
  if (Scripted("CertCreateCertificateChainEngine")) return 0;
  if (Config == nullptr || Engine == nullptr || Config->cbSize < sizeof(CERT_CHAIN_ENGINE_CONFIG) ||
      (Config->cAdditionalStore > 0 && Config->rghAdditionalStore == nullptr))
    return Fail(kErrorInvalidParameter);
  auto engine = std::make_unique<TEngine>();
  if (Config->hRestrictedRoot != nullptr) {
    TStore* restricted = StoreOf(Config->hRestrictedRoot);
    if (restricted == nullptr) return Fail(kErrorInvalidParameter);
    // Each restricted root must be one of the system's roots.
    HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
    bool subset = true;
    for (X509* x : StoreCertificates(restricted)) {
      bool found = false;
      for (X509* r : StoreCertificates(StoreOf(root))) {
        found = found || X509_cmp(x, r) == 0;
        X509_free(r);
      }
      subset = subset && found;
      X509_free(x);
    }
    CertCloseStore(root, 0);
    if (!subset) return Fail(kCryptENotFound);
    engine->roots.push_back(static_cast<TStore*>(CertDuplicateStore(restricted)));
  }
  for (DWORD i = 0; i < Config->cAdditionalStore; ++i) {
    TStore* s = StoreOf(Config->rghAdditionalStore[i]);
    if (s != nullptr) engine->additional.push_back(static_cast<TStore*>(CertDuplicateStore(s)));
  }
  *Engine = engine.release();
  return 1;
}

STANDIN_EXPORT void CertFreeCertificateChainEngine(HCERTCHAINENGINE Engine) {
  auto* engine = static_cast<TEngine*>(Engine);
  if (engine == nullptr) return;
  for (TStore* s : engine->roots) CloseStore(s);
  for (TStore* s : engine->additional) CloseStore(s);
  delete engine;
}

STANDIN_EXPORT BOOL CertGetCertificateChain(HCERTCHAINENGINE Engine, PCCERT_CONTEXT Cert, FILETIME_* Time,
                                            HCERTSTORE Additional, CERT_CHAIN_PARA* Para, DWORD Flags, void*,
                                            const CERT_CHAIN_CONTEXT** Chain) {
  if (Scripted("CertGetCertificateChain")) return 0;
  TCertElem* cert = CertOf(Cert);
  if (cert == nullptr || Chain == nullptr || Para == nullptr) return Fail(kErrorInvalidParameter);
  // Engine 0 and 1 are the default engines (current user, local machine): "ROOT" is trusted.
  const TEngine none;
  const TEngine* engine = reinterpret_cast<uintptr_t>(Engine) <= 1 ? &none : static_cast<const TEngine*>(Engine);
  HCERTSTORE root = engine->roots.empty() ? CertOpenSystemStoreA(0, "ROOT") : nullptr;
  std::vector<X509*> trusted = Certificates(engine->roots.empty() ? std::vector<TStore*>{StoreOf(root)} : engine->roots);
  std::vector<TStore*> extra = engine->additional;
  if (TStore* s = StoreOf(Additional)) extra.push_back(s);
  std::vector<X509*> others = Certificates(extra);
  std::vector<X509_CRL*> crls;
  if (Flags & kRevocationFlags) {
    for (TStore* s : engine->additional) {
      auto some = StoreCrls(s);
      crls.insert(crls.end(), some.begin(), some.end());
    }
    if (TStore* s = StoreOf(Additional)) {
      auto some = StoreCrls(s);
      crls.insert(crls.end(), some.begin(), some.end());
    }
  }
  auto* chain = new TChain{};
  chain->head.cbSize = sizeof(TChain);
  chain->head.TrustStatus.dwErrorStatus = ChainStatus(cert->x509, trusted, others, crls, Time, Flags);
  for (X509* x : trusted) X509_free(x);
  for (X509* x : others) X509_free(x);
  for (X509_CRL* c : crls) X509_CRL_free(c);
  if (root != nullptr) CertCloseStore(root, 0);
  *Chain = &chain->head;
  return 1;
}

STANDIN_EXPORT void CertFreeCertificateChain(const CERT_CHAIN_CONTEXT* Chain) {
  delete reinterpret_cast<const TChain*>(Chain);
}

}  // extern "C"
