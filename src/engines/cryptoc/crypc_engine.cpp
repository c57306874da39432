#include "engines/cryptoc/crypc_engine.h"

#include <cstring>
#include <new>
#include <vector>

#include "engines/cryptoc/crypc_codes.h"
#include "engines/cryptoc/crypc_registry.h"
#include "engines/cryptoc/crypc_secure.h"
#include "frame/cp1251.h"
#include "frame/errors.h"
#include "frame/fileutils.h"

namespace zk {

using namespace cryptoc;

namespace {

enum ParamIndex : size_t {
  kPublicKeyParam = 0,
  kSecretKeyParam = 1,
  kAbonentsDirParam = 2,
  kCADirParam = 3,
  kMethodParam = 4,
  kRecipientParam = 5,
  kKeyTimeoutParam = 6,
  kLastOpTimeoutParam = 7,
  kHashParam = 12,
};

constexpr int32_t kMaxUIDLength = 254;
constexpr int32_t kMaxSignatureLength = kMaxUIDLength + 65;
constexpr int32_t kMaxEncodeAddition = 100 * 303 + 279;
constexpr int32_t kDefaultKeyTimeout = 60;
constexpr int32_t kDefaultLastOpTimeout = 5;

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// A trimmed decimal integer that fits in 32 bits.
bool ParseInteger(const std::string& text, int32_t& value) {
  const std::string s = Trim(text);
  size_t at = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
  if (at == s.size()) return false;
  int64_t number = 0;
  for (; at < s.size(); ++at) {
    if (s[at] < '0' || s[at] > '9') return false;
    number = number * 10 + (s[at] - '0');
    if (number > INT32_MAX) return false;
  }
  value = static_cast<int32_t>(s[0] == '-' ? -number : number);
  return true;
}

// A time-out in seconds: empty gives the default; negative values are not time-outs.
bool ParseTimeout(const std::string& text, int32_t defaultValue, int32_t& value) {
  if (Trim(text).empty()) {
    value = defaultValue;
    return true;
  }
  return ParseInteger(text, value) && value >= 0;
}

bool IsGostHash(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper == "GOST";
}

uint32_t Word(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutWord(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The UID at Data[At, Len): its length (1..254 characters, zero within the package), else -1.
int32_t UIDAt(const uint8_t* Data, int64_t At, int64_t Len) {
  if (At >= Len) return -1;
  const size_t window = static_cast<size_t>(std::min<int64_t>(Len - At, kMaxUIDChars + 1));
  const void* zero = std::memchr(Data + At, 0, window);
  if (zero == nullptr) return -1;
  const int32_t length = static_cast<int32_t>(static_cast<const uint8_t*>(zero) - (Data + At));
  return length >= 1 ? length : -1;
}

constexpr int64_t kEntryFixedSize = 1 + kVectorSize + kMacSize + kSessionKeySize;  // 49 with the UID's zero
constexpr size_t kMaxRecipients = 100;

// Plain or cipher text that never outlives the operation readable.
struct ScratchBuffer {
  explicit ScratchBuffer(size_t size) : data(new (std::nothrow) uint8_t[size > 0 ? size : 1]), size(size) {}
  ~ScratchBuffer() {
    if (data != nullptr) SecureWipe(data, size);
    delete[] data;
  }
  uint8_t* data;
  size_t size;
};

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
  if (!ParseInteger(ParamValue(kMethodParam), S.Method) ||
      !ParseTimeout(ParamValue(kKeyTimeoutParam), kDefaultKeyTimeout, S.KeyTimeout) ||
      !ParseTimeout(ParamValue(kLastOpTimeoutParam), kDefaultLastOpTimeout, S.LastOpTimeout)) {
    return kErrBadNumber;
  }
  return FetchBinding(S.Keys, PasswordRequestFunc, Binding);
}

int32_t TCryptoCEngine::WriteUID(const std::string& UID, char* Dst) {
  // A UID is never cut: a cut UID would name somebody else.
  if (UID.size() >= static_cast<size_t>(GetMaxUIDLength())) return kErrBadData;
  std::memcpy(Dst, UID.c_str(), UID.size() + 1);
  return kOk;
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
  const bool known = (ErrorCode >= 0 && ErrorCode <= 15) || (ErrorCode >= -32 && ErrorCode <= -1);
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
    code = binding->Sign(Data, DataLen, !IsGostHash(ParamValue(kHashParam)), settings.KeyTimeout,
                         settings.LastOpTimeout, block);
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

int32_t TCryptoCEngine::DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0) return kErrBadData;
  Settings settings;
  TCryptoC_DLL* binding = nullptr;
  int32_t code = Prepare(settings, binding);
  if (code != kOk) return code;
  const std::string recipients =
      RecipientUIDs != nullptr && RecipientUIDs[0] != '\0' ? std::string(RecipientUIDs) : Trim(ParamValue(kRecipientParam));
  if (recipients.empty()) return kErrEmptyUID;
  if (settings.Method != kEncryptGamma && settings.Method != kEncryptFeedback) return kErrBadMode;
  std::string own;
  if ((code = binding->GetUID(own)) != kOk) return code;
  std::vector<std::string> uids;
  if (ParseSemicolonList(recipients.c_str(), uids) < 1) return kErrEmptyUID;
  // GetMaxEncodeAddition promises room for 100 recipients of up to 254 characters; a package
  // that needs more is refused before anything is written.
  if (uids.size() > kMaxRecipients) return kErrBadData;
  int64_t headerLen = 8 + static_cast<int64_t>(own.size()) + 1;
  for (const std::string& uid : uids) {
    if (uid.size() > kMaxUIDChars) return kErrBadData;
    headerLen += static_cast<int64_t>(uid.size()) + kEntryFixedSize;
  }
  const int64_t plainLen = *DataLen;
  const int64_t total = headerLen + 2 * kVectorSize + plainLen;
  if (total - plainLen > kMaxEncodeAddition || total > INT32_MAX) return kErrBadData;

  SecretBlock<kSessionKeySize> session;
  if ((code = binding->Random(session.data(), kSessionKeySize)) != kOk) return code;
  std::vector<uint8_t> header;
  header.reserve(static_cast<size_t>(headerLen));
  PutWord(header, static_cast<uint32_t>(uids.size()));
  PutWord(header, static_cast<uint32_t>(settings.Method));
  header.insert(header.end(), own.c_str(), own.c_str() + own.size() + 1);
  for (const std::string& uid : uids) {
    SecretBlock<kSessionKeySize> pairKey;
    code = binding->PairwiseKey(uid, settings.KeyTimeout, settings.LastOpTimeout, pairKey.data());
    if (code != kOk) return code;
    uint8_t s[kVectorSize], m[kMacSize], wrapped[kSessionKeySize];
    code = binding->Cipher(settings.Method, session.data(), wrapped, kSessionKeySize, pairKey.data(), s, m);
    if (code != kOk) return code;
    header.insert(header.end(), uid.c_str(), uid.c_str() + uid.size() + 1);
    header.insert(header.end(), s, s + kVectorSize);
    header.insert(header.end(), m, m + kMacSize);
    header.insert(header.end(), wrapped, wrapped + kSessionKeySize);
  }
  // The body is encrypted aside: the caller's data stays as it was until nothing can fail.
  ScratchBuffer body(static_cast<size_t>(plainLen));
  if (body.data == nullptr) return kErrNoMemory;
  uint8_t s[kVectorSize], m[kMacSize];
  code = binding->Cipher(settings.Method, Data, body.data, static_cast<uint32_t>(plainLen), session.data(), s, m);
  if (code != kOk) return code;
  std::memcpy(Data, header.data(), header.size());
  std::memcpy(Data + header.size(), s, kVectorSize);
  std::memcpy(Data + header.size() + kVectorSize, m, kMacSize);
  if (plainLen > 0) std::memcpy(Data + header.size() + 2 * kVectorSize, body.data, static_cast<size_t>(plainLen));
  *DataLen = static_cast<int32_t>(total);
  return kOk;
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

int32_t TCryptoCEngine::DoDecodeData(uint8_t* Data, int32_t* DataLen) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0) return kErrBadData;
  Settings settings;
  TCryptoC_DLL* binding = nullptr;
  int32_t code = Prepare(settings, binding);
  if (code != kOk) return code;
  std::string own;
  if ((code = binding->GetUID(own)) != kOk) return code;
  const int64_t len = *DataLen;
  if (len < 8) return kErrBadData;
  const uint32_t count = Word(Data);
  const uint32_t method = Word(Data + 4);
  const int32_t senderLen = UIDAt(Data, 8, len);
  if (senderLen < 0) return kErrBadData;
  const std::string sender(reinterpret_cast<const char*>(Data + 8), static_cast<size_t>(senderLen));
  // Every entry is checked against the package's end before it is read; each one is at least
  // 50 bytes long, so the walk ends within the package whatever count claims.
  int64_t at = 8 + senderLen + 1;
  int64_t mine = -1;
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t uidLen = UIDAt(Data, at, len);
    if (uidLen < 0 || at + uidLen + kEntryFixedSize > len) return kErrBadData;
    if (mine < 0 && own.size() == static_cast<size_t>(uidLen) && std::memcmp(Data + at, own.data(), own.size()) == 0) {
      mine = at + uidLen + 1;
    }
    at += uidLen + kEntryFixedSize;
  }
  if (mine < 0) return kErrNotForUs;
  if (at + 2 * kVectorSize > len) return kErrBadData;

  SecretBlock<kSessionKeySize> pairKey, session;
  code = binding->PairwiseKey(sender, settings.KeyTimeout, settings.LastOpTimeout, pairKey.data());
  if (code != kOk) return code;
  const int32_t mode = method <= 1 ? static_cast<int32_t>(method) + 2 : -1;
  uint8_t s[kVectorSize], m[kMacSize];
  std::memcpy(s, Data + mine, kVectorSize);
  std::memcpy(m, Data + mine + kVectorSize, kMacSize);
  code = binding->Cipher(mode, Data + mine + 2 * kVectorSize, session.data(), kSessionKeySize, pairKey.data(), s, m);
  if (code != kOk) return code;
  const int64_t bodyLen = len - at - 2 * kVectorSize;
  std::memcpy(s, Data + at, kVectorSize);
  std::memcpy(m, Data + at + kVectorSize, kMacSize);
  ScratchBuffer plain(static_cast<size_t>(bodyLen));
  if (plain.data == nullptr) return kErrNoMemory;
  code = binding->Cipher(mode, Data + at + 2 * kVectorSize, plain.data, static_cast<uint32_t>(bodyLen),
                         session.data(), s, m);
  if (code != kOk) return code;
  if (bodyLen > 0) std::memcpy(Data, plain.data, static_cast<size_t>(bodyLen));
  *DataLen = static_cast<int32_t>(bodyLen);
  return kOk;
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
