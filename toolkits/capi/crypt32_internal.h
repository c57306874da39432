// Inside the stand-in "crypt32.dll": certificate and CRL contexts, stores, and the helpers the
// message and chain code share. Contexts and stores are counted objects checked against a
// registry; their structure (membership, counts) changes under one lock, never the cryptography.
#pragma once

#include <openssl/x509.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "capi_standin.h"

namespace capistandin {

struct TStore;

// What a CERT_INFO points into.
struct TCertInfoData {
  std::vector<BYTE> serial, sigParams, issuer, subject, keyParams, publicKey;
  std::string sigOid, keyOid;
  std::vector<std::string> extOids;
  std::vector<std::vector<BYTE>> extValues;
  std::vector<CERT_EXTENSION> extensions;
};

// A certificate's decoding, shared by every context made from the same bytes: decoding again
// for each copy into a store or each context made from a file read again cost more than the
// calls themselves.
struct TDecodedCert {
  std::vector<BYTE> der;
  X509* x509 = nullptr;
  CERT_INFO info{};  // points into data
  TCertInfoData data;
  TDecodedCert() = default;
  TDecodedCert(const TDecodedCert&) = delete;
  TDecodedCert& operator=(const TDecodedCert&) = delete;
  ~TDecodedCert() { X509_free(x509); }
};

struct TCertElem {
  explicit TCertElem(std::shared_ptr<const TDecodedCert> d)
      : decoded(std::move(d)), info(decoded->info), der(decoded->der), x509(decoded->x509) {}
  std::shared_ptr<const TDecodedCert> decoded;  // first: the members below refer into it
  CERT_CONTEXT ctx{};
  CERT_INFO info;  // this context's own, as each context has one
  const std::vector<BYTE>& der;
  X509* const x509;
  std::map<DWORD, std::vector<BYTE>> props;  // KEY_PROV_INFO kept flat (see crypt32_certs.cpp)
  CERT_KEY_CONTEXT keyContext{};
  bool hasKeyContext = false;
  bool releaseKeyContext = false;
  long refs = 1;
  TStore* store = nullptr;
  std::string foldedSubject;  // for subject-string searches, made on first need
  uint64_t order = 0;         // when it was put into its store
};

// CRL_INFO as on Win32; the entries and extensions are not offered (cCRLEntry, cExtension 0).
struct TCrlInfo {
  DWORD dwVersion;
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CRYPT_BLOB Issuer;
  FILETIME_ ThisUpdate;
  FILETIME_ NextUpdate;
  DWORD cCRLEntry;
  void* rgCRLEntry;
  DWORD cExtension;
  CERT_EXTENSION* rgExtension;
};

struct TCrlElem {
  CRL_CONTEXT ctx{};
  TCrlInfo info{};
  std::vector<BYTE> der, issuer;
  std::string sigOid;
  X509_CRL* crl = nullptr;
  long refs = 1;
  TStore* store = nullptr;
};

struct TStore {
  std::vector<TCertElem*> certs;  // one reference each
  // Members by issuer and serial number, so that a store of many correspondents is searched at once.
  std::unordered_multimap<std::string, TCertElem*> byIssuerAndSerial;
  uint64_t added = 0;
  std::vector<TCrlElem*> crls;
  long handles = 1;
  long live = 0;          // contexts that name this store
  std::string directory;  // a system store's files, "" for a memory store
};

std::recursive_mutex& GraphLock();

// Registry look-ups (take GraphLock); null for anything not ours or already freed.
TCertElem* CertOf(PCCERT_CONTEXT cert);
TCrlElem* CrlOf(PCCRL_CONTEXT crl);
TStore* StoreOf(HCERTSTORE store);
// The public key (with a reference) when `info` is the CERT_INFO of a live certificate context.
EVP_PKEY* KnownPublicKey(const CERT_INFO* info);

// A new context (one reference) decoded from DER, belonging to `store` (may be null).
TCertElem* NewCert(const BYTE* der, DWORD len, TStore* store);
TCrlElem* NewCrl(const BYTE* der, DWORD len, TStore* store);
void ReleaseCert(TCertElem* cert);
void ReleaseCrl(TCrlElem* crl);
TStore* NewStore(const std::string& directory);
void CloseStore(TStore* store);
// The key of byIssuerAndSerial; putting a member into a store and taking it out (GraphLock held).
std::string IssuerSerialKey(const CERT_INFO& info);
void AddMember(TStore* store, TCertElem* cert);
void DropMember(TStore* store, TCertElem* cert);
// Adds a copy of `cert` (its properties with it) to `store`; the copy, with a reference.
TCertElem* AddCopy(TStore* store, TCertElem* cert);
// All certificates or CRLs of a store, each X509 with a reference the caller frees.
std::vector<X509*> StoreCertificates(TStore* store);
std::vector<X509_CRL*> StoreCrls(TStore* store);

// The key attached to a certificate (KEY_CONTEXT, else KEY_PROV_INFO), with a reference.
EVP_PKEY* CertPrivateKey(TCertElem* cert);
bool SameIssuerAndSerial(const CERT_INFO& a, const CERT_INFO& b);

std::string OidText(const ASN1_OBJECT* obj);
void FillCertInfo(X509* x509, CERT_INFO& info, TCertInfoData& data);
FILETIME_ ToFileTime(const ASN1_TIME* time);
// Little-endian serial number bytes, as CERT_INFO carries them.
std::vector<BYTE> SerialBytes(const ASN1_INTEGER* serial);
std::vector<BYTE> NameBytes(const X509_NAME* name);

// Output of a variable-size result with the CryptoAPI's size rules: a null buffer asks the size,
// a short one fails with ERROR_MORE_DATA (the size given either way).
BOOL GiveBytes(const std::vector<BYTE>& bytes, void* out, DWORD* outLen);

// Persisting a system store's members ("<sha1>.cer" and its ".prov" side file).
void PersistAdd(TStore* store, TCertElem* cert);
void PersistRemove(TStore* store, TCertElem* cert);
void PersistProvInfo(TCertElem* cert);

}  // namespace capistandin
