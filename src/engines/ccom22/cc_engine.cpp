#include "engines/ccom22/cc_engine.h"

#include <cstring>
#include <map>

#include "engines/ccom22/cc_codes.h"
#include "engines/ccom22/cc_state.h"
#include "frame/cp1251.h"
#include "frame/errors.h"
#include "frame/fileutils.h"

namespace zk {

using namespace ccom22;

namespace ccom22 {

TCriticalSection& OperationLock() {
  static TCriticalSection lock;
  return lock;
}

namespace {

struct TCertUIDCache {
  TCriticalSection Lock;
  std::map<std::string, std::string> PathToUID;
};

TCertUIDCache& CertUIDs() {
  static TCertUIDCache cache;
  return cache;
}

}  // namespace

void ForgetCertificateUIDs() {
  SectionLock hold(CertUIDs().Lock);
  CertUIDs().PathToUID.clear();
}

}  // namespace ccom22

namespace {

enum ParamIndex : size_t {
  kCurrentDir = 0,
  kSecretPath = 1,
  kPublicPath = 2,
  kUserId = 3,
  kHashAlgorithm = 4,
  kCipherAlgorithm = 5,
  kRandomFile = 6,
  kEncryptForUID = 7,
  kKeyTimeout = 8,
  kLastOpTimeout = 9,
  kVerifyValidity = 10,
  kHardwareRandom = 11,
  kUserCertificate = 18,
};

const char kEngineType[] = "Crypto COM/2.2";
constexpr int32_t kMaxEncodeAddition = 4104;
constexpr int32_t kMaxSignatureLength = 544;
constexpr int32_t kMaxUIDLength = 255;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "YES" or "ДА" after trimming, ASCII letters upper-cased (Cyrillic ones are not).
bool YesNo(const std::string& value) {
  std::string text = Trimmed(value);
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  static const std::string kYes = Utf8ToCp1251("ДА");
  return text == "YES" || text == kYes;
}

// Empty counts as 0; anything but a decimal integer is refused.
bool ParseTimeout(const std::string& value, int32_t& seconds) {
  const std::string text = Trimmed(value);
  seconds = 0;
  if (text.empty()) return value.empty();
  size_t at = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (at == text.size()) return false;
  int64_t number = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    number = number * 10 + (text[at] - '0');
    if (number > INT32_MAX) return false;
  }
  seconds = static_cast<int32_t>(text[0] == '-' ? -number : number);
  return true;
}

// A character that can stand as a one-character directory or file name on its own.
bool PlainCharacterName(char c) {
  return static_cast<unsigned char>(c) >= 0x20 && c != '.' && c != ' ' && std::strchr("\\/:*?\"<>|", c) == nullptr;
}

}  // namespace

TCcom22Engine::TCcom22Engine() {
  AddParam("Current dir", "A:\\");
  AddParam("Secret Path", "A:\\sec");
  AddParam("Public Path", "A:\\crt");
  AddParam("User Id", "H.0");
  AddParam("Hash Algorithm", "34.11");
  AddParam("Cipher Algorithm", "28147");
  AddParam("Random file", "A:\\@rand");
  AddParam("Encrypt for UID", "H.0");
  AddParam("Key request time out", "60");
  AddParam("Last operation key time out", "5");
  AddParam("Verify validity of cert and key files", "Yes");
  AddParam("Use Intel Hardware Random driver", "No");
  AddParam("Key gen - Subject", "");
  AddParam("Key gen - Dir", "A:\\");
  AddParam("Template dir", "C:\\");
  AddParam("Key gen - Secret key length", "1024");
  AddParam("Key gen - Public key length", "256");
  AddParam("Key gen - Key expire period", "730");
  AddParam("Current user certificate", "A:\\self.crt");
}

TCcom22Engine::~TCcom22Engine() = default;

void TCcom22Engine::GetCryptoEngineType(char* TypeName) {
  ZK_REQUIRE_NOT_NULL(TypeName);
  std::memcpy(TypeName, kEngineType, sizeof kEngineType);
}

int32_t TCcom22Engine::GetMaxEncodeAddition() { return kMaxEncodeAddition; }
int32_t TCcom22Engine::GetMaxSignatureLength() { return kMaxSignatureLength; }

std::string TCcom22Engine::CertPathOf(const std::string& UID) const {
  const size_t dot = UID.find('.');
  if (dot == std::string::npos || !IsPlainFileName(UID.substr(0, dot))) return std::string();
  // Each character after the dot becomes a directory level: "." or a separator there would let
  // two UIDs share a file or a UID leave the directory.
  for (size_t i = dot + 1; i < UID.size(); ++i) {
    if (!PlainCharacterName(UID[i])) return std::string();
  }
  return CertCachePath(UID, ExpandRootDir(ParamValue(kPublicPath)));
}

std::string TCcom22Engine::UserCertPath() const {
  std::string path = ParamValue(kUserCertificate);
  if (path.empty() && !ParamValue(kUserId).empty()) path = CertPathOf(ParamValue(kUserId));
  if (path.empty() && ParamValue(kUserId).empty()) path = ExpandRootDir(ParamValue(kCurrentDir)) + "self.crt";
  return ExpandRootMacro(path);
}

int32_t TCcom22Engine::GetCryptoAPI() {
  if (!binding_) binding_ = std::make_unique<TCComDLL>();
  const int32_t code = !binding_->LibLoaded ? kErrLibraryMissing : !binding_->FunctionsPresent ? kErrFunctionsMissing : kOk;
  if (code != kOk) {
    binding_.reset();
    return code;
  }
  binding_->SetPasswordRequestFunc(PasswordRequestFunc);
  return kOk;
}

int32_t TCcom22Engine::FindCurrentUID(std::string& UID) {
  const int32_t code =
      Capture("TCcom22Engine.GetCryptoAPI ", kErrEngineException, [&] { return GetCryptoAPI(); });
  if (code != kOk) return code;
  const std::string path = UserCertPath();
  TCertUIDCache& cache = CertUIDs();
  SectionLock hold(cache.Lock);
  auto found = cache.PathToUID.find(path);
  if (found != cache.PathToUID.end()) {
    UID = found->second;
  } else {
    UID = path.empty() ? std::string() : binding_->ReadCertificateUID(path);
    if (!UID.empty()) cache.PathToUID.emplace(path, UID);
  }
  return UID.empty() ? kErrNoOwnerUID : kOk;
}

int32_t TCcom22Engine::ReadSettings(const std::string& UID, Settings& S) const {
  if (!ParseTimeout(ParamValue(kKeyTimeout), S.KeyTimeout) ||
      !ParseTimeout(ParamValue(kLastOpTimeout), S.LastOpTimeout))
    return kErrTimeout;
  S.UserUID = UID;
  S.UserCertPath = UserCertPath();
  S.CertDir = ExpandRootDir(ParamValue(kPublicPath));
  S.SecretDir = ExpandRootDir(ParamValue(kSecretPath));
  S.RandomFile = ExpandRootMacro(ParamValue(kRandomFile));
  S.Cipher = ParamValue(kCipherAlgorithm);
  S.Hash = ParamValue(kHashAlgorithm);
  S.VerifyValidity = YesNo(ParamValue(kVerifyValidity));
  S.Hardware = YesNo(ParamValue(kHardwareRandom));
  return kOk;
}

int32_t TCcom22Engine::Prologue(const uint8_t* Data, int32_t DataLen, std::string& UID, Settings& S) {
  if (int32_t code = FindCurrentUID(UID)) return code;
  if (Data == nullptr || DataLen < 1) return kErrNullOrLength;
  return ReadSettings(UID, S);
}

int32_t TCcom22Engine::WithKeys(const Settings& S, const std::function<int32_t()>& Operation) {
  SectionLock hold(OperationLock());
  return binding_->Guarded([&]() -> int32_t {
    if (int32_t code = binding_->LoadUserKeys(S)) return code;
    return Operation();
  });
}

int32_t TCcom22Engine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID == nullptr || EncodeUID == nullptr) return kErrNullOrLength;
  // A cut UID would name someone else.
  if (std::strlen(SignUID) >= static_cast<size_t>(GetMaxUIDLength())) return kErrBufferLength;
  return CopyPCharLimited(SignUID, EncodeUID, GetMaxUIDLength()) ? kOk : kErrBufferLength;
}

int32_t TCcom22Engine::GetCurrentUID(char* UID) {
  return Capture("TCcom22Engine.GetCurrentUID ", kErrEngineException, [&]() -> int32_t {
    std::string own;
    if (int32_t code = FindCurrentUID(own)) return code;
    if (UID == nullptr) return kErrNullOrLength;
    if (own.size() >= static_cast<size_t>(GetMaxUIDLength())) return kErrBufferLength;
    CopyPCharLimited(own.c_str(), UID, GetMaxUIDLength());
    return kOk;
  });
}

void TCcom22Engine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  std::string text = ErrorTextOf(ErrorCode);
  if (ErrorCode == kErrException && binding_) text += binding_->LastExceptionText();
  if (ErrorCode == kErrEngineException) text += this->ErrorText.GetText();
  WriteErrorText(text, ErrorText);
}

int32_t TCcom22Engine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                const char* SignUID) {
  return Capture("TCcom22Engine.SignData ", kErrEngineException, [&]() -> int32_t {
    std::string uid;
    Settings s;
    if (int32_t code = Prologue(Data, DataLen, uid, s)) return code;
    if (Signature == nullptr || SignatureLen == nullptr) return kErrNullOrLength;
    if (SignUID != nullptr && SignUID[0] != '\0' && uid != SignUID) {
      // Another UID's keys: the user's own certificate file is not theirs.
      s.UserUID = SignUID;
      s.UserCertPath.clear();
    }
    std::vector<uint8_t> signature;
    const int32_t code =
        WithKeys(s, [&] { return binding_->SignBuffer(s, Data, static_cast<size_t>(DataLen), signature); });
    if (code != kOk) return code;
    if (signature.size() > static_cast<size_t>(kMaxSignatureLength)) return kErrNoMemory;
    std::memcpy(Signature, signature.data(), signature.size());
    *SignatureLen = static_cast<int32_t>(signature.size());
    return kOk;
  });
}

int32_t TCcom22Engine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                  int32_t SignatureLen, char* SignerUID) {
  return Capture("TCcom22Engine.VerifyData ", kErrEngineException, [&]() -> int32_t {
    std::string uid;
    Settings s;
    if (int32_t code = Prologue(Data, DataLen, uid, s)) return code;
    if (SignerUID == nullptr) return kErrNullOrLength;
    // A signer block and at most the longest toolkit signature, else it is no signature.
    if (Signature == nullptr || SignatureLen <= static_cast<int32_t>(kSignerBlockSize) ||
        SignatureLen > kMaxSignatureLength)
      return kErrNoSignature;
    std::string signer;
    const int32_t code = WithKeys(s, [&] {
      return binding_->VerifyBuffer(s, Data, static_cast<size_t>(DataLen), Signature,
                                    static_cast<size_t>(SignatureLen), signer);
    });
    if (!signer.empty()) CopyPCharLimited(signer.c_str(), SignerUID, GetMaxUIDLength());
    return code;
  });
}

}  // namespace zk
