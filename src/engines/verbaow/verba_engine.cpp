#include "engines/verbaow/verba_engine.h"

#include <cctype>
#include <cstring>

#include "engines/verbaow/verba_codes.h"
#include "frame/cp1251.h"
#include "frame/errors.h"
#include "frame/fileutils.h"
#include "frame/rwsyncs.h"
#include "frame/textrules.h"

namespace zk {

using namespace verbaow;

namespace {

// Every toolkit call of every Verba-OW engine in the process runs under this lock: the toolkit's
// services and driver are one per process.
TCriticalSection& EngineLock() {
  static TCriticalSection lock;
  return lock;
}

constexpr size_t kKeyNumberDigits = 4;
// With the default addition of 255 bytes a caller's buffer holds the output for four recipients.
constexpr int32_t kMaxRecipients = (255 - kEncryptHeaderSize) / kEncryptItemSize;

// A key number of 1..9999: 0 would end the toolkit's zero-terminated list early.
bool ParseKeyNumber(const std::string& item, uint16_t& number) {
  const std::string digits = item.size() > kKeyNumberDigits ? item.substr(0, kKeyNumberDigits) : item;
  int32_t value = 0;
  if (!ParseInteger32(digits, value) || value < 1 || value > 9999) return false;
  number = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

TVerbaOW4Engine::TVerbaOW4Engine() {
  AddParam("Path to secret", "A:\\");
  AddParam("Path to public", "A:\\");
  AddParam("Key serial number", "");
  AddParam("Encode UID", "0001");
  AddParam("Sign UID", "000101");
  AddParam("Encrypt for key number", "0001");
  AddParam("Key device", "a:");
  AddParam("Key request time out", "60");
  AddParam("Last operation key time out", "5");
  AddParam("Use 0 slot for verify signature", "No");
  AddParam("Reset key in drv on start", "Yes");
  AddParam("Touch Memory Window Time Out", "5");
}

TVerbaOW4Engine::~TVerbaOW4Engine() {
  SectionLock hold(EngineLock());
  CloseCrypto();
  CloseSign();
  binding_.reset();
}

int32_t TVerbaOW4Engine::ReadKeySettings(KeySettings& S) const {
  if (!ParseTimeout(ParamValue(kRequestTimeout), 0, S.RequestTimeout) ||
      !ParseTimeout(ParamValue(kLastOpTimeout), 0, S.LastOpTimeout)) {
    return kErrTimeouts;
  }
  if (!ParseInteger32(ParamValue(kWindowTimeout), S.WindowTimeout)) S.WindowTimeout = 5;
  // Read before every operation: the host's words are converted once.
  static const std::string kNo = Utf8ToCp1251("НЕТ"), kYes = Utf8ToCp1251("Да");
  const std::string reset = UpperCase(ParamValue(kResetOnStart));
  S.KeepDriverKeys = reset == "NO" || reset == kNo;
  const std::string slotZero = ParamValue(kSlotZero);
  S.SlotZeroForVerify = slotZero == "Yes" || slotZero == kYes;
  return kOk;
}

int32_t TVerbaOW4Engine::EnsureBinding() {
  if (!binding_) {
    binding_ = std::make_unique<TVerbaODLL>();
    const int32_t code = !binding_->LibLoaded ? kErrLibraryMissing
                         : !binding_->FunctionsPresent ? kErrFunctionsMissing
                                                       : kOk;
    if (code != kOk) {
      binding_.reset();
      return code;
    }
  }
  binding_->PasswordRequestFunc = PasswordRequestFunc;
  binding_->TMRequestFunc = TMRequestFunc;
  return kOk;
}

int32_t TVerbaOW4Engine::PrepareKey(const std::string& KeyID, bool Mode, const KeySettings& S) {
  if (int32_t code = EnsureBinding()) return code;
  binding_->Device.Name = ParamValue(kKeyDevice);
  binding_->Device.WindowTimeout = S.WindowTimeout;
  return binding_->LoadKey(KeyID, Mode, S.KeepDriverKeys, S.RequestTimeout, S.LastOpTimeout);
}

int32_t TVerbaOW4Engine::OwnKeyNumber(uint16_t& Number) const {
  int32_t value = 0;
  const std::string own = ParamValue(kEncodeUID).substr(0, kKeyNumberDigits);
  if (!ParseInteger32(own, value) || value < 1 || value > 9999) return kErrEncodeUID;
  Number = static_cast<uint16_t>(value);
  return kOk;
}

int32_t TVerbaOW4Engine::RecipientNumbers(const char* RecipientUIDs, std::vector<uint16_t>& Numbers) const {
  const std::string text =
      Trim(RecipientUIDs != nullptr && RecipientUIDs[0] != '\0' ? RecipientUIDs : ParamValue(kRecipients));
  if (text.empty()) return kErrRecipients;
  std::vector<std::string> items;
  if (ParseSemicolonList(text.c_str(), items) < 1) return kErrRecipients;
  Numbers.clear();
  for (const std::string& item : items) {
    uint16_t number = 0;
    if (!ParseKeyNumber(item, number)) return kErrEncodeUID;
    Numbers.push_back(number);
  }
  // More recipients than the announced addition covers would write past the caller's buffer.
  if (Numbers.size() > static_cast<size_t>(kMaxRecipients)) return kErrRecipients;
  Numbers.push_back(0);
  return kOk;
}

std::string TVerbaOW4Engine::SecretPath() const { return ExpandRootDir(ParamValue(kSecretPath)); }
std::string TVerbaOW4Engine::PublicPath() const { return ExpandRootDir(ParamValue(kPublicPath)); }

int32_t TVerbaOW4Engine::OpenCryptoService() {
  if (cryptoOpen_) return kOk;
  const int32_t code = binding_->OpenCrypto(SecretPath(), PublicPath());
  cryptoOpen_ = code == kOk;
  return code;
}

int32_t TVerbaOW4Engine::OpenSignService() {
  if (signOpen_) return kOk;
  const int32_t code = binding_->OpenSign(SecretPath(), PublicPath());
  signOpen_ = code == kOk;
  return code;
}

void TVerbaOW4Engine::CloseCrypto() {
  if (cryptoOpen_ && binding_) binding_->CloseCrypto();
  cryptoOpen_ = false;
}

void TVerbaOW4Engine::CloseSign() {
  if (signOpen_ && binding_) binding_->CloseSign();
  signOpen_ = false;
}

void TVerbaOW4Engine::GetCryptoEngineType(char* TypeName) {
  Capture("TVerbaOW4Engine.GetCryptoEngineType: ", kErrException, [&] {
    ZK_REQUIRE_NOT_NULL(TypeName);
    std::memcpy(TypeName, "Verba-OW/4", sizeof("Verba-OW/4"));
    return kOk;
  });
}

int32_t TVerbaOW4Engine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID == nullptr || EncodeUID == nullptr) return kErrNullOrSize;
  const size_t length = std::strlen(SignUID);
  if (length < 9) return kErrSignUIDLength;
  const std::string encode(SignUID, length - 8);
  return CopyPCharLimited(encode.c_str(), EncodeUID, GetMaxUIDLength()) ? kOk : kErrCopy;
}

int32_t TVerbaOW4Engine::GetCurrentUID(char* UID) {
  return Capture("TVerbaOW4Engine.GetCurrentUID: ", kErrException, [&] {
    if (UID == nullptr) return kErrNullOrSize;
    CopyPCharLimited(ParamValue(kSignUID).c_str(), UID, GetMaxUIDLength());
    return kOk;
  });
}

void TVerbaOW4Engine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  const int32_t limit = GetMaxErrorStringLength();
  std::memset(ErrorText, 0, static_cast<size_t>(limit));
  if (const char* own = EngineText(ErrorCode)) {
    std::string text = Utf8ToCp1251(own);
    if (ErrorCode == kErrException) text += this->ErrorText.GetText();
    WriteErrorText(text, ErrorText);
    return;
  }
  SectionLock hold(EngineLock());
  if (EnsureBinding() == kOk) {
    binding_->GetErrorText(ErrorText, limit, ErrorCode);
  } else {
    WriteErrorText(Utf8ToCp1251("Невозможно получить информацию об ошибке. Криптоядро не проинициализировано."),
                   ErrorText);
  }
}

int32_t TVerbaOW4Engine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TVerbaOW4Engine.EncodeData: ", kErrException,
                 [&] { return DoEncodeData(Data, DataLen, RecipientUIDs); });
}

int32_t TVerbaOW4Engine::DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 1) return kErrNullOrSize;
  std::vector<uint16_t> recipients;
  uint16_t own = 0;
  KeySettings settings;
  if (int32_t code = RecipientNumbers(RecipientUIDs, recipients)) return code;
  if (int32_t code = OwnKeyNumber(own)) return code;
  if (int32_t code = ReadKeySettings(settings)) return code;
  const int64_t addition = kEncryptHeaderSize + kEncryptItemSize * static_cast<int64_t>(recipients.size() - 1);
  if (*DataLen + addition > INT32_MAX) return kErrNullOrSize;
  SectionLock hold(EngineLock());
  if (int32_t code = PrepareKey(ParamValue(kEncodeUID), true, settings)) return code;
  int32_t code = OpenCryptoService();
  if (code == kOk) {
    std::vector<uint8_t> block(static_cast<size_t>(*DataLen + addition));
    code = binding_->EncryptMemory(Data, *DataLen, block.data(), own, recipients, ParamValue(kKeySerial));
    if (code == kOk) {
      std::memcpy(Data, block.data(), block.size());
      *DataLen = static_cast<int32_t>(block.size());
    }
  }
  CloseCrypto();
  return code;
}

int32_t TVerbaOW4Engine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  return Capture("TVerbaOW4Engine.DecodeData: ", kErrException,
                 [&] { return DoDecodeData(Data, DataLen, SenderUID); });
}

int32_t TVerbaOW4Engine::DoDecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  if (Data == nullptr || DataLen == nullptr || SenderUID == nullptr || *DataLen < 1) return kErrNullOrSize;
  uint16_t own = 0;
  KeySettings settings;
  if (int32_t code = OwnKeyNumber(own)) return code;
  if (int32_t code = ReadKeySettings(settings)) return code;
  SectionLock hold(EngineLock());
  if (int32_t code = PrepareKey(ParamValue(kEncodeUID), false, settings)) return code;
  int32_t code = OpenCryptoService();
  if (code == kOk) {
    std::string sender;
    code = binding_->DecryptMemory(Data, *DataLen, sender, own);
    if (!sender.empty() && !WriteUID(sender, SenderUID, GetMaxUIDLength()) && code == kOk) code = kErrCopy;
  }
  CloseCrypto();
  return code;
}

int32_t TVerbaOW4Engine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                  const char* SignUID) {
  return Capture("TVerbaOW4Engine.SignData: ", kErrException, [&] {
    const std::string signer = SignUID != nullptr && SignUID[0] != '\0' ? SignUID : ParamValue(kSignUID);
    KeySettings settings;
    if (int32_t code = ReadKeySettings(settings)) return code;
    SectionLock hold(EngineLock());
    if (int32_t code = PrepareKey(ParamValue(kSignUID), false, settings)) return code;
    if (Data == nullptr || Signature == nullptr || SignatureLen == nullptr || DataLen < 1) return kErrNullOrSize;
    int32_t code = OpenSignService();
    if (code == kOk) {
      *SignatureLen = 0;
      std::vector<uint8_t> signature;
      code = binding_->SignMemory(Data, DataLen, signature, signer);
      // The toolkit signs into the binding's buffer; what does not fit the caller's is refused.
      if (code == kOk && signature.size() > static_cast<size_t>(GetMaxSignatureLength())) code = kErrNullOrSize;
      if (code == kOk) {
        std::memcpy(Signature, signature.data(), signature.size());
        *SignatureLen = static_cast<int32_t>(signature.size());
      }
    }
    CloseSign();
    return code;
  });
}

int32_t TVerbaOW4Engine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                    int32_t SignatureLen, char* SignerUID) {
  return Capture("TVerbaOW4Engine.VerifyData: ", kErrException, [&] {
    KeySettings settings;
    if (int32_t code = ReadKeySettings(settings)) return code;
    SectionLock hold(EngineLock());
    if (int32_t code = PrepareKey(ParamValue(kSignUID), settings.SlotZeroForVerify, settings)) return code;
    if (Data == nullptr || Signature == nullptr || SignerUID == nullptr || DataLen < 1 || SignatureLen < 1) {
      return kErrNullOrSize;
    }
    int32_t code = OpenSignService();
    if (code == kOk) {
      std::string signer;
      code = binding_->CheckSignature(Data, DataLen, Signature, SignatureLen, signer);
      if (code == kOk && !WriteUID(signer, SignerUID, GetMaxUIDLength())) code = kErrCopy;
    }
    CloseSign();
    return code;
  });
}

int32_t TVerbaOW4Engine::IncludePublicKey(const char* FileName) {
  return Capture("TVerbaOW4Engine.IncludePublicKey: ", kErrException, [&] {
    if (FileName == nullptr) return kErrNullOrSize;
    const std::string file = ExpandRootMacro(FileName);
    KeySettings settings;
    if (int32_t code = ReadKeySettings(settings)) return code;
    SectionLock hold(EngineLock());
    if (int32_t code = PrepareKey(ParamValue(kSignUID), true, settings)) return code;
    return binding_->AddPublicKey(file, PublicPath(), true, ParamValue(kSignUID));
  });
}

int32_t TVerbaOW4Engine::RemoveCertificate(const char* UID) {
  return Capture("TVerbaOW4Engine.RemoveCertificate: ", kErrException, [&] {
    if (UID == nullptr) return kErrNullOrSize;
    const std::string uid(UID);
    const bool signatureKey = uid.size() == kSignIDLength;
    if (uid.size() != kEncodeIDLength && !signatureKey) return kErrIdentifier;
    const std::string own = ParamValue(signatureKey ? kSignUID : kEncodeUID);
    if (uid == own) return kErrRemoveSelf;
    KeySettings settings;
    if (int32_t code = ReadKeySettings(settings)) return code;
    SectionLock hold(EngineLock());
    if (int32_t code = PrepareKey(own, settings.SlotZeroForVerify, settings)) return code;
    return binding_->DeletePublicKey(PublicPath(), own, signatureKey, uid);
  });
}

void TVerbaOW4Engine::ClearCash() {
  Capture("TVerbaOW4Engine.ClearCash: ", kErrException, [&] {
    TVerbaODLL::ForgetKeys();
    SectionLock hold(EngineLock());
    EnsureBinding();
    return kOk;
  });
}

}  // namespace zk
