#include "engines/openssl/ossl_dll.h"

#include <cstdint>
#include <cstring>
#include <map>

#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/ossl_locks.h"
#include "engines/openssl/ossl_random.h"

namespace zk::ossl {

namespace {

using BindingCache = std::map<std::string, std::shared_ptr<TOpenSSL_DLL>>;

BindingCache& OSSLApiCache() {
  static BindingCache* cache = new BindingCache();  // emptied by FinalizeOpenSSLAdapter, never destroyed
  return *cache;
}

}  // namespace

TCriticalSection& OSSLApiCacheLock() {
  static TCriticalSection* lock = new TCriticalSection();  // outlives the exit-time finalisation
  return *lock;
}

TCriticalSection& OSSLStoreLock() {
  static TCriticalSection* lock = new TCriticalSection();  // outlives the exit-time finalisation
  return *lock;
}

TCriticalSection& OSSLKeyLock() {
  static TCriticalSection* lock = new TCriticalSection();  // outlives the exit-time finalisation
  return *lock;
}

int32_t GetCryptoAPI(const OSSLSettings& Settings, std::shared_ptr<TOpenSSL_DLL>& Binding) {
  const TOpenSSLLibrary& library = TOpenSSLLibrary::Acquire();
  if (!library.LibLoaded) return kErrLibraryMissing;
  if (!library.FunctionsPresent) return kErrFunctionsMissing;
  // Whatever earlier calls on this thread left queued would be reported as this operation's error.
  TOpenSSLLibrary::Api().ERR_clear_error();
  SectionLock hold(OSSLApiCacheLock());
  std::shared_ptr<TOpenSSL_DLL>& cached = OSSLApiCache()[Settings.CacheKey()];
  if (!cached) cached = std::make_shared<TOpenSSL_DLL>(Settings);
  Binding = cached;
  return kOk;
}

std::vector<std::shared_ptr<TOpenSSL_DLL>> CachedBindings() {
  SectionLock hold(OSSLApiCacheLock());
  std::vector<std::shared_ptr<TOpenSSL_DLL>> bindings;
  for (const auto& entry : OSSLApiCache()) bindings.push_back(entry.second);
  return bindings;
}

void FinalizeOpenSSLAdapter() {
  {
    BindingCache released;
    {
      SectionLock hold(OSSLApiCacheLock());
      released.swap(OSSLApiCache());
    }
  }
  FinalizeOSSLRandom();
  TOpenSSLLibrary::Finalize();
}

TOpenSSL_DLL::TOpenSSL_DLL(const OSSLSettings& Settings) : settings_(Settings) {
  LibLoaded = true;
  FunctionsPresent = true;
}

int32_t TOpenSSL_DLL::GetOwnUID(std::string& UID) {
  SectionLock hold(OSSLStoreLock());
  return model_.OwnUID(settings_, UID);
}

int32_t TOpenSSL_DLL::FindCertByUID(const std::string& UID, X509Ptr& Cert, bool Verify) {
  SectionLock hold(OSSLStoreLock());
  return model_.FindCertByUID(settings_, UID, Cert, Verify);
}

int32_t TOpenSSL_DLL::LoadPrivateKey(int32_t KeyTimeout, int32_t LastOpTimeout, PkeyPtr& Key) {
  SectionLock hold(OSSLKeyLock());
  return keys_.LoadPrivateKey(settings_.SecretKeyFile, KeyTimeout, LastOpTimeout, Key);
}

void TOpenSSL_DLL::ClearCache() {
  {
    SectionLock hold(OSSLStoreLock());
    model_.Clear();
  }
  SectionLock hold(OSSLKeyLock());
  keys_.Clear();
}

int32_t TOpenSSL_DLL::ReloadModel() {
  ClearCache();
  SectionLock hold(OSSLStoreLock());
  return model_.InitPublicKeyObjects(settings_);
}

int32_t TOpenSSL_DLL::SignBuffer(uint8_t HashId, const uint8_t* Data, size_t Len, int32_t KeyTimeout,
                                 int32_t LastOpTimeout, std::vector<uint8_t>& RsaPart) {
  const std::vector<uint8_t> digestInfo = DigestInfoOf(HashId, Data, Len);
  if (digestInfo.empty()) return kErrBadHashName;
  PkeyPtr key;
  const int32_t code = LoadPrivateKey(KeyTimeout, LastOpTimeout, key);
  if (code != kOk) return code;
  RsaPtr rsa(TOpenSSLLibrary::Api().EVP_PKEY_get1_RSA(key.get()));
  if (!rsa) return kErrRsaKeyBroken;
  return RsaSignDigestInfo(rsa.get(), digestInfo, RsaPart);
}

int32_t TOpenSSL_DLL::VerifySign(const SignatureView& Signature, const uint8_t* Data, size_t Len) {
  const std::vector<uint8_t> digestInfo = DigestInfoOf(Signature.HashId, Data, Len);
  if (digestInfo.empty()) return kErrBadHashName;
  X509Ptr cert;
  int32_t code = FindCertByUID(Signature.UID, cert, true);
  if (code != kOk) return code;
  RsaPtr rsa = CertRsaKey(cert.get());
  if (!rsa) return kErrNoRsaPublicKey;
  return RsaVerifyDigestInfo(rsa.get(), Signature.RsaPart, Signature.RsaPartLen, digestInfo);
}

int32_t TOpenSSL_DLL::RecipientKey(const std::string& UID, RsaPtr& Key) {
  X509Ptr cert;
  const int32_t code = FindCertByUID(UID, cert, true);
  if (code != kOk) return code;
  Key = CertRsaKey(cert.get());
  return Key ? kOk : kErrNoRsaPublicKey;
}

int32_t TOpenSSL_DLL::EncryptBuffer(const uint8_t* Data, size_t Len, const std::vector<std::string>& UIDs,
                                    uint32_t Cipher, size_t Capacity, std::vector<uint8_t>& Envelope) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  std::vector<RsaPtr> keys(UIDs.size());
  size_t headerLen = 8;
  for (size_t i = 0; i < UIDs.size(); ++i) {
    const int32_t code = RecipientKey(UIDs[i], keys[i]);
    if (code != kOk) return code;
    headerLen += EntryBytes(UIDs[i], static_cast<size_t>(api.RSA_size(keys[i].get())));
  }
  const size_t cipherLen = CipherTextLength(Cipher, Len);
  // The caller's buffer holds Capacity bytes: a longer envelope is refused before anything is written.
  const uint64_t total = static_cast<uint64_t>(headerLen) + cipherLen + 4;
  if (total > Capacity || total > static_cast<uint64_t>(INT32_MAX)) return kErrBadPointer;

  SecureBytes keyBlock(kKeyBlockBytes);
  if (!OSSLRandom().RandomBytes(keyBlock.data(), static_cast<int32_t>(kSessionKeyBytes))) return kErrRandomNotSeeded;
  Md5Of(Data, Len, keyBlock.data() + kSessionKeyBytes);

  Envelope.clear();
  Envelope.reserve(headerLen + cipherLen + 4);
  PutUint32(Envelope, static_cast<uint32_t>(UIDs.size()));
  PutUint32(Envelope, Cipher);
  for (size_t i = 0; i < UIDs.size(); ++i) {
    const int size = api.RSA_size(keys[i].get());
    Envelope.insert(Envelope.end(), UIDs[i].begin(), UIDs[i].end());
    Envelope.push_back(0);
    PutUint32(Envelope, static_cast<uint32_t>(size));
    const size_t at = Envelope.size();
    Envelope.resize(at + static_cast<size_t>(size));
    const int written = api.RSA_public_encrypt(static_cast<int>(kKeyBlockBytes), keyBlock.data(), Envelope.data() + at,
                                               keys[i].get(), kRsaPkcs1Padding);
    if (written < 0) return OpenSSLFailure(api.ERR_get_error(), kErrRsaEncryptSize);
    if (written != size) return kErrRsaEncryptSize;
  }
  Envelope.resize(headerLen + cipherLen);
  EncryptSession(Cipher, keyBlock.data(), Data, Len, Envelope.data() + headerLen);
  PutUint32(Envelope, static_cast<uint32_t>(headerLen));
  return kOk;
}

int32_t TOpenSSL_DLL::DecryptBuffer(uint8_t* Data, int32_t Len, int32_t KeyTimeout, int32_t LastOpTimeout,
                                    std::vector<uint8_t>& Plain, size_t& PlainOffset, size_t& PlainLen) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  std::string ownUID;
  int32_t code = GetOwnUID(ownUID);
  if (code != kOk) return code;
  EnvelopeView envelope;
  code = ParseEnvelope(Data, Len, envelope);
  if (code != kOk) return code;
  const EnvelopeEntryView* own = nullptr;
  for (const EnvelopeEntryView& entry : envelope.Entries) {
    if (UpperUID(entry.UID) == UpperUID(ownUID)) {
      own = &entry;
      break;
    }
  }
  if (own == nullptr) return kErrNotForUs;

  PkeyPtr key;
  code = LoadPrivateKey(KeyTimeout, LastOpTimeout, key);
  if (code != kOk) return code;
  RsaPtr rsa(api.EVP_PKEY_get1_RSA(key.get()));
  if (!rsa) return kErrRsaKeyBroken;
  const int size = api.RSA_size(rsa.get());
  if (static_cast<int64_t>(own->KeyBlockLen) != size) return kErrWrongKeySize;
  SecureBytes keyBlock(static_cast<size_t>(size));
  const int recovered = api.RSA_private_decrypt(size, own->KeyBlock, keyBlock.data(), rsa.get(), kRsaPkcs1Padding);
  api.ERR_clear_error();
  if (recovered != static_cast<int>(kKeyBlockBytes)) return kErrBadEnvelope;

  // The envelope stays as it was until the plaintext has proved intact.
  Plain.resize(envelope.CipherTextLen);
  code = DecryptSession(envelope.Cipher, keyBlock.data(), envelope.CipherText, Plain.data(), envelope.CipherTextLen,
                        PlainOffset, PlainLen);
  if (code != kOk) return code;
  uint8_t digest[kMd5Bytes];
  Md5Of(Plain.data() + PlainOffset, PlainLen, digest);
  if (std::memcmp(digest, keyBlock.data() + kSessionKeyBytes, kMd5Bytes) != 0) return kErrIntegrity;
  return kOk;
}

}  // namespace zk::ossl
