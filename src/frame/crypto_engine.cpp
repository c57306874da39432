#include "frame/crypto_engine.h"

#include <algorithm>
#include <cstring>

#include "frame/errors.h"
#include "frame/fileutils.h"
#include "frame/textrules.h"

namespace zk {

namespace {
constexpr int32_t kDefaultLimit = 255;
constexpr int32_t kDefaultParamValueLimit = 1024;
constexpr char kRootMacro[] = "%ZEXROOT%";
constexpr size_t kRootMacroLen = sizeof(kRootMacro) - 1;

}  // namespace

std::string TSyncExceptStr::GetText() {
  ReadLock hold(lock_);
  return text_;
}

void TSyncExceptStr::SetText(const std::string& text) {
  WriteLock hold(lock_);
  text_ = text;
}

TCryptoEngine::TCryptoEngine() = default;
TCryptoEngine::~TCryptoEngine() = default;

int32_t TCryptoEngine::ApplySettings() { return -1; }
void TCryptoEngine::SetPasswordRequestFunc(TPasswordRequestFunc Func) { PasswordRequestFunc = Func; }
int32_t TCryptoEngine::GetMaxEncodeAddition() { return kDefaultLimit; }
int32_t TCryptoEngine::GetMaxSignatureLength() { return kDefaultLimit; }
int32_t TCryptoEngine::GetMaxUIDLength() { return kDefaultLimit; }
int32_t TCryptoEngine::GetMaxCryptoParamNameLength() { return kDefaultLimit; }
int32_t TCryptoEngine::GetMaxCryptoParamValueLength() { return kDefaultParamValueLimit; }
int32_t TCryptoEngine::GetMaxErrorStringLength() { return kDefaultLimit; }
int32_t TCryptoEngine::GetCryptoParamNumber() { return static_cast<int32_t>(ParamNames_.size()); }

void TCryptoEngine::GetCryptoParamName(int32_t Index, char* Name) {
  ZK_REQUIRE_NOT_NULL(Name);
  Name[0] = '\0';
  if (Index < 1 || static_cast<size_t>(Index) > ParamNames_.size()) return;
  // Names are fixed by the constructors and always shorter than the name limit.
  CopyPCharLimited(ParamNames_[Index - 1].c_str(), Name, GetMaxCryptoParamNameLength());
}

void TCryptoEngine::GetCryptoParamValue(int32_t Index, char* Value) {
  ZK_REQUIRE_NOT_NULL(Value);
  Value[0] = '\0';
  if (Index < 1 || static_cast<size_t>(Index) > ParamValues_.size()) return;
  CopyPCharLimited(ParamValues_[Index - 1].c_str(), Value, GetMaxCryptoParamValueLength());
}

int32_t TCryptoEngine::SetCryptoParamValue(int32_t Index, const char* Value) {
  if (Index < 1 || static_cast<size_t>(Index) > ParamValues_.size()) return -1;
  ParamValues_[Index - 1] = Value ? Value : "";
  return 0;
}

void TCryptoEngine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) { DefaultErrorString(ErrorCode, ErrorText); }

int32_t TCryptoEngine::IncludePublicKey(const char*) { return -1; }
void TCryptoEngine::ClearCash() {}
int32_t TCryptoEngine::UpdateCertificateCash(const char*) { return -1; }
int32_t TCryptoEngine::RemoveCertificate(const char*) { return -1; }
int32_t TCryptoEngine::IncludeCRL(const char*) { return -1; }

bool TCryptoEngine::CopyPCharLimited(const char* Src, char* Dst, int32_t MaxLen) {
  if (Src == nullptr || Dst == nullptr || MaxLen <= 0) return false;
  // The copy never exceeds MaxLen bytes, and the last byte written is always a terminator.
  size_t length = strnlen(Src, static_cast<size_t>(MaxLen - 1));
  std::memcpy(Dst, Src, length);
  Dst[length] = '\0';
  return true;
}

std::string TCryptoEngine::ExpandRootMacro(const std::string& Path) const {
  if (Path.size() < kRootMacroLen || UpperCase(Path.substr(0, kRootMacroLen)) != kRootMacro) return Path;
  std::string rest = Path.substr(kRootMacroLen);
  if (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
  return UpperCase(RootPath_ + rest);
}

std::string TCryptoEngine::ExpandRootDir(const std::string& Path) const {
  return IncludeDirDelimiter(ExpandRootMacro(Path));
}

void TCryptoEngine::SetEngineRootPath(const std::string& Path) {
  RootPath_ = Path;
  if (!RootPath_.empty() && RootPath_.back() != '\\') RootPath_ += '\\';
}

void TCryptoEngine::AddParam(const std::string& name, const std::string& defaultValue) {
  ParamNames_.push_back(name);
  ParamValues_.push_back(defaultValue);
}

std::string TCryptoEngine::ParamValue(size_t index) const {
  return index < ParamValues_.size() ? ParamValues_[index] : std::string();
}

int32_t TCryptoEngine::Capture(const char* prefix, int32_t exceptionCode, const std::function<int32_t()>& body) {
  try {
    return body();
  } catch (...) {
    ErrorText.SetText(prefix + DescribeException(std::current_exception()));
    return exceptionCode;
  }
}

void TCryptoEngine::DefaultErrorString(int32_t ErrorCode, char* ErrorText) {
  WriteErrorText("CRYPTO ENGINE ERROR : " + std::to_string(ErrorCode), ErrorText);
}

void TCryptoEngine::WriteErrorText(const std::string& text, char* ErrorText) {
  if (ErrorText == nullptr) return;
  int32_t limit = GetMaxErrorStringLength();
  if (limit <= 0) return;
  std::memset(ErrorText, 0, static_cast<size_t>(limit));
  std::memcpy(ErrorText, text.data(), std::min(text.size(), static_cast<size_t>(limit - 1)));
}

}  // namespace zk
