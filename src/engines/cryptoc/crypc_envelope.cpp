// The envelope: the session key wrapped for every recipient under the pairwise key, then the body,
// each with its vector and MAC.
//
//   offset      size   field (little-endian)
//   0           4      N, the number of recipients
//   4           4      method: 0 gamma, 1 gamma with feedback
//   8           u + 1  sender's UID and its zero
//   9 + u       N x    recipient UID and its zero, S (8), M (8), wrapped session key (32)
//   then        8      body S
//               8      body M
//               L      cipher text
#include <cstring>
#include <new>
#include <vector>

#include "engines/cryptoc/crypc_codes.h"
#include "engines/cryptoc/crypc_engine.h"
#include "engines/cryptoc/crypc_registry.h"
#include "frame/fileutils.h"
#include "frame/secure.h"
#include "frame/textrules.h"

namespace zk {

using namespace cryptoc;

namespace {

// The UID at Data[At, Len): its length (1..254 characters, zero within the package), else -1.
int32_t UIDAt(const uint8_t* Data, int64_t At, int64_t Len) {
  size_t length = 0;
  if (At >= Len || !ScanUID(Data + At, static_cast<size_t>(Len - At), kMaxUIDChars, length)) return -1;
  return static_cast<int32_t>(length);
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

int32_t TCryptoCEngine::DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0) return kErrBadData;
  Settings settings;
  TCryptoC_DLL* binding = nullptr;
  int32_t code = Prepare(settings, binding);
  if (code != kOk) return code;
  const std::string recipients = Recipients(RecipientUIDs);
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

  Secret<kSessionKeySize> session;
  if ((code = binding->Random(session.data(), kSessionKeySize)) != kOk) return code;
  std::vector<uint8_t> header;
  header.reserve(static_cast<size_t>(headerLen));
  AppendLE32(header, static_cast<uint32_t>(uids.size()));
  AppendLE32(header, static_cast<uint32_t>(settings.Method));
  header.insert(header.end(), own.c_str(), own.c_str() + own.size() + 1);
  for (const std::string& uid : uids) {
    Secret<kSessionKeySize> pairKey;
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
  const uint32_t count = ReadLE32(Data);
  const uint32_t method = ReadLE32(Data + 4);
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

  Secret<kSessionKeySize> pairKey, session;
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

}  // namespace zk
