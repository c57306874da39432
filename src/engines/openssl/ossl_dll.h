// The OpenSSL binding of one configuration (the five paths of OSSLSettings): its certificate
// model, its private-key cache, and the operations the engine builds its formats with. Bindings
// live in a process-wide cache until unload; engines with equal settings share one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engines/openssl/ossl_formats.h"
#include "engines/openssl/ossl_keycache.h"
#include "engines/openssl/ossl_model.h"
#include "frame/rwsyncs.h"

namespace zk::ossl {

class TOpenSSL_DLL : public TCrypto_DLL {
 public:
  explicit TOpenSSL_DLL(const OSSLSettings& Settings);
  const OSSLSettings& Settings() const { return settings_; }

  int32_t GetOwnUID(std::string& UID);
  // Runs an operation with a verified correspondent's public key: the key and the trusted store
  // are taken under the store lock, the chain check and the operation run without it.
  int32_t UseVerifiedKey(const std::string& UID, const TOSSLCertModel::KeyOperation& Operation);
  // Runs an operation with the own private key, taken under the key lock and used without it.
  int32_t UsePrivateKey(int32_t KeyTimeout, int32_t LastOpTimeout, const TOSSLKeyCache::KeyOperation& Operation);
  void ClearCache();

  // The RSA part of a signature of the data under the own key.
  int32_t SignBuffer(uint8_t HashId, const uint8_t* Data, size_t Len, int32_t KeyTimeout, int32_t LastOpTimeout,
                     std::vector<uint8_t>& RsaPart);
  // Verifies a parsed signature against the signer's verified certificate.
  int32_t VerifySign(const SignatureView& Signature, const uint8_t* Data, size_t Len);
  // Replaces the Len bytes of Data with their envelope for the recipients (EnvelopeLen bytes).
  // Refused with -25 when longer than Capacity; Data is changed only on success.
  int32_t EncryptBuffer(uint8_t* Data, size_t Len, const std::vector<std::string>& UIDs, uint32_t Cipher,
                        size_t Capacity, size_t& EnvelopeLen);
  // The plaintext of an envelope meant for the own UID, at Plain[PlainOffset, + PlainLen); Data is
  // not changed.
  int32_t DecryptBuffer(uint8_t* Data, int32_t Len, int32_t KeyTimeout, int32_t LastOpTimeout,
                        std::unique_ptr<uint8_t[]>& Plain, size_t& PlainOffset, size_t& PlainLen);

  // The certificate stock (directories on disk and the model that mirrors them).
  int32_t StoreAbonentCert(X509Cert* Cert, const std::string& UID);
  int32_t UpdateAbonent(const std::string& UID);
  int32_t RemoveAbonent(const std::string& UID);
  int32_t IncludeCrlFile(const std::string& FileName, X509Crl* Crl);
  // Empties the model and loads it again.
  int32_t ReloadModel();

  // Forget a list (the next use reloads it), for every binding that shares the directory.
  void DropAbonentsIfDir(const std::string& Dir);
  void DropCrlsIfDir(const std::string& Dir);

 private:
  // RecipientCount, Algorithm and one entry per recipient, the key block encrypted for each.
  int32_t BuildEnvelopeHeader(const std::vector<std::string>& UIDs, uint32_t Cipher, const uint8_t* KeyBlock,
                              std::vector<uint8_t>& Header);

  OSSLSettings settings_;
  // The store lock guards the model, the key lock the key cache; neither is held while two
  // bindings' locks would be, nor around RSA work or a chain check.
  TCriticalSection storeLock_;
  TOSSLCertModel model_;  // under storeLock_
  TCriticalSection keyLock_;
  TOSSLKeyCache keys_;  // under keyLock_
};

// The binding for these settings from the process-wide cache: 0, -65 (no library), -66 (a
// function missing).
int32_t GetCryptoAPI(const OSSLSettings& Settings, std::shared_ptr<TOpenSSL_DLL>& Binding);
// Every cached binding, for changes that concern all that share a directory.
std::vector<std::shared_ptr<TOpenSSL_DLL>> CachedBindings();

}  // namespace zk::ossl
