#include "engines/openssl/ossl_engine.h"

#include <cstdint>
#include <cstring>

#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/ossl_random.h"
#include "frame/cp1251.h"
#include "frame/errors.h"
#include "frame/fileutils.h"
#include "frame/textrules.h"

namespace zk {

using namespace ossl;

namespace {

enum ParamIndex : size_t {
  kSecretKeyParam = 0,
  kCertParam = 1,
  kAbonentsDirParam = 2,
  kCADirParam = 3,
  kCRLDirParam = 4,
  kRandFileParam = 5,
  kHashParam = 6,
  kCipherParam = 7,
  kRecipientParam = 8,
  kKeyTimeoutParam = 9,
  kLastOpTimeoutParam = 10,
};

constexpr int32_t kMaxEncodeAddition = 1085;  // one recipient: 1061 + 24
constexpr int32_t kMaxSignatureLength = 1293;
constexpr int32_t kMaxUIDLength = 32;
constexpr int32_t kDefaultKeyTimeout = 60;
constexpr int32_t kDefaultLastOpTimeout = 5;
constexpr size_t kErrorStringBuffer = 256;

const char kGetCryptoAPIPrefix[] = "TOSSLEngine.GetCryptoAPI: ";
const char kNoCoreText[] = "Вывод сообщения невозможен: ошибка инициализации криптоядра.";
const char kVerifyTextPrefix[] = "Open SSL certificate verification error. ";

// A decimal time-out; empty gives the default, anything that is not a number -1.
int32_t TimeoutOrMinusOne(const std::string& text, int32_t defaultValue) {
  int32_t seconds = 0;
  return ParseTimeout(text, defaultValue, seconds) ? seconds : -1;
}

bool BadBuffer(const void* Data, int32_t Len) { return Len < 0 || (Data == nullptr && Len > 0); }

}  // namespace

TOSSLEngine::TOSSLEngine() {
  AddParam("User Secret key", "A:\\self.key");
  AddParam("User Certificate", "A:\\self.cer");
  AddParam("Abonents dir", "A:\\ABONENTS");
  AddParam("CA dir", "A:\\CA");
  AddParam("CRL dir", "A:\\CRL");
  AddParam("RND file", "A:\\@rand");
  AddParam("Hash Method", "SHA");
  AddParam("Encrypt Method", "RC4");
  AddParam("Encrypt for UID", "User1");
  AddParam("Key request time out", "60");
  AddParam("Last operation key time out", "5");
  AddParam("Key gen - Key Length", "1024");
  AddParam("Key gen - Common name", "User1");
  AddParam("Key gen - e-mail", "user1@example.com");
  AddParam("Key gen - Company", "ZEX");
  AddParam("Key gen - Department", "Development");
  AddParam("Key gen - City", "Moscow");
  AddParam("Key gen - State", "RU");
  AddParam("Key gen - Country/Region", "Russia");
  AddParam("Key gen - PKey filename", "A:\\new.req");
  AddParam("Key gen - SKey filename", "A:\\new.key");
}

void TOSSLEngine::GetCryptoEngineType(char* TypeName) {
  ZK_REQUIRE_NOT_NULL(TypeName);
  std::memcpy(TypeName, "OpenSSL", sizeof("OpenSSL"));
}

int32_t TOSSLEngine::GetMaxEncodeAddition() {
  try {
    Binding api;
    return GetCryptoAPI(api) == kOk ? kMaxEncodeAddition : -1;
  } catch (...) {
    return -1;
  }
}

int32_t TOSSLEngine::GetMaxSignatureLength() { return kMaxSignatureLength; }
int32_t TOSSLEngine::GetMaxUIDLength() { return kMaxUIDLength; }

OSSLSettings TOSSLEngine::Settings() const {
  OSSLSettings settings;
  settings.SecretKeyFile = ExpandRootMacro(ParamValue(kSecretKeyParam));
  settings.CertFile = ExpandRootMacro(ParamValue(kCertParam));
  settings.AbonentsDir = ExpandRootDir(ParamValue(kAbonentsDirParam));
  settings.CADir = ExpandRootDir(ParamValue(kCADirParam));
  settings.CRLDir = ExpandRootDir(ParamValue(kCRLDirParam));
  return settings;
}

int32_t TOSSLEngine::GetCryptoAPI(Binding& Api) const { return ossl::GetCryptoAPI(Settings(), Api); }

int32_t TOSSLEngine::TimeOuts(int32_t& KeyTimeout, int32_t& LastOpTimeout) const {
  KeyTimeout = TimeoutOrMinusOne(ParamValue(kKeyTimeoutParam), kDefaultKeyTimeout);
  LastOpTimeout = TimeoutOrMinusOne(ParamValue(kLastOpTimeoutParam), kDefaultLastOpTimeout);
  return KeyTimeout < 0 || LastOpTimeout < 0 ? kErrBadTimeout : kOk;
}

int32_t TOSSLEngine::RandomReady() const {
  return EnsureRandomReady(ExpandRootMacro(ParamValue(kRandFileParam)), Settings().SecretKeyFile);
}

int32_t TOSSLEngine::WriteUID(const std::string& UID, char* Dst) {
  return zk::WriteUID(UID, Dst, GetMaxUIDLength()) ? kOk : kErrNoSerial;
}

int32_t TOSSLEngine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID == nullptr || EncodeUID == nullptr) return kErrBadPointer;
  return zk::WriteUID(SignUID, EncodeUID, GetMaxUIDLength()) ? kOk : kErrBadUid;
}

int32_t TOSSLEngine::GetCurrentUID(char* UID) {
  if (UID == nullptr) return kErrBadPointer;
  return Capture(kGetCryptoAPIPrefix, kErrException, [&] {
    Binding api;
    std::string own;
    int32_t code = GetCryptoAPI(api);
    if (code == kOk) code = api->GetOwnUID(own);
    return code == kOk ? WriteUID(own, UID) : code;
  });
}

void TOSSLEngine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  const char* own = ErrorCode >= -250 && ErrorCode <= -1 ? OwnErrorText(ErrorCode) : nullptr;
  if (own != nullptr) {
    std::string text = Utf8ToCp1251(own);
    if (ErrorCode == kErrException) text += this->ErrorText.GetText();
    WriteErrorText(text, ErrorText);
    return;
  }
  Binding api;
  if (GetCryptoAPI(api) != kOk) {
    WriteErrorText(Utf8ToCp1251(kNoCoreText), ErrorText);
    return;
  }
  const OpenSSLApi& calls = TOpenSSLLibrary::Api();
  if (ErrorCode < kVerifyCodeBase && ErrorCode >= kVerifyCodeBase - 99) {
    // Verification errors newer than the table still get the library's own wording.
    const char* reason = calls.X509_verify_cert_error_string(kVerifyCodeBase - ErrorCode);
    WriteErrorText(std::string(kVerifyTextPrefix) + (reason ? reason : ""), ErrorText);
    return;
  }
  char buffer[kErrorStringBuffer] = {};
  calls.ERR_error_string_n(static_cast<uint32_t>(ErrorCode), buffer, sizeof(buffer));
  WriteErrorText(std::string("OpenSSL internal error: ") + buffer, ErrorText);
}

int32_t TOSSLEngine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                              const char* SignUID) {
  return Capture("TOSSLEngine.SignData: ", kErrException,
                 [&] { return DoSignData(Data, DataLen, Signature, SignatureLen); });
}

int32_t TOSSLEngine::DoSignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen) {
  if (Signature == nullptr || SignatureLen == nullptr || BadBuffer(Data, DataLen)) return kErrBadPointer;
  int32_t keyTimeout = 0, lastOpTimeout = 0;
  int32_t code = TimeOuts(keyTimeout, lastOpTimeout);
  if (code != kOk) return code;
  const uint8_t hashId = HashIdByName(ParamValue(kHashParam));
  if (hashId == 0) return kErrBadHashName;
  Binding api;
  if ((code = GetCryptoAPI(api)) != kOk || (code = RandomReady()) != kOk) return code;
  std::string uid;
  if ((code = api->GetOwnUID(uid)) != kOk) return code;
  // The UID goes into the signature only, which GetMaxSignatureLength bounds; however long the
  // serial, the signature is made.
  std::vector<uint8_t> rsaPart;
  code = api->SignBuffer(hashId, Data, static_cast<size_t>(DataLen), keyTimeout, lastOpTimeout, rsaPart);
  if (code != kOk) return code;
  const size_t total = uid.size() + 2 + rsaPart.size();
  if (total > static_cast<size_t>(GetMaxSignatureLength())) return kErrBadPointer;
  std::memcpy(Signature, uid.c_str(), uid.size() + 1);
  Signature[uid.size() + 1] = hashId;
  std::memcpy(Signature + uid.size() + 2, rsaPart.data(), rsaPart.size());
  *SignatureLen = static_cast<int32_t>(total);
  return kOk;
}

int32_t TOSSLEngine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature, int32_t SignatureLen,
                                char* SignerUID) {
  if (SignerUID == nullptr) return kErrBadPointer;
  return Capture("TOSSLEngine.VerifyData: ", kErrException,
                 [&] { return DoVerifyData(Data, DataLen, Signature, SignatureLen, SignerUID); });
}

int32_t TOSSLEngine::DoVerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                  int32_t SignatureLen, char* SignerUID) {
  if (BadBuffer(Data, DataLen)) return kErrBadPointer;
  Binding api;
  int32_t code = GetCryptoAPI(api);
  if (code != kOk || (code = RandomReady()) != kOk) return code;
  SignatureView signature;
  if ((code = ParseSignature(Signature, SignatureLen, signature)) != kOk) return code;
  if (signature.HashId != kHashSha && signature.HashId != kHashMd5) return kErrBadHashName;
  // A good signature whose signer's UID the caller's buffer cannot hold is refused by WriteUID.
  code = api->VerifySign(signature, Data, static_cast<size_t>(DataLen));
  return code == kOk ? WriteUID(signature.UID, SignerUID) : code;
}

int32_t TOSSLEngine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TOSSLEngine.EncodeData: ", kErrException, [&] { return DoEncodeData(Data, DataLen, RecipientUIDs); });
}

int32_t TOSSLEngine::DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0) return kErrBadPointer;
  const std::string recipients = RecipientUIDs != nullptr && RecipientUIDs[0] != '\0'
                                     ? std::string(RecipientUIDs)
                                     : Trim(ParamValue(kRecipientParam));
  if (recipients.empty()) return kErrBadRecipient;
  const uint32_t cipher = CipherIdByName(ParamValue(kCipherParam));
  // Callers know an unusable "Encrypt Method" by this code; -35 is kept for envelopes that name
  // an unknown algorithm.
  if (cipher == 0) return kErrBadRecipient;
  Binding api;
  int32_t code = GetCryptoAPI(api);
  if (code != kOk || (code = RandomReady()) != kOk) return code;
  std::vector<std::string> uids;
  if (ParseSemicolonList(recipients.c_str(), uids) < 1) return kErrBadRecipient;
  const size_t capacity = static_cast<size_t>(*DataLen) + kMaxEncodeAddition;
  size_t envelopeLen = 0;
  code = api->EncryptBuffer(Data, static_cast<size_t>(*DataLen), uids, cipher, capacity, envelopeLen);
  if (code != kOk) return code;
  *DataLen = static_cast<int32_t>(envelopeLen);
  return kOk;
}

int32_t TOSSLEngine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  return Capture("TOSSLEngine.DecodeData: ", kErrException, [&] {
    const int32_t code = DoDecodeData(Data, DataLen);
    // The envelope does not name its sender.
    if (code == kOk && SenderUID != nullptr) SenderUID[0] = '\0';
    return code;
  });
}

int32_t TOSSLEngine::DoDecodeData(uint8_t* Data, int32_t* DataLen) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0) return kErrBadPointer;
  int32_t keyTimeout = 0, lastOpTimeout = 0;
  int32_t code = TimeOuts(keyTimeout, lastOpTimeout);
  if (code != kOk) return code;
  Binding api;
  if ((code = GetCryptoAPI(api)) != kOk) return code;
  std::unique_ptr<uint8_t[]> plain;
  size_t offset = 0, length = 0;
  code = api->DecryptBuffer(Data, *DataLen, keyTimeout, lastOpTimeout, plain, offset, length);
  if (code != kOk) return code;
  if (length > 0) std::memcpy(Data, plain.get() + offset, length);
  *DataLen = static_cast<int32_t>(length);
  return kOk;
}

int32_t TOSSLEngine::IncludePublicKey(const char* FileName) {
  return Capture("TOSSLEngine.IncludePublicKey: ", kErrException, [&] { return DoIncludePublicKey(FileName); });
}

int32_t TOSSLEngine::DoIncludePublicKey(const char* FileName) {
  if (FileName == nullptr) return kErrBadPointer;
  const std::string file = ExpandRootMacro(FileName);
  Binding api;
  std::string own;
  int32_t code = GetCryptoAPI(api);
  if (code != kOk || (code = api->GetOwnUID(own)) != kOk) return code;
  X509Ptr cert;
  if ((code = LoadCertFile(file, cert)) != kOk) return code;
  const std::string uid = CertUID(cert.get());
  if (uid.empty()) return kErrNoSerial;
  if (UpperUID(uid) == UpperUID(own)) return kErrIncludeOwnCert;
  if ((code = api->StoreAbonentCert(cert.get(), uid)) != kOk) return code;
  for (const auto& other : CachedBindings()) other->DropAbonentsIfDir(api->Settings().AbonentsDir);
  return kOk;
}

void TOSSLEngine::ClearCash() {
  try {
    Binding api;
    if (GetCryptoAPI(api) == kOk) api->ClearCache();
  } catch (...) {
    // Nothing to report through a procedure; the next operation reloads what it needs.
  }
}

int32_t TOSSLEngine::UpdateCertificateCash(const char* UID) {
  return Capture("TOSSLEngine.UpdateCertificateCash: ", kErrException, [&] { return DoUpdateCertificateCash(UID); });
}

int32_t TOSSLEngine::DoUpdateCertificateCash(const char* UID) {
  if (UID == nullptr || UID[0] == '\0') return kErrBadUid;
  Binding api;
  std::string own;
  int32_t code = GetCryptoAPI(api);
  if (code != kOk || (code = api->GetOwnUID(own)) != kOk) return code;
  if (UpperUID(UID) == UpperUID(own)) return api->ReloadModel();
  return api->UpdateAbonent(UID);
}

int32_t TOSSLEngine::RemoveCertificate(const char* UID) {
  return Capture("TOSSLEngine.RemoveCertificate: ", kErrException, [&] { return DoRemoveCertificate(UID); });
}

int32_t TOSSLEngine::DoRemoveCertificate(const char* UID) {
  if (UID == nullptr || UID[0] == '\0') return kErrBadUid;
  Binding api;
  std::string own;
  int32_t code = GetCryptoAPI(api);
  if (code != kOk || (code = api->GetOwnUID(own)) != kOk) return code;
  if (UpperUID(UID) == UpperUID(own)) return kErrRemoveOwnCert;
  if ((code = api->RemoveAbonent(UID)) != kOk) return code;
  for (const auto& other : CachedBindings()) other->DropAbonentsIfDir(api->Settings().AbonentsDir);
  return kOk;
}

int32_t TOSSLEngine::IncludeCRL(const char* FileName) {
  return Capture("TOSSLEngine.IncludeCRL: ", kErrException, [&] { return DoIncludeCRL(FileName); });
}

int32_t TOSSLEngine::DoIncludeCRL(const char* FileName) {
  if (FileName == nullptr) return kErrBadPointer;
  const std::string file = ExpandRootMacro(FileName);
  Binding api;
  int32_t code = GetCryptoAPI(api);
  if (code != kOk) return code;
  CrlPtr crl;
  if ((code = LoadCrlFile(file, crl)) != kOk) return code;
  if ((code = api->IncludeCrlFile(file, crl.get())) != kOk) return code;
  for (const auto& other : CachedBindings()) other->DropCrlsIfDir(api->Settings().CRLDir);
  return kOk;
}

}  // namespace zk
