#include "engines/openssl/ossl_keycache.h"

#include <vector>

#include "engines/openssl/ossl_codes.h"
#include "frame/mimecode.h"
#include "platform/platform.h"

namespace zk::ossl {

namespace {

constexpr size_t kMaxKeyFileBytes = 2048;

}  // namespace

int32_t TOSSLKeyCache::ReadKeyFile(const std::string& SecretKeyFile) {
  SecureBytes text;
  {
    std::vector<uint8_t> file;
    if (!ReadFileHead(SecretKeyFile, kMaxKeyFileBytes, file)) return kErrFileIo;
    text.Assign(file.data(), file.size());
    SecureWipe(file.data(), file.size());
  }
  // Line breaks ("\r\n" or "\n") are not part of the Base64 text.
  size_t kept = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool crlf = text.data()[i] == '\r' && i + 1 < text.size() && text.data()[i + 1] == '\n';
    if (crlf || text.data()[i] == '\n') continue;
    text.data()[kept++] = text.data()[i];
  }
  uint8_t* der = nullptr;
  int32_t derLen = 0;
  MimeDecode(text.data(), static_cast<int32_t>(kept), &der, &derLen);
  if (der == nullptr) return kErrKeyFileFormat;
  KeyData_.Assign(der, static_cast<size_t>(derLen));
  SecureWipe(der, static_cast<size_t>(derLen));
  MimeFree(der);
  KeyFileName_ = SecretKeyFile;
  return kOk;
}

int32_t TOSSLKeyCache::TakeKey(const std::string& SecretKeyFile, int32_t KeyTimeout, int32_t LastOpTimeout,
                               SharedRsa& Key) {
  if (SecretKeyFile.empty()) return kErrNoKeyFile;
  const uint64_t now = TKeyTimeouts::Now();
  if (!KeyData_.empty() && (KeyFileName_ != SecretKeyFile || Timeouts_.Expired(KeyTimeout, LastOpTimeout, now))) Clear();
  if (KeyData_.empty()) {
    const int32_t code = ReadKeyFile(SecretKeyFile);
    if (code != kOk) return code;
    Timeouts_.Loaded(KeyTimeout, now);
  }
  if (!Key_) {
    const int32_t code = ParseKey();
    if (code != kOk) {
      Clear();
      return code;
    }
  }
  Timeouts_.Used(LastOpTimeout, now);
  Key = Key_;
  return kOk;
}

int32_t TOSSLKeyCache::ParseKey() {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const unsigned char* cursor = KeyData_.data();
  PkeyPtr key(api.d2i_PrivateKey(kEvpPkeyRsa, nullptr, &cursor, static_cast<long>(KeyData_.size())));
  if (!key) {
    api.ERR_clear_error();
    return kErrKeyFileFormat;
  }
  Key_ = Shared(RsaPtr(api.EVP_PKEY_get1_RSA(key.get())));
  api.ERR_clear_error();
  return Key_ ? kOk : kErrRsaKeyBroken;
}

void TOSSLKeyCache::Clear() {
  Key_.reset();
  KeyData_.Clear();
  KeyFileName_.clear();
  Timeouts_.Reset();
}

}  // namespace zk::ossl
