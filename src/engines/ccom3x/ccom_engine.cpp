#include "engines/ccom3x/ccom_engine.h"

#include <algorithm>
#include <cstring>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_envelope.h"
#include "frame/errors.h"
#include "frame/fileutils.h"
#include "frame/textrules.h"

namespace zk {

using namespace ccom3x;

namespace {

enum ParamIndex : size_t {
  kPublicKeyParam = 0,
  kSecretKeyParam = 1,
  kKeyDeviceParam = 2,
  kAbonentsDirParam = 3,
  kEncryptMethodParam = 4,
  kRecipientParam = 5,
  kKeyTimeoutParam = 6,
  kLastOpTimeoutParam = 7,
};

const char kEngineType[] = "CryptoCom 32x";
constexpr int32_t kMaxUIDLength = 255;
constexpr int32_t kMaxSignatureLength = kMaxUIDLength + kSignatureSize;
constexpr int32_t kDefaultKeyTimeout = 60;
constexpr int32_t kDefaultLastOpTimeout = 5;

const char kGetCryptoAPIPrefix[] = "TCryptoCom3xEngine.GetCryptoAPI: ";

// A value that is no integer, as a host reads it in the stored error text.
class EConvertError : public Exception {
 public:
  explicit EConvertError(const std::string& text) : Exception("'" + text + "' is not a valid integer value") {}
  const char* ClassName() const override { return "EConvertError"; }
};

// Decimal seconds; empty gives the default, anything else that is no 32-bit integer raises.
int32_t ParseSeconds(const std::string& text, int32_t defaultValue) {
  int32_t seconds = 0;
  if (!ParseTimeout(text, defaultValue, seconds)) throw EConvertError(text);
  return seconds;
}

// "GAMMA" is method 1, "GFB" method 2 (ASCII letters compared upper-cased); 0 for anything else.
uint32_t MethodByName(const std::string& name) {
  const std::string upper = UpperCase(name);
  if (upper == "GAMMA") return static_cast<uint32_t>(CipherMethod::kGamma);
  if (upper == "GFB") return static_cast<uint32_t>(CipherMethod::kGammaFeedback);
  return 0;
}

}  // namespace

TCryptoCom3xEngine::TCryptoCom3xEngine() {
  AddParam("User PKey/Certificate", "A:\\self.pub");
  AddParam("User Secret key", "A:\\");
  AddParam("Key Device", "DISK");
  AddParam("Abonents dir", "A:\\ABONENTS");
  AddParam("Encrypt Method", "GAMMA");
  AddParam("Encrypt for UID", "NewUser");
  AddParam("Key request time out", "60");
  AddParam("Last operation key time out", "5");
  AddParam("Key gen - UID", "NewUserUID");
  AddParam("Key gen - Common name", "NewUser");
  AddParam("Key gen - Country/Region", "RU");
  AddParam("Key gen - State", "Moscow region");
  AddParam("Key gen - City", "Moscow");
  AddParam("Key gen - Company", "NewUser Company");
  AddParam("Key gen - Department", "NewUser Department");
  AddParam("Key gen - Title", "NewUser Title");
  AddParam("Key gen - e-mail", "NewUser e-mail");
  AddParam("Key gen - PKey filename", "A:\\new.pub");
  AddParam("Key gen - SKey", "A:\\");
  AddParam("Key gen - Key device", "DISK");
}

void TCryptoCom3xEngine::GetCryptoEngineType(char* TypeName) {
  ZK_REQUIRE_NOT_NULL(TypeName);
  std::memcpy(TypeName, kEngineType, sizeof kEngineType);
}

int32_t TCryptoCom3xEngine::GetMaxSignatureLength() { return kMaxSignatureLength; }
int32_t TCryptoCom3xEngine::GetMaxUIDLength() { return kMaxUIDLength; }

TCCom3x_UserParam TCryptoCom3xEngine::Settings() const {
  TCCom3x_UserParam p;
  p.PublicKeyFile = ExpandRootMacro(ParamValue(kPublicKeyParam));
  p.SecretKeyDir = ExpandRootDir(ParamValue(kSecretKeyParam));
  p.KeyDevice = UpperCase(ParamValue(kKeyDeviceParam));
  p.AbonentsDir = ExpandRootDir(ParamValue(kAbonentsDirParam));
  p.KeyTimeout = ParseSeconds(ParamValue(kKeyTimeoutParam), kDefaultKeyTimeout);
  p.LastOpTimeout = ParseSeconds(ParamValue(kLastOpTimeoutParam), kDefaultLastOpTimeout);
  p.PasswordRequest = PasswordRequestFunc;
  return p;
}

int32_t TCryptoCom3xEngine::GetCryptoAPI(TCCom3x_UserParam& P, Binding& Api) {
  return Capture(kGetCryptoAPIPrefix, kErrException, [&]() -> int32_t {
    P = Settings();
    return ccom3x::GetCryptoAPI(P, Api);
  });
}

int32_t TCryptoCom3xEngine::Run(const char* prefix,
                                const std::function<int32_t(const TCCom3x_UserParam&, Binding&)>& body) {
  TCCom3x_UserParam p;
  Binding api;
  const int32_t code = GetCryptoAPI(p, api);
  if (code != kOk) return code;
  return Capture(prefix, kErrException, [&] { return body(p, api); });
}

void TCryptoCom3xEngine::DirectoryChanged(const Binding& Changed) {
  const std::string dir = UpperCase(Changed->AbonentsDir());
  for (const Binding& other : RegisteredBindings()) {
    if (other != Changed && UpperCase(other->AbonentsDir()) == dir) other->DropPublicKeyCache();
  }
}

int32_t TCryptoCom3xEngine::GetMaxEncodeAddition() {
  return Run("TCryptoCom3xEngine.GetMaxEncodeAddition: ",
             [](const TCCom3x_UserParam&, Binding&) -> int32_t { return kMaxEncodeAddition; });
}

int32_t TCryptoCom3xEngine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID == nullptr || EncodeUID == nullptr) return kErrBadPointer;
  return WriteUID(SignUID, EncodeUID, kMaxUIDLength) ? kOk : kErrBadPointer;
}

int32_t TCryptoCom3xEngine::GetCurrentUID(char* UID) {
  if (UID == nullptr) return kErrBadPointer;
  return Run("TCryptoCom3xEngine.GetCurrentUID: ", [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t {
    std::string own;
    const int32_t code = api->OwnUID(p, own);
    if (code == kOk) CopyPCharLimited(own.c_str(), UID, kMaxUIDLength);
    return code;
  });
}

void TCryptoCom3xEngine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  std::string text = ErrorTextOf(ErrorCode);
  if (ErrorCode == kErrException) text += this->ErrorText.GetText();
  WriteErrorText(text, ErrorText);
}

int32_t TCryptoCom3xEngine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0) return kErrBadPointer;
  return Run("TCryptoCom3xEngine.EncodeData: ", [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t {
    return DoEncodeData(p, api, Data, DataLen, RecipientUIDs);
  });
}

int32_t TCryptoCom3xEngine::DoEncodeData(const TCCom3x_UserParam& P, Binding& Api, uint8_t* Data, int32_t* DataLen,
                                         const char* RecipientUIDs) {
  const std::string recipients = RecipientUIDs != nullptr ? RecipientUIDs : ParamValue(kRecipientParam);
  if (recipients.empty()) return kErrBadPointer;
  const uint32_t method = MethodByName(ParamValue(kEncryptMethodParam));
  if (method == 0) return kErrBadMethod;
  std::vector<std::string> uids;
  if (ParseSemicolonList(recipients.c_str(), uids) < 1) return kErrBadRecipients;
  // The caller's buffer has room for GetMaxEncodeAddition more bytes: 100 entries of UIDs of
  // at most 254 characters. A longer list, a longer or an empty UID is refused before anything
  // is written.
  if (uids.size() > kMaxRecipients) return kErrBadRecipients;
  for (const std::string& uid : uids) {
    if (uid.empty() || uid.size() > kMaxUIDChars) return kErrBadRecipients;
  }
  const size_t len = static_cast<size_t>(*DataLen);
  std::vector<uint8_t> envelope;
  const int32_t code = Api->Encrypt(P, static_cast<CipherMethod>(method), uids, Data, len, envelope);
  if (code != kOk) return code;
  if (envelope.size() > len + kMaxEncodeAddition || envelope.size() > static_cast<size_t>(INT32_MAX))
    return kErrBadPointer;
  std::memcpy(Data, envelope.data(), envelope.size());
  *DataLen = static_cast<int32_t>(envelope.size());
  return kOk;
}

int32_t TCryptoCom3xEngine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0) return kErrBadPointer;
  return Run("TCryptoCom3xEngine.DecodeData: ", [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t {
    SecureBytes plain;
    const int32_t code = api->Decrypt(p, Data, static_cast<size_t>(*DataLen), plain);
    if (code != kOk) return code;
    // The envelope stays as it was until the plaintext has proved intact.
    if (!plain.empty()) std::memcpy(Data, plain.data(), plain.size());
    *DataLen = static_cast<int32_t>(plain.size());
    return kOk;
  });
}

int32_t TCryptoCom3xEngine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                     const char* SignUID) {
  if (Data == nullptr || DataLen < 0 || Signature == nullptr || SignatureLen == nullptr) return kErrBadPointer;
  return Run("TCryptoCom3xEngine.SignData: ", [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t {
    std::vector<uint8_t> block;
    const int32_t code = api->Sign(p, Data, static_cast<size_t>(DataLen), block);
    if (code != kOk) return code;
    if (block.size() > static_cast<size_t>(kMaxSignatureLength)) return kErrBadPointer;
    std::memcpy(Signature, block.data(), block.size());
    *SignatureLen = static_cast<int32_t>(block.size());
    return kOk;
  });
}

int32_t TCryptoCom3xEngine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                       int32_t SignatureLen, char* SignerUID) {
  if (Data == nullptr || DataLen < 0 || Signature == nullptr || SignerUID == nullptr) return kErrBadPointer;
  return Run("TCryptoCom3xEngine.VerifyData: ", [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t {
    if (SignatureLen < 0) return kErrBadSignatureFormat;
    std::string signer;
    const uint8_t* value = nullptr;
    const int32_t code = ParseSignature(Signature, static_cast<size_t>(SignatureLen), signer, value);
    if (code != kOk) return code;
    CopyPCharLimited(signer.c_str(), SignerUID, kMaxUIDLength);
    return api->Verify(p, signer, Data, static_cast<size_t>(DataLen), value);
  });
}

int32_t TCryptoCom3xEngine::IncludePublicKey(const char* FileName) {
  if (FileName == nullptr) return kErrBadPointer;
  return Run("TCryptoCom3xEngine.IncludePublicKey: ", [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t {
    const int32_t code = api->IncludePublicKey(p, ExpandRootMacro(FileName));
    if (code == kOk) DirectoryChanged(api);
    return code;
  });
}

void TCryptoCom3xEngine::ClearCash() {
  Capture("TCryptoCom3xEngine.ResetAllKeys: ", kErrException, [] {
    for (const Binding& binding : RegisteredBindings()) binding->DropKeys();
    return kOk;
  });
}

int32_t TCryptoCom3xEngine::UpdateCertificateCash(const char* UID) {
  if (UID == nullptr || UID[0] == '\0') return kErrBadPointer;
  return Run("TCryptoCom3xEngine.UpdateCertificateCash: ",
             [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t { return api->RefreshPublicKey(p, UID); });
}

int32_t TCryptoCom3xEngine::RemoveCertificate(const char* UID) {
  if (UID == nullptr || UID[0] == '\0') return kErrBadPointer;
  return Run("TCryptoCom3xEngine.RemoveCertificate: ", [&](const TCCom3x_UserParam& p, Binding& api) -> int32_t {
    const int32_t code = api->RemovePublicKey(p, UID);
    if (code == kOk) DirectoryChanged(api);
    return code;
  });
}

}  // namespace zk
