// The certificate model of one configuration: the user's own certificate, the correspondents'
// certificates by UID, the trusted CA certificates and the CRLs, loaded lazily from the files and
// directories the settings name. Every method expects the caller to hold the binding's store
// lock, except VerifyLease, which is the part of an operation that runs without it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engines/openssl/ossl_objects.h"
#include "engines/openssl/ossl_verified.h"

namespace zk::ossl {

// The five paths an operation works with (already expanded).
struct OSSLSettings {
  std::string SecretKeyFile;
  std::string CertFile;
  std::string AbonentsDir;
  std::string CADir;
  std::string CRLDir;

  // Joined with a byte that no path contains, so that different settings never share a key.
  std::string CacheKey() const;
  bool operator==(const OSSLSettings& other) const { return CacheKey() == other.CacheKey(); }
};

// The UID that names the user's own certificate in lookups.
extern const char kSelfUserUID[];

class TOSSLCertModel {
 public:
  TOSSLCertModel() = default;
  ~TOSSLCertModel() { Clear(); }
  TOSSLCertModel(const TOSSLCertModel&) = delete;
  TOSSLCertModel& operator=(const TOSSLCertModel&) = delete;

  // Loads whatever is missing: the own certificate (again when the settings changed), the
  // correspondents, the CA certificates and the CRLs. Returns 0 or the own certificate's code.
  int32_t InitPublicKeyObjects(const OSSLSettings& Settings);
  using KeyOperation = std::function<int32_t(RsaKey* Key)>;

  // What an operation needs of one certificate of the model: taken under the lock, then used
  // without it. Its own references keep the certificate, the key and the trusted store alive
  // whatever the model drops meanwhile, so the operation sees the model as it was when it began.
  struct KeyLease {
    std::string UID;
    X509Ptr cert;
    SharedRsa key;
    SharedStore store;  // set when the chain must be checked: no remembered success holds
    uint64_t generation = 0;
    uint64_t takenAtMs = 0;
    bool revoked = false;  // by a CRL a trusted CA vouches for, when the lease was taken
  };
  // The lease of the certificate of UID (kSelfUserUID: the own one). The RSA key is kept with the
  // certificate, so that each use does not pay for extracting it; so is a successful chain check,
  // while it holds (ossl_verified.h). The CRL look-up runs every time. 0; -31 (no UID), -32
  // (unknown), -16 (no RSA key), or the own certificate's code.
  int32_t LeaseKey(const OSSLSettings& Settings, const std::string& UID, KeyLease& Lease);
  // The chain check of a lease whose store is set, without the lock: 0 or a verification code.
  static int32_t VerifyLease(const KeyLease& Lease, VerifiedChain& Verified);
  // Remembers a lease's successful check, unless its entry was replaced or the trusted lists
  // changed meanwhile.
  void RememberVerified(const KeyLease& Lease, const VerifiedChain& Verified);
  // A full check, nothing remembered: 0, -(200 + n) for OpenSSL verification error n, -56 when
  // revoked, -51 when unverifiable.
  int32_t VerifyCertificate(X509Cert* Cert);
  // The own UID (after InitPublicKeyObjects); 0 or the own certificate's code.
  int32_t OwnUID(const OSSLSettings& Settings, std::string& UID);
  // True when a CA certificate whose subject is the CRL's issuer verifies the CRL's signature.
  bool CrlSignedByCa(X509Crl* Crl) const;

  // Puts a correspondent's certificate in place of any with the same UID.
  void PutAbonent(const std::string& UID, X509Ptr Cert);
  // Empty a list so that the next operation reloads it from its directory.
  void DropAbonents();
  void DropCrls();
  void Clear();

  // Chain verifications run by every model of the process (remembered ones not counted), and a
  // replaceable monotonic millisecond clock for the age of remembered ones: for tests.
  static uint64_t ChainVerificationCount();
  using Clock = uint64_t (*)();
  static void SetClockForTesting(Clock clock);

 private:
  struct CertEntry {
    X509Ptr cert;
    SharedRsa key;            // taken from cert on first use
    VerifiedChain verified;   // starts unknown with every new entry
  };
  struct LoadedCrl {
    CrlPtr crl;
    bool signedByCa;  // only CRLs whose signature a trusted CA vouches for revoke anything
  };

  void LoadOwnCert(const OSSLSettings& Settings);
  void LoadAbonents(const std::string& Dir);
  void LoadCaCerts(const std::string& Dir);
  void LoadCrls(const std::string& Dir);
  // The trusted store, built on first need; never changed once built, so that operations can
  // verify against it without the lock.
  const SharedStore& Store();
  // Forgets the store and every remembered verification: the trusted lists changed.
  void TrustChanged();
  CertEntry* FindEntry(const std::string& UID);
  // The chain check alone; on success fills Verified's validity window when it can be read.
  static int32_t VerifyChain(X509Store* Store, X509Cert* Cert, VerifiedChain* Verified);
  bool IsRevoked(X509Cert* Cert) const;

  bool settingsCached_ = false;
  OSSLSettings cachedSettings_;
  CertEntry own_;
  std::string ownUID_;
  int32_t ownCertError_ = 0;
  bool abonentsLoaded_ = false;
  std::unordered_map<std::string, CertEntry> abonents_;  // keyed by upper-case UID
  bool caLoaded_ = false;
  std::vector<X509Ptr> caCerts_;
  bool crlsLoaded_ = false;
  std::vector<LoadedCrl> crls_;
  SharedStore store_;  // built from caCerts_ and crls_, dropped whenever they change
  uint64_t trustGeneration_ = 0;  // raised whenever caCerts_ or crls_ change
};

// Upper-cases ASCII letters: UIDs are compared ignoring case.
std::string UpperUID(const std::string& UID);

}  // namespace zk::ossl
