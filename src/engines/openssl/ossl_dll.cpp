#include "engines/openssl/ossl_dll.h"

#include <cstdint>
#include <cstring>

#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/ossl_locks.h"
#include "engines/openssl/ossl_random.h"
#include "frame/bindingregistry.h"
#include "frame/lefields.h"
#include "frame/secure.h"

namespace zk::ossl {

namespace {

// The bindings by settings.
TBindingRegistry<TOpenSSL_DLL>& Bindings() {
  static TBindingRegistry<TOpenSSL_DLL> registry;
  return registry;
}

}  // namespace

int32_t GetCryptoAPI(const OSSLSettings& Settings, std::shared_ptr<TOpenSSL_DLL>& Binding) {
  const TOpenSSLLibrary& library = TOpenSSLLibrary::Acquire();
  if (!library.LibLoaded) return kErrLibraryMissing;
  if (!library.FunctionsPresent) return kErrFunctionsMissing;
  // Whatever earlier calls on this thread left queued would be reported as this operation's error.
  TOpenSSLLibrary::Api().ERR_clear_error();
  auto create = [&](std::shared_ptr<TOpenSSL_DLL>& created) {
    created = std::make_shared<TOpenSSL_DLL>(Settings);
    return kOk;
  };
  return Bindings().Fetch(Settings.CacheKey(), create, Binding);
}

std::vector<std::shared_ptr<TOpenSSL_DLL>> CachedBindings() { return Bindings().All(); }

void PrepareAdapterStatics() {
  Bindings();
  OSSLRandomInstanceLock();
}

void FinalizeOpenSSLAdapter() {
  Bindings().Release();
  FinalizeOSSLRandom();
  TOpenSSLLibrary::Finalize();
}

TOpenSSL_DLL::TOpenSSL_DLL(const OSSLSettings& Settings) : settings_(Settings) {
  LibLoaded = true;
  FunctionsPresent = true;
}

int32_t TOpenSSL_DLL::GetOwnUID(std::string& UID) {
  SectionLock hold(storeLock_);
  return model_.OwnUID(settings_, UID);
}

int32_t TOpenSSL_DLL::UseVerifiedKey(const std::string& UID, const TOSSLCertModel::KeyOperation& Operation) {
  TOSSLCertModel::KeyLease lease;
  {
    SectionLock hold(storeLock_);
    const int32_t code = model_.LeaseKey(settings_, UID, lease);
    if (code != kOk) return code;
  }
  // The chain check and the RSA work run outside the lock, on the lease's own references.
  if (lease.store) {
    VerifiedChain verified;
    const int32_t code = TOSSLCertModel::VerifyLease(lease, verified);
    if (code != kOk) return code;
    SectionLock hold(storeLock_);
    model_.RememberVerified(lease, verified);
  }
  if (lease.revoked) return kErrRevoked;
  if (!lease.key) return kErrNoRsaPublicKey;
  return Operation(lease.key.get());
}

int32_t TOpenSSL_DLL::UsePrivateKey(int32_t KeyTimeout, int32_t LastOpTimeout,
                                    const TOSSLKeyCache::KeyOperation& Operation) {
  SharedRsa key;
  {
    SectionLock hold(keyLock_);
    const int32_t code = keys_.TakeKey(settings_.SecretKeyFile, KeyTimeout, LastOpTimeout, key);
    if (code != kOk) return code;
  }
  // The RSA work runs outside the lock, so that the engines of a process do not take turns; the
  // reference keeps the key alive should the cache drop it meanwhile.
  return Operation(key.get());
}

void TOpenSSL_DLL::ClearCache() {
  {
    SectionLock hold(storeLock_);
    model_.Clear();
  }
  SectionLock hold(keyLock_);
  keys_.Clear();
}

int32_t TOpenSSL_DLL::ReloadModel() {
  ClearCache();
  SectionLock hold(storeLock_);
  return model_.InitPublicKeyObjects(settings_);
}

int32_t TOpenSSL_DLL::SignBuffer(uint8_t HashId, const uint8_t* Data, size_t Len, int32_t KeyTimeout,
                                 int32_t LastOpTimeout, std::vector<uint8_t>& RsaPart) {
  const std::vector<uint8_t> digestInfo = DigestInfoOf(HashId, Data, Len);
  if (digestInfo.empty()) return kErrBadHashName;
  return UsePrivateKey(KeyTimeout, LastOpTimeout,
                       [&](RsaKey* key) { return RsaSignDigestInfo(key, digestInfo, RsaPart); });
}

int32_t TOpenSSL_DLL::VerifySign(const SignatureView& Signature, const uint8_t* Data, size_t Len) {
  const std::vector<uint8_t> digestInfo = DigestInfoOf(Signature.HashId, Data, Len);
  if (digestInfo.empty()) return kErrBadHashName;
  return UseVerifiedKey(Signature.UID, [&](RsaKey* key) {
    return RsaVerifyDigestInfo(key, Signature.RsaPart, Signature.RsaPartLen, digestInfo);
  });
}

int32_t TOpenSSL_DLL::EncryptBuffer(uint8_t* Data, size_t Len, const std::vector<std::string>& UIDs,
                                    uint32_t Cipher, size_t Capacity, size_t& EnvelopeLen) {
  SecureBytes keyBlock(kKeyBlockBytes);
  if (!OSSLRandom().RandomBytes(keyBlock.data(), static_cast<int32_t>(kSessionKeyBytes))) return kErrRandomNotSeeded;
  Md5Of(Data, Len, keyBlock.data() + kSessionKeyBytes);
  std::vector<uint8_t> header;
  const int32_t code = BuildEnvelopeHeader(UIDs, Cipher, keyBlock.data(), header);
  if (code != kOk) return code;
  const size_t cipherLen = CipherTextLength(Cipher, Len);
  // The caller's buffer holds Capacity bytes: a longer envelope is refused before anything is written.
  const uint64_t total = static_cast<uint64_t>(header.size()) + cipherLen + 4;
  if (total > Capacity || total > static_cast<uint64_t>(INT32_MAX)) return kErrBadPointer;

  // Nothing below can fail: the data is encrypted where the envelope wants it, behind the header.
  EncryptSession(Cipher, keyBlock.data(), Data, Len, Data + header.size());
  std::memcpy(Data, header.data(), header.size());
  const uint32_t headerLen = static_cast<uint32_t>(header.size());
  WriteLE32(Data + header.size() + cipherLen, headerLen);
  EnvelopeLen = static_cast<size_t>(total);
  return kOk;
}

int32_t TOpenSSL_DLL::BuildEnvelopeHeader(const std::vector<std::string>& UIDs, uint32_t Cipher,
                                          const uint8_t* KeyBlock, std::vector<uint8_t>& Header) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  AppendLE32(Header, static_cast<uint32_t>(UIDs.size()));
  AppendLE32(Header, Cipher);
  for (const std::string& uid : UIDs) {
    const int32_t code = UseVerifiedKey(uid, [&](RsaKey* key) -> int32_t {
      const int size = api.RSA_size(key);
      if (size <= 0) return kErrRsaEncryptSize;
      Header.insert(Header.end(), uid.begin(), uid.end());
      Header.push_back(0);
      AppendLE32(Header, static_cast<uint32_t>(size));
      const size_t at = Header.size();
      Header.resize(at + static_cast<size_t>(size));
      const int written =
          api.RSA_public_encrypt(static_cast<int>(kKeyBlockBytes), KeyBlock, Header.data() + at, key, kRsaPkcs1Padding);
      if (written < 0) return OpenSSLFailure(api.ERR_get_error(), kErrRsaEncryptSize);
      return written == size ? kOk : kErrRsaEncryptSize;
    });
    if (code != kOk) return code;
  }
  return kOk;
}

int32_t TOpenSSL_DLL::DecryptBuffer(uint8_t* Data, int32_t Len, int32_t KeyTimeout, int32_t LastOpTimeout,
                                    std::unique_ptr<uint8_t[]>& Plain, size_t& PlainOffset, size_t& PlainLen) {
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

  SecureBytes keyBlock;
  code = UsePrivateKey(KeyTimeout, LastOpTimeout, [&](RsaKey* key) -> int32_t {
    const int size = api.RSA_size(key);
    if (static_cast<int64_t>(own->KeyBlockLen) != size) return kErrWrongKeySize;
    keyBlock.Allocate(static_cast<size_t>(size));
    const int recovered = api.RSA_private_decrypt(size, own->KeyBlock, keyBlock.data(), key, kRsaPkcs1Padding);
    api.ERR_clear_error();
    return recovered == static_cast<int>(kKeyBlockBytes) ? kOk : kErrBadEnvelope;
  });
  if (code != kOk) return code;

  // The envelope stays as it was until the plaintext has proved intact. Every byte of the scratch
  // buffer is written by the decryption, so it is not zero-filled first.
  Plain.reset(new uint8_t[envelope.CipherTextLen > 0 ? envelope.CipherTextLen : 1]);
  code = DecryptSession(envelope.Cipher, keyBlock.data(), envelope.CipherText, Plain.get(), envelope.CipherTextLen,
                        PlainOffset, PlainLen);
  if (code != kOk) return code;
  uint8_t digest[kMd5Bytes];
  Md5Of(Plain.get() + PlainOffset, PlainLen, digest);
  if (!ConstantTimeEqual(digest, keyBlock.data() + kSessionKeyBytes, kMd5Bytes)) return kErrIntegrity;
  return kOk;
}

}  // namespace zk::ossl
