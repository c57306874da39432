#include "engines/capi/capi_engine.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "engines/capi/capi_texts.h"
#include "frame/processlifetime.h"
#include "frame/fileutils.h"
#include "platform/platform.h"

namespace zk {

using namespace capi;

namespace {

const char kEngineType[] = "Ms Crypto API 2.0";
constexpr int32_t kMaxEncodeAddition = 5120;
constexpr int32_t kMaxSignatureLength = 4096;
constexpr int32_t kMaxUIDLength = 255;
// Certificates in PEM form are returned whole or not at all; a 4096-byte certificate needs ~5.6 KB.
constexpr size_t kMaxResultText = 16384;
constexpr int32_t kErrNoLibrary = 1;

const std::pair<const char*, const char*> kParams[] = {
    {"Crypto Provider", ""},
    {"User UID (Common name)", ""},
    {"User certificate file", "A:\\Self.cer"},
    {"CA certificates dir", "A:\\CA"},
    {"Abonents cerificates dir", "A:\\ABONENT"},
    {"Hash Algorithm", "GOST_R3411"},
    {"Encrypt Algorithm", "GOST_28147"},
    {"Encrypt for UID", "Test"},
    {"Key request time out", "60"},
    {"Last operation key time out", "5"},
    {"Key gen - Key Length", "1024"},
    {"Key gen - Common name", "New"},
    {"Key gen - e-mail", "new.user@example.com"},
    {"Key gen - Company", "New User Company"},
    {"Key gen - Department", "New User Department"},
    {"Key gen - City", "New User City"},
    {"Key gen - State", "New User State"},
    {"Key gen - Country/Region", "RU"},
    {"Key gen - Request filename", "A:\\new.req"},
    {"Key gen - Request Type", "CP_GOST_R3411_R3410"},
    {"Key gen - Expire period", "365"},
    {"User UID Location", "CN"},
    {"Container Name Location", ""},
    {"CRL dir", ""},
    {"Key Usage OIDs", "1.3.6.1.5.5.7.3.2;1.2.643.2.2.34.2"},
    {"Secret Key Usage Types", ""},
    {"Include signer cert in sign", ""},
    {"Key gen - Exportable key", ""},
    {"Secret key cash method", ""},
};

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Bindings live for the process; each is shared by every engine whose settings give its key. The
// registry is never destroyed: at process exit the system libraries may already be gone.
struct TBindingRegistry {
  std::mutex Lock;
  std::map<std::string, std::unique_ptr<TCryptoAPI20_DLL>> Bindings;
};

TBindingRegistry& Registry() {
  static TBindingRegistry* registry = KeepForProcess(new TBindingRegistry);
  return *registry;
}

// The OID of a named algorithm: a fixed name, a "name (OID)" display text, or the value itself.
std::string FixedOID(const std::string& Name, const std::pair<const char*, const char*> (&Fixed)[4]) {
  for (const auto& entry : Fixed)
    if (Name == entry.first) return entry.second;
  static const TStringPairList kNoSystemNames;
  return NamedOID(kNoSystemNames, Name);
}

int32_t ParseSeconds(const std::string& Text, int32_t Default) {
  const std::string text = Trimmed(Text);
  if (Text.empty()) return Default;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
    throw std::invalid_argument("'" + Text + "' is not a valid integer value");
  return static_cast<int32_t>(value);
}

}  // namespace

TCryptoAPI20Engine::TCryptoAPI20Engine() {
  for (const auto& param : kParams) AddParam(param.first, param.second);
}

std::string TCryptoAPI20Engine::ReadSetting(size_t Index) const { return ParamValue(Index); }

void TCryptoAPI20Engine::SetIncludeSignerCert(const std::string& Value) {
  ParamValues_[kIncludeSignerCert] = Value;
}

std::string TCryptoAPI20Engine::LocationOID(const std::string& Location) {
  const std::string key = Upper(Location);
  static const std::pair<const char*, const char*> kNames[] = {
      {"CN", "2.5.4.3"},  {"", "2.5.4.3"},   {"C", "2.5.4.6"},  {"L", "2.5.4.7"},
      {"S", "2.5.4.8"},   {"O", "2.5.4.10"}, {"OU", "2.5.4.11"}, {"E", "1.2.840.113549.1.9.1"}};
  for (const auto& entry : kNames)
    if (key == entry.first) return entry.second;
  return Location;
}

std::string TCryptoAPI20Engine::HashOID(const std::string& Name) {
  static const std::pair<const char*, const char*> kFixed[4] = {{"GOST_R3411", "1.2.643.2.2.9"},
                                                                {"SHA1", "1.3.14.3.2.26"},
                                                                {"MD2", "1.2.840.113549.2.2"},
                                                                {"MD5", "1.2.840.113549.2.5"}};
  return FixedOID(Name, kFixed);
}

std::string TCryptoAPI20Engine::EncryptOID(const std::string& Name) {
  static const std::pair<const char*, const char*> kFixed[4] = {{"GOST_28147", "1.2.643.2.2.21"},
                                                                {"RC2CBC", "1.2.840.113549.3.2"},
                                                                {"RC4", "1.2.840.113549.3.4"},
                                                                {"DESCBC", "1.3.14.3.2.7"}};
  return FixedOID(Name, kFixed);
}

std::string TCryptoAPI20Engine::AlgorithmOID(TCryptoAPI20_DLL& Binding, const std::string& Name, bool Hash) {
  const std::string oid = Hash ? HashOID(Name) : EncryptOID(Name);
  if (oid != Name) return oid;
  return Binding.NamedOID(Hash ? kOidHashGroup : kOidEncryptGroup, Name);
}

TVerificationSettings TCryptoAPI20Engine::Settings() const {
  TVerificationSettings s;
  s.UIDLocationOID = LocationOID(ReadSetting(kUIDLocation));
  s.ContainerLocation = LocationOID(ReadSetting(kContainerLocation));
  if (s.ContainerLocation.size() < 3) s.ContainerLocation = Upper(s.ContainerLocation);
  s.CADir = Upper(ExpandRootMacro(ReadSetting(kCADir)));
  s.UserCertFile = ExpandRootMacro(Trimmed(ReadSetting(kUserCertFile)));
  s.AbonentDir = Upper(ExpandRootMacro(ReadSetting(kAbonentDir)));
  s.VerifyContextCache = Upper(ReadSetting(kSecretKeyCashMethod)) == "VERIFY_CONTEXT";
  std::vector<std::string> pieces;
  const std::string crl = ReadSetting(kCRLDir);
  ParseSemicolonList(crl.c_str(), pieces);
  const auto keyword = [](const std::string& p) { return p == "USE_URL" || p == "CHAIN_CHECK"; };
  if (pieces.size() == 1 && !pieces[0].empty() && !keyword(pieces[0])) {
    s.CRLDir = ExpandRootDir(pieces[0]);
    s.CRLDirRevocationCheck = true;
  } else if (pieces.size() == 1 && keyword(pieces[0])) {
    s.ChainRevocationCheck = true;
  } else if (pieces.size() == 2 && (keyword(pieces[0]) || keyword(pieces[1]))) {
    s.CRLDir = ExpandRootDir(keyword(pieces[0]) ? pieces[1] : pieces[0]);
    s.ChainRevocationCheck = s.CRLDirRevocationCheck = true;
  }
  return s;
}

int32_t TCryptoAPI20Engine::GetCryptoAPI(TCryptoAPI20_DLL*& Binding) {
  return Capture("TCryptoCEngine.GetCryptoAPI: ", kErrException, [&]() -> int32_t {
    const std::string provider = Trimmed(ReadSetting(kProvider));
    // The parts are joined with a byte no setting contains, so two settings never share a key.
    const std::string key = provider + '\x01' + LocationOID(ReadSetting(kUIDLocation)) + '\x01' +
                            Upper(ExpandRootMacro(ReadSetting(kCADir))) + '\x01' +
                            Upper(ExpandRootMacro(ReadSetting(kUserCertFile))) + '\x01' +
                            Upper(ExpandRootMacro(ReadSetting(kAbonentDir))) + '\x01' +
                            Upper(ExpandRootMacro(ReadSetting(kCRLDir)));
    auto& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Lock);
    auto found = registry.Bindings.find(key);
    if (found != registry.Bindings.end()) {
      Binding = found->second.get();
      return 0;
    }
    auto binding = std::make_unique<TCryptoAPI20_DLL>(provider);
    if (!binding->LibLoaded) return kErrNoAdvapi32;
    if (!binding->Crypt32Loaded) return kErrNoCrypt32;
    if (!binding->FunctionsPresent) return kErrFunctionsMissing;
    if (binding->GetProviderType() == 0) return kErrNoProvider;
    Binding = binding.get();
    registry.Bindings.emplace(key, std::move(binding));
    return Binding != nullptr ? 0 : kErrNoLibrary;
  });
}

int32_t TCryptoAPI20Engine::ReadTimeouts(int32_t& KeyTimeout, int32_t& LastOpTimeout) const {
  KeyTimeout = ParseSeconds(ReadSetting(kKeyTimeout), 60);
  LastOpTimeout = ParseSeconds(ReadSetting(kLastOpTimeout), 5);
  return 0;
}

void TCryptoAPI20Engine::GetCryptoEngineType(char* TypeName) {
  if (TypeName != nullptr) std::memcpy(TypeName, kEngineType, sizeof kEngineType);
}

int32_t TCryptoAPI20Engine::GetMaxEncodeAddition() { return kMaxEncodeAddition; }
int32_t TCryptoAPI20Engine::GetMaxSignatureLength() { return kMaxSignatureLength; }

int32_t TCryptoAPI20Engine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID == nullptr || EncodeUID == nullptr) return kErrBadArgument;
  return CopyPCharLimited(SignUID, EncodeUID, GetMaxUIDLength()) ? 0 : kErrException;
}

int32_t TCryptoAPI20Engine::GetCurrentUID(char* UID) {
  return Capture("TCryptoCEngine.GetCurrentUID: ", kErrException, [&]() -> int32_t {
    if (ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trimmed(ReadSetting(kUserCertFile)).empty() || UID == nullptr) return kErrReadCertificate;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    std::string uid;
    if (int32_t status = binding->GetCurrentUserUID(Settings(), uid)) return status;
    if (uid.empty()) return kErrNoOwnUID;
    return CopyPCharLimited(uid.c_str(), UID, kMaxUIDLength) ? 0 : kErrBadArgument;
  });
}

void TCryptoAPI20Engine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  std::string text;
  if (ErrorCode == -1 || ErrorCode == kErrException) {
    CodeText(kErrException, text);
    text += this->ErrorText.GetText();
  } else if (!CodeText(ErrorCode, text)) {
    text = "Crypto Pro toolkit library error code: " + std::to_string(ErrorCode);
  }
  if (ErrorCode < 0 || ErrorCode > 20)
    text += "System Last Error message: " + platform::SystemErrorText(static_cast<uint32_t>(ErrorCode));
  WriteErrorText(text, ErrorText);
}

int32_t TCryptoAPI20Engine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TCryptoCEngine.EncodeData: ", kErrException, [&]() -> int32_t {
    if (DataLen == nullptr || *DataLen < 0 || (Data == nullptr && *DataLen > 0)) return kErrBadArgument;
    if (ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trimmed(ReadSetting(kUserCertFile)).empty()) return 30;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    const std::string algorithm = ReadSetting(kEncryptAlgorithm);
    if (algorithm.empty()) return 12;
    std::string recipients = RecipientUIDs != nullptr ? RecipientUIDs : "";
    if (recipients.empty()) recipients = ReadSetting(kEncryptForUID);
    if (recipients.empty()) return 29;
    std::vector<uint8_t> envelope;
    if (int32_t status = binding->EncryptBuffer(Data, static_cast<size_t>(*DataLen), recipients, Settings(),
                                                AlgorithmOID(*binding, algorithm, false), envelope))
      return status;
    // The caller's buffer holds DataLen + GetMaxEncodeAddition bytes; a longer envelope is refused.
    if (envelope.size() > static_cast<size_t>(*DataLen) + kMaxEncodeAddition) return kErrBadArgument;
    if (!envelope.empty()) std::memcpy(Data, envelope.data(), envelope.size());
    *DataLen = static_cast<int32_t>(envelope.size());
    return 0;
  });
}

int32_t TCryptoAPI20Engine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  return Capture("TCryptoCEngine.DecodeData: ", kErrException, [&]() -> int32_t {
    int32_t keyTimeout = 0, lastOpTimeout = 0;
    ReadTimeouts(keyTimeout, lastOpTimeout);
    if (Data == nullptr || DataLen == nullptr || *DataLen < 1) return kErrBadArgument;
    if (ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trimmed(ReadSetting(kUserCertFile)).empty()) return 30;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    size_t length = static_cast<size_t>(*DataLen);
    if (int32_t status = binding->DecryptBuffer(Data, length, Settings(), keyTimeout, lastOpTimeout)) return status;
    *DataLen = static_cast<int32_t>(length);
    // The envelope does not say who made it.
    if (SenderUID != nullptr) SenderUID[0] = '\0';
    return 0;
  });
}

int32_t TCryptoAPI20Engine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                     const char* SignUID) {
  return Capture("TCryptoCEngine.SignData: ", kErrException, [&]() -> int32_t {
    int32_t keyTimeout = 0, lastOpTimeout = 0;
    ReadTimeouts(keyTimeout, lastOpTimeout);
    // VerifyData takes no empty data, so no signature of it is made either.
    if (Signature == nullptr || SignatureLen == nullptr || Data == nullptr || DataLen < 1) return kErrBadArgument;
    if (ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trimmed(ReadSetting(kUserCertFile)).empty()) return 30;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    const bool includeCert = Upper(ReadSetting(kIncludeSignerCert)) != "NO";
    const std::string hash = AlgorithmOID(*binding, ReadSetting(kHashAlgorithm), true);
    std::vector<uint8_t> signature;
    if (int32_t status = binding->SignBuffer(Data, static_cast<size_t>(DataLen), includeCert,
                                             keyTimeout, lastOpTimeout, hash, Settings(), signature))
      return status;
    if (signature.size() > static_cast<size_t>(kMaxSignatureLength)) return kErrBadArgument;
    std::memcpy(Signature, signature.data(), signature.size());
    *SignatureLen = static_cast<int32_t>(signature.size());
    return 0;
  });
}

int32_t TCryptoAPI20Engine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                       int32_t SignatureLen, char* SignerUID) {
  return Capture("TCryptoCEngine.InternalVerifyData: ", kErrException, [&]() -> int32_t {
    if (SignerUID == nullptr || Data == nullptr || DataLen < 1 || SignatureLen <= 0 || Signature == nullptr)
      return kErrBadArgument;
    if (ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trimmed(ReadSetting(kUserCertFile)).empty()) return kErrNoUserCert;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    const std::string request(SignerUID, strnlen(SignerUID, kMaxUIDLength));
    const int mode = request == "ShowCertificate_OnSuccess"            ? 1
                     : request == "GetCertificateProperties_OnSuccess" ? 2
                     : request == "GetCertificate_OnSuccess"           ? 3
                                                                       : 0;
    bool noSignerCert = false;
    std::string text;
    const int32_t status = binding->VerifySign(Data, static_cast<size_t>(DataLen), noSignerCert, text, mode,
                                               Settings(), Signature, static_cast<size_t>(SignatureLen));
    SetIncludeSignerCert(status == 0 && noSignerCert ? "NO" : "YES");
    SignerUID[0] = '\0';
    if (status != 0) return status;
    if (mode <= 1) return CopyPCharLimited(text.c_str(), SignerUID, kMaxUIDLength) ? 0 : kErrBadArgument;
    if (text.size() >= kMaxResultText) return kErrBadArgument;
    std::memcpy(SignerUID, text.c_str(), text.size() + 1);
    return 0;
  });
}

void TCryptoAPI20Engine::ClearCash() {
  Capture("TCryptoCEngine.ClearCash: ", kErrException, [&]() -> int32_t {
    if (ReadSetting(kUIDLocation).empty() || ReadSetting(kUserCertFile).empty()) return 0;
    TCryptoAPI20_DLL* binding = nullptr;
    if (GetCryptoAPI(binding) == 0) binding->ClearCache();
    return 0;
  });
}

int32_t TCryptoAPI20Engine::IncludeCRL(const char* FileName) {
  return Capture("TCryptoCEngine.IncludeCRL: ", kErrException, [&]() -> int32_t {
    const std::string file = ExpandRootMacro(FileName != nullptr ? FileName : "");
    if (file.empty() || !platform::IsFile(file)) return kErrNoCRLFile;
    const TVerificationSettings s = Settings();
    if (s.CRLDirRevocationCheck && (s.CRLDir.empty() || !DirectoryExists(s.CRLDir))) return kErrNoCRLDir;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    std::string placed = file;
    if (s.CRLDirRevocationCheck) {
      placed = IncludeDirDelimiter(s.CRLDir) + "crl" + std::to_string(NextNumberInMask(s.CRLDir, "crl*.crl")) + ".crl";
      if (!platform::MoveFileTo(file, placed)) return kErrCRLFile;
    }
    return binding->AddCRLFile(placed, s);
  });
}

// The Crypto-Pro variant: no "Crypto Provider" and no "Key gen - Key Length" among its parameters.
TCryptoPro11Engine::TCryptoPro11Engine() {
  ParamNames_.erase(ParamNames_.begin());
  ParamValues_.erase(ParamValues_.begin());
  ParamNames_.erase(ParamNames_.begin() + 9);
  ParamValues_.erase(ParamValues_.begin() + 9);
}

std::string TCryptoPro11Engine::ReadSetting(size_t Index) const {
  if (Index == kProvider) return "Crypto-Pro Cryptographic Service Provider";
  if (Index == 10) return "1024";
  const std::string value = ParamValue(Index < 10 ? Index - 1 : Index - 2);
  if (Index == kUIDLocation || Index == kContainerLocation) return value.empty() ? "CN" : Upper(value);
  return value;
}

void TCryptoPro11Engine::SetIncludeSignerCert(const std::string& Value) { ParamValues_[24] = Value; }

}  // namespace zk
