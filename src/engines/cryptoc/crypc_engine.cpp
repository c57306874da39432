#include "engines/cryptoc/crypc_engine.h"

#include <cstring>
#include <new>
#include <vector>

#include "engines/cryptoc/crypc_codes.h"
#include "engines/cryptoc/crypc_registry.h"
#include "frame/cp1251.h"
#include "frame/errors.h"
#include "frame/fileutils.h"
#include "frame/secure.h"
#include "frame/textrules.h"

namespace zk {

using namespace cryptoc;

namespace {

constexpr int32_t kMaxUIDLength = 254;
constexpr int32_t kMaxSignatureLength = kMaxUIDLength + 65;
constexpr int32_t kDefaultKeyTimeout = 60;
constexpr int32_t kDefaultLastOpTimeout = 5;

// A time-out in seconds: empty gives the default; negative values are not time-outs.
bool NonNegativeTimeout(const std::string& text, int32_t defaultValue, int32_t& value) {
  return ParseTimeout(text, defaultValue, value) && value >= 0;
}

}  // namespace

TCryptoCEngine::TCryptoCEngine() {
  AddParam("User PKey/Certificate", "A:\\self.pub");
  AddParam("User Secret key", "A:\\self.sec");
  AddParam("Abonents dir", "A:\\ABONENTS");
  AddParam("CA dir", "A:\\CA");
  AddParam("Encrypt Method", "1");
  AddParam("Encrypt for UID", "User1");
  AddParam("Key request time out", "60");
  AddParam("Last operation key time out", "5");
  AddParam("Key gen - GOST", "2001");
  AddParam("Key gen - UID", "User2");
  AddParam("Key gen - PKey filename", "A:\\new.pub");
  AddParam("Key gen - SKey filename", "A:\\new.sec");
  // Kept so that configurations that set it stay valid: signing always uses the standard digest,
  // and signatures over the compatibility digest are verified whatever its value (see Verify).
  AddParam("Hash method", "");
}

cryptoc::KeySettings TCryptoCEngine::KeySettings() const {
  cryptoc::KeySettings keys;
  keys.PublicKeyFile = ExpandRootMacro(ParamValue(kPublicKeyParam));
  keys.SecretKeyFile = ExpandRootMacro(ParamValue(kSecretKeyParam));
  keys.AbonentsDir = ExpandRootDir(ParamValue(kAbonentsDirParam));
  keys.CADir = ExpandRootDir(ParamValue(kCADirParam));
  return keys;
}

int32_t TCryptoCEngine::Prepare(Settings& S, TCryptoC_DLL*& Binding) const {
  S.Keys = KeySettings();
  if (!ParseInteger32(ParamValue(kMethodParam), S.Method) ||
      !NonNegativeTimeout(ParamValue(kKeyTimeoutParam), kDefaultKeyTimeout, S.KeyTimeout) ||
      !NonNegativeTimeout(ParamValue(kLastOpTimeoutParam), kDefaultLastOpTimeout, S.LastOpTimeout)) {
    return kErrBadNumber;
  }
  return FetchBinding(S.Keys, PasswordRequestFunc, Binding);
}

std::string TCryptoCEngine::Recipients(const char* RecipientUIDs) const {
  return RecipientUIDs != nullptr && RecipientUIDs[0] != '\0' ? std::string(RecipientUIDs)
                                                                : Trim(ParamValue(kRecipientParam));
}

int32_t TCryptoCEngine::WriteUID(const std::string& UID, char* Dst) {
  return zk::WriteUID(UID, Dst, GetMaxUIDLength()) ? kOk : kErrBadData;
}

void TCryptoCEngine::GetCryptoEngineType(char* TypeName) {
  Capture("TCryptoCEngine.GetCryptoEngineType: ", kErrException, [&] {
    ZK_REQUIRE_NOT_NULL(TypeName);
    std::memcpy(TypeName, "Crypto-C", sizeof("Crypto-C"));
    return kOk;
  });
}

int32_t TCryptoCEngine::GetMaxEncodeAddition() {
  return Capture("TCryptoCEngine.GetMaxEncodeAddition: ", -1, [&] {
    TCryptoC_DLL* binding = nullptr;
    return FetchBinding(KeySettings(), PasswordRequestFunc, binding) == kOk ? kMaxEncodeAddition : -1;
  });
}

int32_t TCryptoCEngine::GetMaxSignatureLength() { return kMaxSignatureLength; }
int32_t TCryptoCEngine::GetMaxUIDLength() { return kMaxUIDLength; }

int32_t TCryptoCEngine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  return Capture("TCryptoCEngine.GetEncodeUIDBySignUID: ", kErrException, [&] {
    if (SignUID == nullptr || EncodeUID == nullptr) return kErrBadData;
    return WriteUID(SignUID, EncodeUID);
  });
}

int32_t TCryptoCEngine::GetCurrentUID(char* UID) {
  return Capture("TCryptoCEngine.GetCurrentUID: ", kErrException, [&] {
    if (UID == nullptr) return kErrBadData;
    Settings settings;
    TCryptoC_DLL* binding = nullptr;
    std::string own;
    int32_t code = Prepare(settings, binding);
    if (code == kOk) code = binding->GetUID(own);
    return code == kOk ? WriteUID(own, UID) : code;
  });
}

void TCryptoCEngine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  const bool known = (ErrorCode >= 0 && ErrorCode <= 15) || (ErrorCode >= kErrPartialSignature && ErrorCode <= -1);
  const char* text = known ? CodeText(ErrorCode) : nullptr;
  std::string message = text != nullptr ? Utf8ToCp1251(text) : std::string();
  if (ErrorCode == kErrException) message += this->ErrorText.GetText();
  WriteErrorText(message, ErrorText);
}

int32_t TCryptoCEngine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                 const char* SignUID) {
  return Capture("TCryptoCEngine.SignData: ", kErrException, [&] {
    if (Data == nullptr || Signature == nullptr || SignatureLen == nullptr) return kErrBadData;
    Settings settings;
    TCryptoC_DLL* binding = nullptr;
    int32_t code = Prepare(settings, binding);
    if (code != kOk) return code;
    std::vector<uint8_t> block;
    // Always the standard digest: the compatibility digest leaves everything after the first
    // 65535 bytes unsigned. Every verifier tries the standard digest first, and up to 65535 bytes
    // the two are equal, so "Hash method" no longer changes what is produced.
    code = binding->Sign(Data, DataLen, false, settings.KeyTimeout, settings.LastOpTimeout, block);
    if (code != kOk) return code;
    if (block.size() > static_cast<size_t>(GetMaxSignatureLength())) return kErrBadData;
    std::memcpy(Signature, block.data(), block.size());
    *SignatureLen = static_cast<int32_t>(block.size());
    return kOk;
  });
}

int32_t TCryptoCEngine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                   int32_t SignatureLen, char* SignerUID) {
  return Capture("TCryptoCEngine.VerifyData: ", kErrException, [&] {
    if (SignerUID == nullptr || Data == nullptr) return kErrBadData;
    Settings settings;
    TCryptoC_DLL* binding = nullptr;
    int32_t code = Prepare(settings, binding);
    if (code != kOk) return code;
    std::string signer;
    code = binding->Verify(Data, DataLen, Signature, SignatureLen, signer);
    if (signer.empty()) return code;
    // The signer is reported whatever the verdict, but only when the caller's buffer holds it.
    const int32_t written = WriteUID(signer, SignerUID);
    return written != kOk ? written : code;
  });
}

int32_t TCryptoCEngine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TCryptoCEngine.EncodeData: ", kErrException, [&] {
    try {
      return DoEncodeData(Data, DataLen, RecipientUIDs);
    } catch (const std::bad_alloc&) {
      return kErrNoMemory;
    }
  });
}

int32_t TCryptoCEngine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  // SenderUID is not written: callers learn the sender from a signature.
  return Capture("TCryptoCEngine.DecodeData: ", kErrException, [&] {
    try {
      return DoDecodeData(Data, DataLen);
    } catch (const std::bad_alloc&) {
      return kErrNoMemory;
    }
  });
}

int32_t TCryptoCEngine::IncludePublicKey(const char* FileName) {
  return Capture("TCryptoCEngine.IncludePublicKey: ", kErrException, [&] {
    if (FileName == nullptr) return kErrBadData;
    Settings settings;
    TCryptoC_DLL* binding = nullptr;
    int32_t code = Prepare(settings, binding);
    if (code != kOk) return code;
    uint8_t image[kMaxPublicKeyFileSize];
    int32_t size = sizeof(image);
    if (!ReadFileToBuffer(ExpandRootMacro(FileName), image, size)) return kErrPublicKey;
    return binding->IncludePublicKey(image, size);
  });
}

void TCryptoCEngine::ClearCash() {
  Capture("TCryptoCEngine.ResetAllKeys: ", kErrException, [] {
    DropAllBindingKeys();
    return kOk;
  });
}

int32_t TCryptoCEngine::UpdateCertificateCash(const char* UID) {
  return Capture("TCryptoCEngine.UpdateCertificateCash: ", kErrException, [&] {
    if (UID == nullptr || UID[0] == '\0') return kErrEmptyUID;
    Settings settings;
    TCryptoC_DLL* binding = nullptr;
    const int32_t code = Prepare(settings, binding);
    return code != kOk ? code : binding->RefreshPublicKey(UID);
  });
}

int32_t TCryptoCEngine::RemoveCertificate(const char* UID) {
  return Capture("TCryptoCEngine.RemoveCertificate: ", kErrException, [&] {
    if (UID == nullptr || UID[0] == '\0') return kErrEmptyUID;
    Settings settings;
    TCryptoC_DLL* binding = nullptr;
    const int32_t code = Prepare(settings, binding);
    return code != kOk ? code : binding->RemovePublicKey(UID);
  });
}

}  // namespace zk
