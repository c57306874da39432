// The CryptoAPI 2.0 binding: "advapi32.dll" and "crypt32.dll" loaded at run time, a provider
// chosen by name (with the Crypto-Pro fall-back), the in-memory model of the correspondents'
// certificates, the trusted CAs and the CRLs, the chain check, UID lookup, the private-key
// context cache, and detached PKCS#7 signatures and envelopes. One binding serves every engine
// whose settings give the same cache key (capi_registry.cpp).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engines/capi/capi_api.h"
#include "frame/keytimeouts.h"
#include "frame/strpair.h"
#include "frame/zexroot.h"

namespace zk::capi {

// Codes the binding produces itself; every other non-zero value is a system last error.
constexpr int32_t kErrException = 3;
constexpr int32_t kErrNoMemory = 5;
constexpr int32_t kErrFile = 6;
constexpr int32_t kErrCertificate = 7;
constexpr int32_t kErrNoProvider = 9;
constexpr int32_t kErrHash = 10;
constexpr int32_t kErrUnknownUID = 11;
constexpr int32_t kErrWriteCertificate = 14;
constexpr int32_t kErrReadCertificate = 15;
constexpr int32_t kErrNoUIDLocation = 20;
constexpr int32_t kErrBadArgument = 23;
constexpr int32_t kErrOwnUIDIncluded = 21;
constexpr int32_t kErrNoUserCert = 24;
constexpr int32_t kErrNoCADir = 27;
constexpr int32_t kErrNoAbonentDir = 28;
constexpr int32_t kErrNoEncryptUID = 29;
constexpr int32_t kErrNoUserCertFile = 30;
constexpr int32_t kErrNoOwnUID = 31;
constexpr int32_t kErrContainerLocation = 32;
constexpr int32_t kErrRemoveOwn = 33;
constexpr int32_t kErrCannotDecrypt = 36;
constexpr int32_t kErrNoCRLFile = 38;
constexpr int32_t kErrNoCRLDir = 39;
constexpr int32_t kErrCRLFile = 40;
constexpr int32_t kErrSignerUnknown = 47;
constexpr int32_t kErrNoSignerCert = 48;
constexpr int32_t kErrNotInMY = 57;
constexpr int32_t kErrNoContainerLink = 58;
constexpr int32_t kErrNoAdvapi32 = 62;
constexpr int32_t kErrNoCrypt32 = 63;
constexpr int32_t kErrFunctionsMissing = 64;

constexpr DWORD kCryptExists = 0x80092005;    // CRYPT_E_EXISTS
constexpr DWORD kCryptNotFound = 0x80092004;  // CRYPT_E_NOT_FOUND
constexpr size_t kMaxCertificateFile = 4096;
constexpr size_t kMaxHashOid = 63;

// The engine code of a chain's error status (0 when the chain is accepted).
int32_t ChainStatusCode(DWORD status);

// A last error by which the toolkit refuses bytes as no valid encoding (its ASN.1 decoding
// errors), as opposed to a failure of its own: only the first makes a file unreadable.
bool RefusedAsMalformed(uint32_t error);
// A failed find or enumeration that only ran out of matches.
bool NothingMoreFound(uint32_t error);

const CERT_EXTENSION* FindExtension(const CERT_INFO& Info, const char* Oid);
// The certificate report's block for the "CCERT" key location (capi_report_ccert.cpp).
std::string CcertReportBlock(const CERT_INFO& Info);

struct TVerificationSettings {
  std::string UIDLocationOID, ContainerLocation, CADir, UserCertFile, AbonentDir, CRLDir;
  bool AllowUnsignedCert = true;
  bool ChainRevocationCheck = false;
  bool CRLDirRevocationCheck = false;
  bool VerifyContextCache = false;
};

// The functions the operations call; the rest of the list is resolved for presence only.
struct TCapiFunctions {
  PFN_CryptAcquireContextA CryptAcquireContextA = nullptr;
  PFN_CryptEnumProvidersA CryptEnumProvidersA = nullptr;  // optional
  PFN_CryptContextAddRef CryptContextAddRef = nullptr;    // optional
  PFN_CryptReleaseContext CryptReleaseContext = nullptr;
  PFN_CryptGetUserKey CryptGetUserKey = nullptr;
  PFN_CryptExportKey CryptExportKey = nullptr;
  PFN_CryptImportKey CryptImportKey = nullptr;
  PFN_CryptDestroyKey CryptDestroyKey = nullptr;
  PFN_CertOpenStore CertOpenStore = nullptr;
  PFN_CertOpenSystemStoreA CertOpenSystemStoreA = nullptr;
  PFN_CertCloseStore CertCloseStore = nullptr;
  PFN_CertCreateCertificateContext CertCreateCertificateContext = nullptr;
  PFN_CertFreeCertificateContext CertFreeCertificateContext = nullptr;
  PFN_CertDuplicateCertificateContext CertDuplicateCertificateContext = nullptr;
  PFN_CertCreateCRLContext CertCreateCRLContext = nullptr;
  PFN_CertFreeCRLContext CertFreeCRLContext = nullptr;
  PFN_CertAddCertificateContextToStore CertAddCertificateContextToStore = nullptr;
  PFN_CertAddCRLContextToStore CertAddCRLContextToStore = nullptr;
  PFN_CertDeleteCertificateFromStore CertDeleteCertificateFromStore = nullptr;
  PFN_CertEnumCertificatesInStore CertEnumCertificatesInStore = nullptr;
  PFN_CertFindCertificateInStore CertFindCertificateInStore = nullptr;
  PFN_CertGetIntendedKeyUsage CertGetIntendedKeyUsage = nullptr;
  PFN_CertSetCertificateContextProperty CertSetCertificateContextProperty = nullptr;
  PFN_CertGetCertificateContextProperty CertGetCertificateContextProperty = nullptr;
  PFN_CertCreateCertificateChainEngine CertCreateCertificateChainEngine = nullptr;
  PFN_CertGetCertificateChain CertGetCertificateChain = nullptr;  // optional
  PFN_CertFreeCertificateChain CertFreeCertificateChain = nullptr;
  PFN_CertFreeCertificateChainEngine CertFreeCertificateChainEngine = nullptr;
  PFN_CryptSignMessage CryptSignMessage = nullptr;
  PFN_CryptVerifyDetachedMessageSignature CryptVerifyDetachedMessageSignature = nullptr;
  PFN_CryptGetMessageCertificates CryptGetMessageCertificates = nullptr;
  PFN_CryptEncryptMessage CryptEncryptMessage = nullptr;
  PFN_CryptMsgOpenToDecode CryptMsgOpenToDecode = nullptr;
  PFN_CryptMsgUpdate CryptMsgUpdate = nullptr;
  PFN_CryptMsgGetParam CryptMsgGetParam = nullptr;
  PFN_CryptMsgControl CryptMsgControl = nullptr;
  PFN_CryptMsgClose CryptMsgClose = nullptr;
  PFN_CryptFindOIDInfo CryptFindOIDInfo = nullptr;
  PFN_CryptEnumOIDInfo CryptEnumOIDInfo = nullptr;  // optional
};

// A certificate context freed with its binding's function when it goes out of scope.
class TCertRef {
 public:
  TCertRef() = default;
  TCertRef(const TCapiFunctions* Api, PCCERT_CONTEXT Cert) : api_(Api), cert_(Cert) {}
  ~TCertRef() { Reset(); }
  TCertRef(TCertRef&& other) noexcept : api_(other.api_), cert_(other.cert_) { other.cert_ = nullptr; }
  TCertRef& operator=(TCertRef&& other) noexcept;
  TCertRef(const TCertRef&) = delete;
  TCertRef& operator=(const TCertRef&) = delete;
  void Reset();
  PCCERT_CONTEXT Get() const { return cert_; }
  explicit operator bool() const { return cert_ != nullptr; }

 private:
  const TCapiFunctions* api_ = nullptr;
  PCCERT_CONTEXT cert_ = nullptr;
};

// The lookup the OID information lists serve: a name ending in ")" gives the text between the last
// "(" and it (a display name followed by its OID); else the OID paired with exactly that name in
// Info; else the name itself.
std::string NamedOID(const TStringPairList& Info, const std::string& Name);

class TCryptoAPI20_DLL : public TCrypto_DLL {
 public:
  explicit TCryptoAPI20_DLL(const std::string& ProviderName);
  ~TCryptoAPI20_DLL() override;
  TCryptoAPI20_DLL(const TCryptoAPI20_DLL&) = delete;
  TCryptoAPI20_DLL& operator=(const TCryptoAPI20_DLL&) = delete;

  bool Crypt32Loaded = false;
  // 0 when no installed provider has the configured name.
  uint32_t GetProviderType();

  int32_t GetCurrentUserUID(const TVerificationSettings& S, std::string& UID);
  int32_t SignBuffer(const uint8_t* Data, size_t Len, bool IncludeCert, int32_t KeyTimeout, int32_t LastOpTimeout,
                     const std::string& HashOID, const TVerificationSettings& S, std::vector<uint8_t>& Signature);
  // Mode: 0/1 the signer's UID, 2 the certificate report, 3 its certificate in PEM form.
  int32_t VerifySign(const uint8_t* Data, size_t Len, bool& NoSignerCert, std::string& ResultText, int Mode,
                     const TVerificationSettings& S, const uint8_t* Signature, size_t SignatureLen);
  int32_t EncryptBuffer(const uint8_t* Data, size_t Len, const std::string& RecipientUIDs,
                        const TVerificationSettings& S, const std::string& EncryptOID, std::vector<uint8_t>& Out);
  // The content replaces the envelope in Data; Len: the envelope's size in, the content's out.
  int32_t DecryptBuffer(uint8_t* Data, size_t& Len, const TVerificationSettings& S, int32_t KeyTimeout,
                        int32_t LastOpTimeout);
  void ClearCache();
  // Drops the certificate model only: the next operation builds it again from its sources.
  void DropStores();
  // Adds a CRL file to the CA store; the chain engine is made again so the next check sees it.
  int32_t AddCRLFile(const std::string& FileName, const TVerificationSettings& S);

  // The correspondents' certificates (capi_stock.cpp). A new certificate is checked against the
  // trusted CAs before anything changes; IncludeCertificate then puts it in place of every other
  // certificate of its UID (Name: its file, for the CA list). A failure there drops the stores, so
  // the next operation builds them again from the directory.
  int32_t CheckNewCertificate(PCCERT_CONTEXT Cert, const TVerificationSettings& S);
  int32_t IncludeCertificate(PCCERT_CONTEXT Cert, const std::string& Name, const TVerificationSettings& S);
  // Deletes every certificate whose UID is exactly UID (with "MY": from the system store).
  int32_t RemoveAbonentFromStore(const std::string& UID, const TVerificationSettings& S);
  // The text of the certificate report (capi_report.cpp).
  std::string CertificateReport(PCCERT_CONTEXT Cert, const TVerificationSettings& S);

  // NamedOID over the system's OID information of Group (hash or encryption algorithms), read
  // once per process (again while the system gave none).
  std::string NamedOID(DWORD Group, const std::string& Name);

  // Certificates and CRLs from files or bytes, DER or PEM. The Read forms tell a file that is
  // unreadable or no certificate (kErrReadCertificate; kErrCRLFile for CRLs), which is skipped
  // where a directory is read, from a failure of the toolkit (its last error), which is not.
  int32_t ReadCertificateFile(const std::string& FileName, TCertRef& Cert);
  int32_t ReadCertificate(const std::vector<uint8_t>& File, TCertRef& Cert);
  int32_t ReadCRLFile(const std::string& FileName, PCCRL_CONTEXT& Crl);
  TCertRef LoadCertificateFile(const std::string& FileName);
  TCertRef CertificateFromBytes(const std::vector<uint8_t>& File);
  std::string GetUIDFromCertContext(PCCERT_CONTEXT Cert, const std::string& UIDLocationOID) const;
  static std::string CertToPEM(PCCERT_CONTEXT Cert);

  const TCapiFunctions& Api() const { return api_; }

 private:
  void LoadModules();
  int32_t LastErrorCode(int32_t fallback = static_cast<int32_t>(kNteFail)) const;
  HCRYPTPROV StoreProvider() const { return providerType_ == 24 ? 0 : verifyProv_; }
  HCERTSTORE OpenMemoryStore();

  // Stores (capi_stores.cpp); callers hold storeLock_.
  int32_t InitPublicKeyObjects(const TVerificationSettings& S);
  void FreeStores();
  int32_t RegisterCA(const std::string& Name, PCCERT_CONTEXT Cert);
  int32_t RegisterAllCAs(HCERTSTORE Store, const std::string& Name);
  int32_t LoadCRLs(const TVerificationSettings& S);
  int32_t LoadCAs(const TVerificationSettings& S);
  int32_t LoadAbonents(const TVerificationSettings& S);
  int32_t AddNewer(HCERTSTORE Store, PCCERT_CONTEXT Cert, PCCRL_CONTEXT Crl);
  int32_t CreateChainEngine();
  int32_t FindCertificate(const TVerificationSettings& S, const std::string& UID, TCertRef& Cert);
  // 0 with Cert, kErrUnknownUID when nothing matches, or the toolkit's failure.
  int32_t FindBySerial(const std::string& Serial, TCertRef& Cert);
  int32_t FindBySubjectText(const std::string& UID, const std::string& UIDLocationOID, TCertRef& Cert);
  TCertRef FindByIssuerAndSerial(HCERTSTORE Store, const CERT_INFO& Info);
  int32_t VerifySingleCertInLocalStore(PCCERT_CONTEXT Cert, const TVerificationSettings& S);
  // The engine code of the chain of Cert, as it stands (0: accepted).
  int32_t ChainCheck(PCCERT_CONTEXT Cert, DWORD Flags);
  static DWORD ChainFlags(const TVerificationSettings& S);
  int32_t FindSigner(const TVerificationSettings& S, const CERT_INFO& Info, TCertRef& Signer);

  // Keys (capi_keys.cpp); callers hold keyLock_.
  int32_t GetKeyContainerNameStr(PCCERT_CONTEXT Cert, const TVerificationSettings& S, std::string& Name);
  int32_t LoadSignKeyInCash(PCCERT_CONTEXT Cert, int32_t KeyTimeout, int32_t LastOpTimeout,
                            const TVerificationSettings& S);
  void CreateVerContextWithSKey();
  // False (last error set) when the CryptoAPI refuses the reference: none was taken.
  bool AddRef(HCRYPTPROV Prov);
  void ReleaseRef(HCRYPTPROV Prov);
  void DropKey();

  // Messages (capi_messages.cpp).
  int32_t ResultTextFor(PCCERT_CONTEXT Cert, int Mode, const TVerificationSettings& S, std::string& Text);

  TCapiFunctions api_;
  platform::ModuleHandle advapi32_ = nullptr;
  platform::ModuleHandle crypt32_ = nullptr;
  std::string providerName_;
  uint32_t providerType_ = 0;
  HCRYPTPROV verifyProv_ = 0;

  std::recursive_mutex storeLock_;
  std::recursive_mutex keyLock_;
  bool storesBuilt_ = false;
  TVerificationSettings cached_;
  TCertRef userCert_;
  HCERTSTORE abonentStore_ = nullptr;
  bool abonentStoreIsSystemMY_ = false;
  HCERTSTORE caStoreDir_ = nullptr;
  HCERTSTORE caStore_ = nullptr;
  std::vector<std::pair<std::string, std::string>> serialIndex_;  // UID -> serial text
  bool useSerialIndex_ = false;
  std::vector<std::pair<std::string, TCertRef>> cas_;  // registered CA certificates by name
  HCERTCHAINENGINE chainEngine_ = nullptr;

  HCRYPTPROV keyProv_ = 0;
  std::string keyContainer_;
  TKeyTimeouts keyTimes_;
  std::vector<std::pair<HCRYPTPROV, int>> provRefCounts_;
};

}  // namespace zk::capi
