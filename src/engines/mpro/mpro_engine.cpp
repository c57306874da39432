#include "engines/mpro/mpro_engine.h"

#include <cstring>
#include <map>

#include "frame/fileutils.h"
#include "frame/publish.h"
#include "platform/platform.h"

namespace zk {

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kNotInitialized = -100;
constexpr int32_t kBadArgument = -101;
constexpr int32_t kException = -102;
constexpr int32_t kStringLength = -103;
constexpr int32_t kIOError = -107;
constexpr int32_t kNoRecipients = -108;
constexpr int32_t kBadUID = -110;
constexpr int32_t kNoPublicKeyFile = -111;
constexpr int32_t kUnknownAbonent = -113;
constexpr int32_t kOwnCertificate = -120;
constexpr int32_t kNoCrlDir = -123;
constexpr int32_t kNoCrlFile = -124;
constexpr int32_t kBadCrl = -125;
constexpr int32_t kNoLibrary = -127;
constexpr int32_t kMissingFunctions = -128;
constexpr int32_t kUIDMismatch = -106;
constexpr int32_t kUIDLength = 40;
constexpr int32_t kMinErrorString = 256;

// Positions (1-based) of the values with a role in the engine.
constexpr size_t kCertDirPos = 2, kWorkDirPos = 3, kRecipientsPos = 19, kLocationPos = 20, kCrlDirKind0 = 25,
                 kCrlDirNewer = 26;

const char* const kTypeNames[3] = {"Message-PRO 1.1", "M-Pro v1.34 (GOST PSE)", "M-Pro v2.x"};

const std::map<int32_t, const char*>& Texts() {
  static const std::map<int32_t, const char*> texts = {
      {-101, "Null pointer or incorrect data size (buffer) passed to the function!"},
      {-103, "String length check error"},
      {-104, "Bad settings for crypto engine"},
      {-107, "I/O error during key, CRL or certificate file(s) operation."},
      {-108, "Encoding abonent(s) isn't set or set incorrect."},
      {-109, "Remote genarate path isn't set or set incorrect."},
      {-110, "UID error. Bad UID setting or incorrect UID passed to the function."},
      {-111, "Public key file not found."},
      {-112, "Can't extract certificate or certificate request file from transfer buffer or i/o error."},
      {-113, "Can't find self certificate file or abonent certificate file in certificate dir by its UID. Abonent "
             "unknown or error in name of certificate file."},
      {-114, "Can't find new key or certificate (cert request) file in specific key generate dir or i/o error."},
      {-115, "I/O error in specific remote generate dir."},
      {-116, "I/O error during exchange key detected."},
      {-117, "Low memory."},
      {-118, "Key gen utility isn't finished correctly, or another key container detected."},
      {-119, "Certificate in transfer and new private keys isn't match."},
      {-120, "Can not remove self certificate!"},
      {-121, "Can not save transfer content to temp directory!"},
      {-122, "Can not create template directory in Windows template path!"},
      {-123, "Can not found or create CRL dir!"},
      {-124, "Specified CRL file not found!"},
      {-125, "Incorrect CRL file!"},
      {-126, "Parameters index out of bounds!"},
      {-127, "Unable to load mplug*.dll"},
      {-128, "Unable to retrive all necessary functionns from mplug*.dll"}};
  return texts;
}

// Equal names, "\\" and "/" taken as the same separator.
bool SameButSeparators(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const bool separators = (a[i] == '/' || a[i] == '\\') && (b[i] == '/' || b[i] == '\\');
    if (a[i] != b[i] && !separators) return false;
  }
  return true;
}

bool ExpandedPosition(size_t Position, int Kind) {
  switch (Position) {
    case 1: case 2: case 3: case 7: case 8: case 9: case 10: case 18: case 23: case 25: case 26: return true;
    case 24: return Kind == 0;
    default: return false;
  }
}

std::string TrimBlanks(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r' || s[a] == '\n')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r' || s[b - 1] == '\n')) --b;
  return s.substr(a, b - a);
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 32);
    if (y >= 'a' && y <= 'z') y = char(y - 32);
    if (x != y) return false;
  }
  return true;
}

// A UID names a file in the certificate directory and sits in ";"-separated lists.
bool UsableUID(const std::string& UID) {
  return !UID.empty() && UID.find(';') == std::string::npos && IsPlainFileName(UID);
}

// Three digits as the directory always had them; larger numbers in full, never cut.
std::string BackupNumber(int32_t N) { return N < 1000 ? IntToStr3(N) : std::to_string(N); }

int32_t CopyUID(const std::string& UID, char* Out) {
  if (UID.size() + 1 > size_t(kUIDLength)) return kStringLength;
  std::memcpy(Out, UID.c_str(), UID.size() + 1);
  return kOk;
}

}  // namespace

TMPro1CryptoEngine::TMPro1CryptoEngine(int Kind) : kind_(Kind) {
  const char* defaults[25] = {"", "", "", "RUS-GAMMAR", "R3410-R3411", "1024", "", "", "", "", "RU", "", "",
                              "", "", "", "", "", "", "", "", "", "", "", ""};
  for (int i = 0; i < 25; ++i) AddParam("Parameter " + std::to_string(i + 1), defaults[i]);
}

TMPro1CryptoEngine::~TMPro1CryptoEngine() = default;

TMProWinCryptoEngine::TMProWinCryptoEngine(int Kind) : TMPro1CryptoEngine(Kind) { AddParam("Parameter 26", ""); }

TMPro2xCryptoEngine::TMPro2xCryptoEngine() : TMProWinCryptoEngine(2) { AddParam("Parameter 27", ""); }

int32_t TMPro1CryptoEngine::GetCryptoAPI() {
  if (!binding_) binding_ = std::make_unique<mpro::TMProDLL>(kind_);
  if (!binding_->LibLoaded) return kNoLibrary;
  if (!binding_->FunctionsPresent) return kMissingFunctions;
  return kOk;
}

void TMPro1CryptoEngine::GetCryptoEngineType(char* TypeName) {
  if (TypeName != nullptr) std::strcpy(TypeName, kTypeNames[kind_]);
}

// Limits come from the plug-in; without one the frame's defaults keep the error texts readable.
int32_t TMPro1CryptoEngine::GetMaxEncodeAddition() {
  return GetCryptoAPI() == kOk ? binding_->Api().GetMaxEncodeAddition() : TCryptoEngine::GetMaxEncodeAddition();
}
int32_t TMPro1CryptoEngine::GetMaxSignatureLength() {
  return GetCryptoAPI() == kOk ? binding_->Api().GetMaxSignatureLength() : TCryptoEngine::GetMaxSignatureLength();
}
int32_t TMPro1CryptoEngine::GetMaxUIDLength() { return kUIDLength; }
int32_t TMPro1CryptoEngine::GetMaxCryptoParamNameLength() {
  return GetCryptoAPI() == kOk ? binding_->Api().GetMaxCryptoParamNameLength()
                               : TCryptoEngine::GetMaxCryptoParamNameLength();
}
int32_t TMPro1CryptoEngine::GetMaxCryptoParamValueLength() {
  return GetCryptoAPI() == kOk ? binding_->Api().GetMaxCryptoParamValueLength()
                               : TCryptoEngine::GetMaxCryptoParamValueLength();
}
int32_t TMPro1CryptoEngine::GetMaxErrorStringLength() {
  const int32_t limit = GetCryptoAPI() == kOk ? binding_->Api().GetMaxErrorStringLength() : 0;
  return limit < kMinErrorString ? kMinErrorString : limit;
}

// The engine holds exactly its own values, whatever count a plug-in announces.
int32_t TMPro1CryptoEngine::GetCryptoParamNumber() { return int32_t(ParamCount()); }

void TMPro1CryptoEngine::GetCryptoParamName(int32_t Index, char* Name) {
  if (Name == nullptr) return;
  // Out of range or without a plug-in: the base answers (an empty name), never an unwritten buffer.
  if (Index < 1 || GetCryptoAPI() != kOk || Index > int32_t(ParamCount()))
    return TCryptoEngine::GetCryptoParamName(Index, Name);
  const int32_t limit = binding_->Api().GetMaxCryptoParamNameLength();
  std::string name(size_t(limit > 0 ? limit : 0) + 1, '\0');
  binding_->Api().GetCryptoParamName(Index - 1, name.data());
  CopyPCharLimited(name.c_str(), Name, TCryptoEngine::GetMaxCryptoParamNameLength());
}

int32_t TMPro1CryptoEngine::SetCryptoParamValue(int32_t Index, const char* Value) {
  if (Index < 1 || Value == nullptr) return kBadArgument;
  if (ExpandedPosition(size_t(Index), kind_)) return TCryptoEngine::SetCryptoParamValue(Index, ExpandRootMacro(Value).c_str());
  return TCryptoEngine::SetCryptoParamValue(Index, Value);
}

int32_t TMPro1CryptoEngine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  if (SignUID == nullptr || EncodeUID == nullptr) return kBadArgument;
  return CopyUID(SignUID, EncodeUID);
}

std::string TMPro1CryptoEngine::Value(size_t Position) const { return TrimBlanks(ParamValue(Position - 1)); }

std::string TMPro1CryptoEngine::Location() const {
  const std::string l = Value(kLocationPos);
  return l.empty() ? "CN" : l;
}

// Paths reach the plug-in as this system names them (on Windows unchanged).
std::shared_ptr<const std::vector<std::string>> TMPro1CryptoEngine::Values() const {
  {
    std::lock_guard<std::mutex> hold(valuesCache_.lock);
    if (valuesCache_.values && valuesCache_.params == ParamValues_) return valuesCache_.values;
  }
  auto v = std::make_shared<std::vector<std::string>>();
  bool exact = true;
  for (size_t i = 0; i < ParamCount(); ++i) {
    const std::string value = ParamValue(i);
    if (!ExpandedPosition(i + 1, kind_) || value.empty()) {
      v->push_back(value);
      continue;
    }
    v->push_back(platform::NativePath(value));
    exact = exact && SameButSeparators(v->back(), value) && platform::PathExists(v->back());
  }
  if (exact) {
    std::lock_guard<std::mutex> hold(valuesCache_.lock);
    valuesCache_.params = ParamValues_;
    valuesCache_.values = v;
  }
  return v;
}

std::string TMPro1CryptoEngine::CertDir() const { return ExpandRootDir(Value(kCertDirPos)); }

int32_t TMPro1CryptoEngine::WorkSize() const {
  const mpro::MPlugApi& api = binding_->Api();
  int64_t size = int64_t(api.GetMaxCertificateLength()) + api.GetMaxCertInfoLength();
  if (size < api.GetMaxUIDLength()) size = api.GetMaxUIDLength();
  return size > 0 && size < (1 << 26) ? int32_t(size) + 1 : 1 << 16;
}

void TMPro1CryptoEngine::AnswerReturn::operator()(char* buffer) const {
  std::unique_ptr<char[]> owned(buffer);
  constexpr size_t kKept = 4;
  std::lock_guard<std::mutex> hold(pool->lock);
  if (size == pool->size && pool->free.size() < kKept) pool->free.push_back(std::move(owned));
}

TMPro1CryptoEngine::Answer TMPro1CryptoEngine::AnswerBuffer() const {
  const size_t size = size_t(WorkSize());
  std::unique_ptr<char[]> buffer;
  {
    std::lock_guard<std::mutex> hold(answers_.lock);
    if (answers_.size != size) {
      answers_.free.clear();
      answers_.size = size;
    }
    if (!answers_.free.empty()) {
      buffer = std::move(answers_.free.back());
      answers_.free.pop_back();
    }
  }
  if (!buffer) buffer.reset(new char[size]);
  Answer out(buffer.release(), AnswerReturn{&answers_, size});
  out[0] = '\0';
  out[size - 1] = '\0';
  return out;
}

bool TMPro1CryptoEngine::SubjectAttribute(const std::string& Subject, const std::string& Name, std::string& Value) {
  int found = 0;
  size_t at = 0;
  while (at < Subject.size()) {
    if (Subject[at] != '/') return false;
    std::string part;
    ++at;
    while (at < Subject.size() && Subject[at] != '/') {
      if (Subject[at] == '\\' && at + 1 < Subject.size()) ++at;
      part += Subject[at++];
    }
    const size_t eq = part.find('=');
    if (eq != std::string::npos && part.compare(0, eq, Name) == 0 && eq == Name.size()) {
      Value = part.substr(eq + 1);
      ++found;
    }
  }
  return found == 1;
}

int32_t TMPro1CryptoEngine::AnswerToUID(const std::string& Answer, std::string& UID) const {
  const std::string location = Location();
  if (location == "SN") {
    UID = Answer;
    return kOk;
  }
  return SubjectAttribute(Answer, location, UID) ? kOk : kUIDMismatch;
}

int32_t TMPro1CryptoEngine::ReadSubject(const std::string& File, std::string& Subject) {
  std::vector<std::string> values(ParamCount());
  values[0] = File;
  values[kLocationPos - 1] = Value(kLocationPos);
  const Answer out = AnswerBuffer();
  const int32_t r = binding_->Call(values, [&](MPHANDLE h) { return binding_->Api().GetCurrentUID(h, out.get()); });
  if (r != kOk) return r;
  Subject = out.get();
  return kOk;
}

int32_t TMPro1CryptoEngine::CertFileOf(const std::string& UID, std::string& File) const {
  for (const char* ext : {".pem", ".cer"}) {
    const std::string path = CertDir() + UID + ext;
    if (platform::IsFile(path)) {
      File = platform::NativePath(path);
      return kOk;
    }
  }
  return kUnknownAbonent;
}

int32_t TMPro1CryptoEngine::ResolveUID(const std::string& UID, std::string& File) {
  if (UID.empty() || !UsableUID(UID)) return kBadUID;
  if (int32_t r = CertFileOf(UID, File)) return r;
  if (Location() == "SN") return kOk;
  std::string subject, found;
  if (int32_t r = ReadSubject(File, subject)) return r;
  return SubjectAttribute(subject, Location(), found) && found == UID ? kOk : kUIDMismatch;
}

int32_t TMPro1CryptoEngine::FetchCurrentUID(std::string& UID) {
  const Answer out = AnswerBuffer();
  const int32_t r = binding_->Call(*Values(), [&](MPHANDLE h) { return binding_->Api().GetCurrentUID(h, out.get()); });
  if (r != kOk) return r;
  return AnswerToUID(out.get(), UID);
}

int32_t TMPro1CryptoEngine::GetCurrentUID(char* UID) {
  return Capture("TMProCryptoEngine.GetCurrentUID:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (UID == nullptr) return kBadArgument;
    std::string uid;
    if (int32_t r = FetchCurrentUID(uid)) return r;
    return CopyUID(uid, UID);
  });
}

void TMPro1CryptoEngine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  std::string text;
  const auto& texts = Texts();
  if (ErrorCode == kNotInitialized) {
    text = "Library not initialized " + this->ErrorText.GetText();
  } else if (ErrorCode == kException) {
    text = "An exception in the function - " + this->ErrorText.GetText();
  } else if (texts.count(ErrorCode) != 0) {
    text = texts.at(ErrorCode);
  } else if (GetCryptoAPI() == kOk) {
    text = binding_->ErrorText(ErrorCode, this->ErrorText.GetText());
  }
  WriteErrorText(text, ErrorText);
}

int32_t TMPro1CryptoEngine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TMProCryptoEngine.EncodeData:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (Data == nullptr || DataLen == nullptr || *DataLen < 1) return kBadArgument;
    const std::string list =
        RecipientUIDs != nullptr && RecipientUIDs[0] != '\0' ? std::string(RecipientUIDs) : Value(kRecipientsPos);
    std::vector<std::string> uids;
    ParseSemicolonList(list.c_str(), uids);
    std::string files;
    int count = 0;
    for (const std::string& piece : uids) {
      const std::string uid = TrimBlanks(piece);
      if (uid.empty()) continue;
      std::string file;
      if (int32_t r = ResolveUID(uid, file)) return r;
      files += (count++ == 0 ? "" : ";") + file;
    }
    if (count == 0) return kNoRecipients;
    return binding_->Call(*Values(), [&](MPHANDLE h) {
      return binding_->Api().EncodeData(h, Data, DataLen, files.c_str());
    });
  });
}

int32_t TMPro1CryptoEngine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  return Capture("TMProCryptoEngine.DecodeData:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (Data == nullptr || DataLen == nullptr || *DataLen < 1 || SenderUID == nullptr) return kBadArgument;
    const Answer sender = AnswerBuffer();
    const int32_t r = binding_->Call(*Values(), [&](MPHANDLE h) {
      return binding_->Api().DecodeData(h, Data, DataLen, sender.get());
    });
    // The sender is not known to the caller in this system: never leave the buffer undefined.
    SenderUID[0] = '\0';
    return r;
  });
}

int32_t TMPro1CryptoEngine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                     const char* SignUID) {
  return Capture("TMProCryptoEngine.SignData:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (Data == nullptr || DataLen < 1 || Signature == nullptr || SignatureLen == nullptr) return kBadArgument;
    std::string file;
    if (SignUID != nullptr && SignUID[0] != '\0') {
      if (int32_t r = ResolveUID(SignUID, file)) return r;
    }
    return binding_->Call(*Values(), [&](MPHANDLE h) {
      return binding_->Api().SignData(h, Data, DataLen, Signature, SignatureLen, file.c_str());
    });
  });
}

int32_t TMPro1CryptoEngine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                       int32_t SignatureLen, char* SignerUID) {
  return Capture("TMProCryptoEngine.VerifyData:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (Data == nullptr || DataLen < 1 || Signature == nullptr || SignatureLen < 1 || SignerUID == nullptr)
      return kBadArgument;
    int32_t len = DataLen;
    const Answer signer = AnswerBuffer();
    const int32_t r = binding_->Call(*Values(), [&](MPHANDLE h) {
      return binding_->Api().VerifyData(h, Data, &len, Signature, SignatureLen, signer.get());
    });
    if (r != kOk) return r;
    std::string uid;
    if (int32_t u = AnswerToUID(signer.get(), uid)) return u;
    return CopyUID(uid, SignerUID);
  });
}

int32_t TMPro1CryptoEngine::LoadCertificateFile(const std::string& File) {
  if (!platform::IsFile(File)) return kNoPublicKeyFile;
  // Optional in the plug-in: without it nothing can be checked, so nothing is changed.
  if (binding_->Api().LoadCertificate == nullptr) return kMissingFunctions;
  std::vector<uint8_t> image;
  if (!platform::ReadWholeFile(File, image, size_t(WorkSize()) - 1)) return kIOError;
  return binding_->Call(*Values(), [&](MPHANDLE h) {
    return binding_->Api().LoadCertificate(h, image.data(), int32_t(image.size()));
  });
}

int32_t TMPro1CryptoEngine::IncludePublicKey(const char* FileName) {
  return Capture("TMProCryptoEngine.IncludePublicKey:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (FileName == nullptr) return kBadArgument;
    const std::string file = ExpandRootMacro(FileName);
    if (!platform::IsFile(file)) return kNoPublicKeyFile;
    std::string answer, uid;
    if (int32_t r = ReadSubject(platform::NativePath(file), answer)) return r;
    if (int32_t r = AnswerToUID(answer, uid)) return r;
    if (!UsableUID(uid)) return kBadUID;
    // The plug-in checks the certificate before it replaces anything.
    if (int32_t r = LoadCertificateFile(file)) return r;
    std::vector<uint8_t> image;
    if (!platform::ReadWholeFile(file, image, size_t(WorkSize()) - 1)) return kIOError;
    const std::string dir = CertDir();
    const std::string pem = dir + uid + ".pem", cer = dir + uid + ".cer";
    const int32_t n = NextNumberByExtension(dir, uid);
    std::string backup;
    if (platform::IsFile(pem)) {
      // The previous certificate stays as a numbered backup; it and the ".cer" get numbers of their own.
      backup = dir + uid + "." + BackupNumber(n);
      std::vector<uint8_t> old;
      if (!platform::ReadWholeFile(pem, old) || !PublishFile(backup, old.data(), old.size(), {}, false)) return kIOError;
    }
    std::vector<RetiredFile> retired;
    if (platform::IsFile(cer)) retired.push_back({cer, dir + uid + "." + BackupNumber(n + 1)});
    if (!PublishFile(pem, image.data(), image.size(), retired, true)) {
      if (!backup.empty()) platform::RemoveFile(backup);
      return kIOError;
    }
    return kOk;
  });
}

void TMPro1CryptoEngine::ClearCash() {
  if (binding_ && binding_->LibLoaded) mpro::ClearContexts(kind_);
}

int32_t TMPro1CryptoEngine::UpdateCertificateCash(const char* UID) {
  return Capture("TMProCryptoEngine.UpdateCertificateCash:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (UID == nullptr) return kBadArgument;
    std::string file;
    if (int32_t r = ResolveUID(UID, file)) return r;
    return LoadCertificateFile(file);
  });
}

int32_t TMPro1CryptoEngine::RemoveCertificate(const char* UID) {
  return Capture("TMProCryptoEngine.RemoveCertificate:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (UID == nullptr || UID[0] == '\0') return kBadArgument;
    std::string own;
    // Without a certain answer the own certificate could be the one deleted.
    if (int32_t r = FetchCurrentUID(own)) return r;
    if (EqualIgnoringCase(own, UID)) return kOwnCertificate;
    if (!UsableUID(UID)) return kBadUID;
    std::vector<std::string> files;
    for (const char* ext : {".pem", ".cer"}) {
      const std::string path = CertDir() + UID + ext;
      if (platform::IsFile(path)) files.push_back(path);
    }
    if (!files.empty() && !RemoveFilesTogether(files)) return kIOError;
    ClearCash();
    return kOk;
  });
}

std::string TMPro1CryptoEngine::CrlDir() const {
  std::string dir = ParamCount() >= kCrlDirNewer && kind_ != 0 ? Value(kCrlDirNewer) : Value(kCrlDirKind0);
  if (!dir.empty()) return IncludeDirDelimiter(dir);
  // Never a directory relative to wherever the host happens to run.
  if (Value(kWorkDirPos).empty()) return "";
  return ExpandRootDir(Value(kWorkDirPos)) + "CRL\\";
}

int32_t TMPro1CryptoEngine::IncludeCRL(const char* FileName) {
  return Capture("TMProCryptoEngine.IncludeCRL:", kException, [&] {
    if (int32_t r = GetCryptoAPI()) return r;
    if (FileName == nullptr) return kBadArgument;
    const std::string file = ExpandRootMacro(FileName);
    if (!platform::IsFile(file)) return kNoCrlFile;
    const std::string dir = CrlDir();
    if (dir.empty()) return kNoCrlDir;
    if (!platform::IsDirectory(dir)) platform::MakeDirectory(dir);
    if (!platform::IsDirectory(dir)) return kNoCrlDir;
    auto issuerOf = [&](const std::string& crl, std::string& issuer) {
      const Answer out = AnswerBuffer();
      const int32_t r = binding_->Call(*Values(), [&](MPHANDLE h) {
        return binding_->Api().GetCRLIssuerName(h, platform::NativePath(crl).c_str(), out.get());
      });
      issuer = out.get();
      return r == kOk && !issuer.empty();
    };
    std::string issuer;
    if (!issuerOf(file, issuer)) return kBadCrl;
    std::vector<std::string> existing;
    FindFilesByExtension(dir, "pem", existing, false);
    FindFilesByExtension(dir, "crl", existing, false);
    std::vector<RetiredFile> retired;
    for (const std::string& old : existing) {
      std::string oldIssuer;
      if (issuerOf(old, oldIssuer) && oldIssuer == issuer) retired.push_back({old, ""});
    }
    std::vector<uint8_t> image;
    if (!platform::ReadWholeFile(file, image)) return kIOError;
    // The new CRL serves before the issuer's older ones are deleted.
    const std::string target = dir + "crl" + BackupNumber(NextNumberInMask(dir, "crl*.pem")) + ".pem";
    return PublishFile(target, image.data(), image.size(), retired, false) ? kOk : kIOError;
  });
}

}  // namespace zk
