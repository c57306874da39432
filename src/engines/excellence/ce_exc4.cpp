// Construction, settings, the binding, codes and texts of the Excellence engine; the operations
// on data and keys are in exc4_ops.cpp.
#include "engines/excellence/ce_exc4.h"

#include <cstring>

#include "engines/excellence/exc4_codes.h"
#include "engines/excellence/exc4_passwords.h"
#include "frame/errors.h"
#include "platform/platform.h"

namespace zk {

using namespace excellence;

TExc4CryptoEngine::TExc4CryptoEngine() {
  AddParam("Mnemonic user name", "Default user");
  AddParam("Secret key directory", "a:\\");
  AddParam("Public key directory", "a:\\");
  AddParam("Signature algorithm", "GOST");
  AddParam("Encryption algorithm", "GOST");
  AddParam("Work directory", "");
  AddParam("Language", "EN");
  AddParam("Signature key length", "512");
  AddParam("Encrypt for UID", "");
  AddParam("New abonent name", "");
  AddParam("Exchange key length", "512");
  AddParam("Password request time out", "60");
  AddParam("Master key file", "");
  AddParam("Last operation password time out", "5");
  AddParam("Template directory", "");
  AddParam("Device dll", "");
  AddParam("Port number", "");
  AddParam("Device type", "");
  AddParam("Use previous keys for decrypt", "0");
  AddParam("Touch Memory Window Time Out", "5");
}

TExc4CryptoEngine::~TExc4CryptoEngine() = default;

int32_t TExc4CryptoEngine::GetBinding(TCryptoDLL*& Binding) {
  Binding = nullptr;
  if (BindingFailed_) return kErrNotInitialized;
  if (!Binding_) {
    auto fresh = std::make_unique<TCryptoDLL>();
    if (!fresh->LibLoaded) return kErrLibraryMissing;
    if (!fresh->FunctionsPresent) return kErrFunctionsMissing;
    const int32_t code = fresh->Open();
    if (code != kOk) {
      char text[kMaxErrorStringLength];
      fresh->GetErrorText(text, sizeof(text), code);
      if (text[0] != '\0') ErrorText.SetText(text);
      // The host has to create a new engine to try again.
      BindingFailed_ = true;
      return kErrNotInitialized;
    }
    Binding_ = std::move(fresh);
  }
  Binding_->PasswordRequestFunc = PasswordRequestFunc;
  Binding = Binding_.get();
  return kOk;
}

int32_t TExc4CryptoEngine::Prepare(TCryptoDLL*& Binding) {
  const int32_t code = GetBinding(Binding);
  return code != kOk ? code : ApplySettingsTo(*Binding);
}

int32_t TExc4CryptoEngine::ApplySettings() {
  return Capture("TExc4CryptoEngine.ApplySettings: ", kErrException, [&] {
    ZK_ASSERT(Binding_ != nullptr, "dlls.sys\\CR_EXC4\\ce_exc4");
    return ApplySettingsTo(*Binding_);
  });
}

int32_t TExc4CryptoEngine::ApplySettingsTo(TCryptoDLL& Binding) {
  // The callback of the moment: a host may replace it between operations.
  Binding.TMRequestFunc = TMRequestFunc;
  UserSettings s;
  int32_t sigKeyLen = 0, exchKeyLen = 0;
  if (!ParseKeyLength(ParamValue(kSigKeyLenParam), sigKeyLen) ||
      !ParseKeyLength(ParamValue(kExchKeyLenParam), exchKeyLen)) {
    return kErrKeyLength;
  }
  s.SigKeyLen = static_cast<uint16_t>(sigKeyLen);
  s.ExchKeyLen = static_cast<uint16_t>(exchKeyLen);
  if (!ParseNumberOr(ParamValue(kPortParam), 2, s.Port) || !ParseNumberOr(ParamValue(kDeviceTypeParam), 4, s.DeviceType)) {
    return kErrDeviceNumbers;
  }
  // The toolkit opens these itself: handed over in the file system's own spelling.
  auto path = [&](size_t index) { return platform::NativePath(ExpandRootMacro(ParamValue(index))); };
  const std::string masterKeyFile = ParamValue(kMasterKeyParam);
  s.MasterKeyFile = masterKeyFile.empty() ? std::string(" ") : path(kMasterKeyParam);
  s.DeviceDll = ParamValue(kDeviceDllParam).empty() ? std::string() : path(kDeviceDllParam);
  s.EncAlg = ParamValue(kEncAlgParam);
  s.SigAlg = ParamValue(kSigAlgParam);
  s.PublicKeyDir = path(kPublicKeyDirParam);
  s.SecretKeyDir = path(kSecretKeyDirParam);
  s.WorkDir = ParamValue(kWorkDirParam).empty() ? std::string() : path(kWorkDirParam);
  s.UserName = ParamValue(kUserNameParam);
  s.Language = ParamValue(kLanguageParam);
  Binding.PasswordRequestFunc = PasswordRequestFunc;
  return Binding.ApplyUserSettings(s);
}

void TExc4CryptoEngine::GetCryptoEngineType(char* TypeName) {
  Capture("TExc4CryptoEngine.GetCryptoEngineType: ", kErrException, [&] {
    ZK_REQUIRE_NOT_NULL(TypeName);
    std::memcpy(TypeName, kEngineType, sizeof(kEngineType));
    return kOk;
  });
}

int32_t TExc4CryptoEngine::GetMaxEncodeAddition() { return kMaxEncodeAddition; }
int32_t TExc4CryptoEngine::GetMaxSignatureLength() { return kMaxSignatureLength; }
int32_t TExc4CryptoEngine::GetMaxErrorStringLength() { return kMaxErrorStringLength; }

int32_t TExc4CryptoEngine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  return Capture("TExc4CryptoEngine.GetEncodeUIDBySignUID: ", kErrException, [&] {
    if (SignUID == nullptr || EncodeUID == nullptr) return kErrBadData;
    // One key pair signs and encrypts: the two UIDs are the same.
    if (std::strlen(SignUID) >= static_cast<size_t>(GetMaxUIDLength())) return kErrStringLength;
    return CopyPCharLimited(SignUID, EncodeUID, GetMaxUIDLength()) ? kOk : kErrStringLength;
  });
}

int32_t TExc4CryptoEngine::GetCurrentUID(char* UID) {
  return Capture("TExc4CryptoEngine.GetCurrentUID: ", kErrException, [&] {
    if (UID == nullptr) return kErrBadData;
    TCryptoDLL* binding = nullptr;
    int32_t code = Prepare(binding);
    if (code != kOk) return code;
    std::string own;
    code = binding->ReadCurrentUID(own);
    if (code == kOk) CopyPCharLimited(own.c_str(), UID, GetMaxUIDLength());
    return code;
  });
}

void TExc4CryptoEngine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  Capture("TExc4CryptoEngine.GetCryptoErrorString: ", kErrException, [&] {
    if (ErrorText == nullptr) return kOk;
    std::memset(ErrorText, 0, kMaxErrorStringLength);
    if (const char* text = EngineCodeText(ErrorCode)) {
      std::string message = text;
      if (ErrorCode == kErrNotInitialized || ErrorCode == kErrException) message += this->ErrorText.GetText();
      WriteErrorText(message, ErrorText);
      return kOk;
    }
    TCryptoDLL* binding = nullptr;
    if (GetBinding(binding) == kOk) binding->GetErrorText(ErrorText, kMaxErrorStringLength, ErrorCode);
    return kOk;
  });
}

void TExc4CryptoEngine::ClearCash() {
  Capture("TExc4CryptoEngine.ClearCash: ", kErrException, [] {
    TExc4PasswordCash& cache = TExc4PasswordCash::Instance();
    SectionLock hold(cache.Lock());
    cache.Clear();
    return kOk;
  });
}

}  // namespace zk
