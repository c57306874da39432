#include "engines/validata/vldt_engine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "engines/validata/vldt_texts.h"
#include "frame/bindingregistry.h"
#include "frame/fileutils.h"

namespace zk {

using namespace validata;

namespace {

const char kTypeName[] = "Validata Crypto Engine";
const char kPrefix[] = "TValidataEngine.";
constexpr int64_t kMaxCrlFile = 16 * 1024 * 1024;
constexpr int32_t kMaxCertFile = 4096;

enum Param { kProfile, kPse, kStore, kLdap, kEncryptFor, kRequestTimeout, kLastOpTimeout, kServer, kServerEku,
             kUidLocation, kSignEku, kCashId, kInitFlags };

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Blank keeps the default; anything but a decimal number is refused.
int32_t Seconds(const std::string& name, const std::string& value, int32_t fallback) {
  const std::string text = Trimmed(value);
  if (text.empty()) return fallback;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX)
    throw std::invalid_argument("\"" + name + "\" is not a whole number of seconds: '" + value + "'");
  return static_cast<int32_t>(v);
}

TBindingRegistry<TValidata>& Bindings() {
  static TBindingRegistry<TValidata> registry;
  return registry;
}

bool EndsWithPse(const std::string& name) { return name.size() >= 4 && Upper(name.substr(name.size() - 4)) == ".PSE"; }

// Reads at most Limit bytes: false when unreadable or larger.
bool ReadLimited(const std::string& file, int64_t Limit, std::vector<uint8_t>& out) {
  const int64_t size = FileSizePlusOne(file) - 1;
  if (size < 0 || size > Limit) return false;
  out.resize(static_cast<size_t>(size));
  int32_t len = static_cast<int32_t>(size);
  if (!ReadFileToBuffer(file, out.data(), len) || len != size) return false;
  return true;
}

}  // namespace

TValidataEngine::TValidataEngine() {
  AddParam("Profile", "");
  AddParam("PSE", "A:\\local.pse");
  AddParam("LocalStore", "A:\\local.gdbm");
  AddParam("LDAP", "");
  AddParam("Encrypt for UID", "");
  AddParam("Key request time out", "60");
  AddParam("Last operation key time out", "5");
  AddParam("Client\\Server mode", "");
  AddParam("Server Certificate EKU OID", "");
  AddParam("User UID Location", "CN");
  AddParam("Sign EKU restrictions", "");
  AddParam("Cash ID", "");
  AddParam("Initialize flags", "");
}

void TValidataEngine::GetCryptoEngineType(char* TypeName) {
  if (TypeName != nullptr) std::memcpy(TypeName, kTypeName, sizeof kTypeName);
}

int32_t TValidataEngine::ReadSettings(TValidataSettings& S) {
  S.Profile = Upper(ParamValue(kProfile));
  S.Pse = Upper(ExpandRootMacro(ParamValue(kPse)));
  S.Store = Upper(ExpandRootMacro(ParamValue(kStore)));
  S.Ldap = Upper(ExpandRootMacro(ParamValue(kLdap)));
  S.RequestTimeout = Seconds(ParamNames_[kRequestTimeout], ParamValue(kRequestTimeout), 60);
  S.LastOpTimeout = Seconds(ParamNames_[kLastOpTimeout], ParamValue(kLastOpTimeout), 5);
  S.Server = Upper(ExpandRootMacro(ParamValue(kServer))) == "SERVER";
  S.ServerEku = ParamValue(kServerEku);
  S.UidLocation = Upper(Trimmed(ParamValue(kUidLocation)));
  S.SignEku = ParamValue(kSignEku);
  S.CashId = ParamValue(kCashId);
  S.Flags = 0;
  std::vector<std::string> words;
  ParseSemicolonList(ParamValue(kInitFlags).c_str(), words);
  const char* kFlagNames[] = {"NOCRLUPDATE", "CHECKEXPIRED", "NOLDAP", "NOKEYUNLOAD"};
  for (const std::string& w : words) {
    for (uint32_t i = 0; i < 4; ++i) {
      if (Upper(Trimmed(w)) == kFlagNames[i]) S.Flags |= 1u << i;
    }
  }
  return 0;
}

int32_t TValidataEngine::SetCryptoParamValue(int32_t Index, const char* Value) {
  const int32_t r = TCryptoEngine::SetCryptoParamValue(Index, Value);
  std::lock_guard<std::mutex> hold(settingsLock_);
  ++paramChanges_;
  return r;
}

int32_t TValidataEngine::Obtain(TValidataSettings& S, Binding& B) {
  std::string key;
  bool kept = false;
  uint64_t changes = 0;
  {
    std::lock_guard<std::mutex> hold(settingsLock_);
    changes = paramChanges_;
    if (settingsKept_ && settingsChanges_ == changes && settingsRoot_ == RootPath()) {
      S = settings_;
      key = settingsKey_;
      kept = true;
    }
  }
  if (!kept) {
    const std::string root = RootPath();
    ReadSettings(S);  // settings that do not read (a bad number) throw and are not kept
    key = SettingsKey(S);
    std::lock_guard<std::mutex> hold(settingsLock_);
    // Kept only if no parameter changed while they were read.
    if (paramChanges_ == changes) {
      settings_ = S;
      settingsKey_ = key;
      settingsRoot_ = root;
      settingsChanges_ = changes;
      settingsKept_ = true;
    }
  }
  return Bindings().Fetch(key, [this](Binding& created) {
    created = std::make_shared<TValidata>();
    if (!created->LibLoaded) return kErrNoLibrary;
    if (!created->FunctionsPresent) return kErrMissing;
    created->SetPasswordRequestFunc(PasswordRequestFunc);
    return 0;
  }, B);
}

int32_t TValidataEngine::Operation(const char* Name,
                                   const std::function<int32_t(const TValidataSettings&, Binding&)>& Body) {
  const std::string prefix = std::string(kPrefix) + Name + ": ";
  return Capture(prefix.c_str(), kErrException, [&] {
    TValidataSettings S;
    Binding B;
    const int32_t r = Obtain(S, B);
    return r != 0 ? r : Body(S, B);
  });
}

int32_t TValidataEngine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID == nullptr || EncodeUID == nullptr) return kErrArguments;
  if (std::strlen(SignUID) >= static_cast<size_t>(GetMaxUIDLength())) return kErrException;
  std::memcpy(EncodeUID, SignUID, std::strlen(SignUID) + 1);
  return 0;
}

int32_t TValidataEngine::GetCurrentUID(char* UID) {
  if (UID == nullptr) return kErrArguments;
  return Operation("GetCurrentUID", [&](const TValidataSettings& S, Binding& B) {
    std::string uid;
    const int32_t r = B->GetOwnUID(S, uid);
    if (r != 0) return r;
    // A UID cut short would name someone else.
    if (uid.size() >= static_cast<size_t>(GetMaxUIDLength())) return kErrArguments;
    std::memcpy(UID, uid.c_str(), uid.size() + 1);
    return 0;
  });
}

int32_t TValidataEngine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 1) return kErrArguments;
  return Operation("EncodeData", [&](const TValidataSettings& S, Binding& B) {
    std::string recipients = RecipientUIDs != nullptr ? RecipientUIDs : "";
    if (recipients.empty()) recipients = ParamValue(kEncryptFor);
    if (recipients.empty()) return kErrNoUID;
    size_t sealed = 0;
    const size_t capacity = static_cast<size_t>(*DataLen) + static_cast<size_t>(GetMaxEncodeAddition());
    const int32_t r = B->EncryptForRecipients(S, recipients, Data, static_cast<size_t>(*DataLen), capacity, sealed);
    if (r != 0) return r;
    *DataLen = static_cast<int32_t>(sealed);
    return 0;
  });
}

int32_t TValidataEngine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  if (Data == nullptr || DataLen == nullptr || SenderUID == nullptr || *DataLen < 1) return kErrArguments;
  return Operation("DecodeData", [&](const TValidataSettings& S, Binding& B) {
    size_t plain = 0;
    const int32_t r = B->DecryptMessage(S, Data, static_cast<size_t>(*DataLen), plain);
    if (r != 0) return r;
    *DataLen = static_cast<int32_t>(plain);
    SenderUID[0] = '\0';  // the envelope names no sender
    return 0;
  });
}

int32_t TValidataEngine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                  const char* SignUID) {
  if (Data == nullptr || Signature == nullptr || SignatureLen == nullptr || DataLen < 1) return kErrArguments;
  return Operation("SignData", [&](const TValidataSettings& S, Binding& B) {
    if (SignUID != nullptr && SignUID[0] != '\0') {
      // Only the own key signs: another UID is refused rather than signed for by this key.
      std::string own;
      const int32_t r = B->GetOwnUID(S, own);
      if (r != 0) return r;
      if (own != SignUID) return kErrCertChoice;
    }
    std::vector<uint8_t> sig;
    const int32_t r = B->SignBuffer(S, Data, static_cast<size_t>(DataLen), sig);
    if (r != 0) return r;
    if (sig.size() > static_cast<size_t>(GetMaxSignatureLength())) return kErrTooLarge;
    std::memcpy(Signature, sig.data(), sig.size());
    *SignatureLen = static_cast<int32_t>(sig.size());
    return 0;
  });
}

int32_t TValidataEngine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                    int32_t SignatureLen, char* SignerUID) {
  if (Data == nullptr || Signature == nullptr || SignerUID == nullptr || DataLen < 1 || SignatureLen < 1)
    return kErrArguments;
  VerifyMode mode = VerifyMode::Uid;
  if (std::strcmp(SignerUID, "ShowCertificate_OnSuccess") == 0) mode = VerifyMode::Show;
  if (std::strcmp(SignerUID, "GetCertificateProperties_OnSuccess") == 0) mode = VerifyMode::Description;
  if (std::strcmp(SignerUID, "GetCertificate_OnSuccess") == 0) mode = VerifyMode::Pem;
  return Operation("VerifyData", [&](const TValidataSettings& S, Binding& B) {
    std::string result;
    const int32_t r = B->VerifyBuffer(S, mode, Data, static_cast<size_t>(DataLen), Signature,
                                      static_cast<size_t>(SignatureLen), result);
    if (r != 0) return r;
    // Reports and UIDs are written whole or not at all.
    if (result.size() > kMaxReport) return kErrTooLarge;
    std::memcpy(SignerUID, result.c_str(), result.size() + 1);
    return 0;
  });
}

int32_t TValidataEngine::IncludePublicKey(const char* FileName) {
  if (FileName == nullptr || FileName[0] == '\0') return kErrNoCertFile;
  return Operation("IncludePublicKey", [&](const TValidataSettings& S, Binding& B) {
    const std::string file = ExpandRootMacro(FileName);
    if (EndsWithPse(file)) return B->ImportEnvironment(S, file);
    std::vector<uint8_t> bytes;
    if (!ReadLimited(file, kMaxCertFile, bytes) || bytes.empty()) return kErrCertLoad;
    return B->StoreCertificate(S, bytes.data(), bytes.size());
  });
}

int32_t TValidataEngine::IncludeCRL(const char* FileName) {
  if (FileName == nullptr || FileName[0] == '\0') return kErrNoCrlFile;
  return Operation("IncludeCRL", [&](const TValidataSettings& S, Binding& B) {
    std::vector<uint8_t> bytes;
    if (!ReadLimited(ExpandRootMacro(FileName), kMaxCrlFile, bytes) || bytes.empty()) return kErrCrlRead;
    return B->StoreCRL(S, bytes.data(), bytes.size());
  });
}

void TValidataEngine::ClearCash() {
  // Bindings still in use by other threads live on until their operations end.
  Bindings().Release();
}

void TValidataEngine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  std::string text;
  if (validata::OwnText(ErrorCode, text)) {
    if (ErrorCode == kErrException) text += this->ErrorText.GetText();
    WriteErrorText(text, ErrorText);
    return;
  }
  TValidataSettings S;
  Binding B;
  int32_t r = kErrException;
  try {
    r = Obtain(S, B);
  } catch (...) {
  }
  if (r != 0) {
    WriteErrorText(validata::NoBindingText(), ErrorText);
    return;
  }
  std::vector<char> buffer(static_cast<size_t>(GetMaxErrorStringLength()), 0);
  B->GetErrorText(ErrorCode, buffer.data(), static_cast<uint32_t>(buffer.size()), S.Server);
  WriteErrorText(std::string(buffer.data()), ErrorText);
}

}  // namespace zk
