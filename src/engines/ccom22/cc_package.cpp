// Encryption for one recipient (the session-key record replaces the data) and for several (a
// package), and their decryption. The package, all integers little-endian:
//
//   0            4      marker 0xFFFFFFFF
//   4            4      N, the number of recipients
//   8            32*N   recipient UIDs, each zero-terminated at the start of its own slot
//   8+32N        256*N  key slots: length R (4), then R bytes of the session-key record that holds
//                       the body's session key for that recipient
//   8+288N       B      body record
#include <cstring>

#include "engines/ccom22/cc_codes.h"
#include "engines/ccom22/cc_engine.h"
#include "frame/errors.h"
#include "frame/fileutils.h"

namespace zk {

using namespace ccom22;

namespace {

constexpr uint32_t kPackageMarker = 0xFFFFFFFFu;
constexpr size_t kPackageHead = 8;
constexpr size_t kUIDSlot = 32;
constexpr size_t kKeySlot = 256;
constexpr size_t kMaxSlotRecord = kKeySlot - 4;
constexpr size_t kMaxEncodeAddition = 4104;
const char kSlotCipher[] = "28147-ECB";
constexpr size_t kEncryptForUIDParam = 7;  // "Encrypt for UID"

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The result replaces the data only when it fits the room the caller was told to leave.
int32_t ReplaceData(const uint8_t* Result, size_t Size, size_t OldLen, uint8_t* Data, int32_t* DataLen) {
  if (Size > OldLen + kMaxEncodeAddition || Size > static_cast<size_t>(INT32_MAX)) return kErrBufferLength;
  if (Size > 0) std::memcpy(Data, Result, Size);
  *DataLen = static_cast<int32_t>(Size);
  return kOk;
}

}  // namespace

int32_t TCcom22Engine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TCcom22Engine.EncodeData ", kErrEngineException, [&]() -> int32_t {
    std::string uid;
    Settings s;
    if (DataLen == nullptr) return kErrNullOrLength;
    if (int32_t code = Prologue(Data, *DataLen, uid, s)) return code;
    const std::string recipients =
        RecipientUIDs != nullptr && RecipientUIDs[0] != '\0' ? RecipientUIDs : ParamValue(kEncryptForUIDParam);
    if (recipients.find(';') == std::string::npos) return EncodeSingle(s, recipients, Data, DataLen);
    std::vector<std::string> list;
    ParseSemicolonList(recipients.c_str(), list);
    if (list.size() < 2) return kErrBadParams;
    return EncodeForUsers(s, list, Data, DataLen);
  });
}

int32_t TCcom22Engine::EncodeSingle(const Settings& S, const std::string& Recipient, uint8_t* Data,
                                    int32_t* DataLen) {
  const size_t len = static_cast<size_t>(*DataLen);
  std::vector<uint8_t> record;
  const int32_t code = WithKeys(S, [&] { return binding_->EncryptForUID(S, Recipient, Data, len, record); });
  if (code != kOk) return code;
  return ReplaceData(record.data(), record.size(), len, Data, DataLen);
}

int32_t TCcom22Engine::EncodeForUsers(const Settings& S, const std::vector<std::string>& Recipients, uint8_t* Data,
                                      int32_t* DataLen) {
  return Capture("TCcom22Engine.EncodeDataForUsers ", kErrEngineException, [&]() -> int32_t {
    const size_t n = Recipients.size();
    const size_t len = static_cast<size_t>(*DataLen);
    // The head alone must fit the room the caller leaves; from 15 recipients it cannot.
    if (kPackageHead + (kUIDSlot + kKeySlot) * n > kMaxEncodeAddition) return kErrBufferLength;
    for (const std::string& recipient : Recipients) {
      if (recipient.size() >= kUIDSlot) return kErrNullOrLength;
    }
    std::vector<uint8_t> body;
    Secret<kSessionKeySize> key;
    int32_t code = WithKeys(S, [&] { return binding_->EncryptBody(S, Data, len, body, key); });
    if (code != kOk) return code;

    std::vector<uint8_t> package(kPackageHead + (kUIDSlot + kKeySlot) * n, 0);
    PutLe32(package.data(), kPackageMarker);
    PutLe32(package.data() + 4, static_cast<uint32_t>(n));
    Settings slotSettings = S;
    slotSettings.Cipher = kSlotCipher;
    for (size_t i = 0; i < n; ++i) {
      std::vector<uint8_t> record;
      code = WithKeys(S, [&] {
        return binding_->EncryptForUID(slotSettings, Recipients[i], key.data(), key.size(), record);
      });
      if (code != kOk) return code;
      if (record.size() > kMaxSlotRecord) return kErrKeySlot;
      std::memcpy(package.data() + kPackageHead + kUIDSlot * i, Recipients[i].c_str(), Recipients[i].size());
      uint8_t* slot = package.data() + kPackageHead + kUIDSlot * n + kKeySlot * i;
      PutLe32(slot, static_cast<uint32_t>(record.size()));
      std::memcpy(slot + 4, record.data(), record.size());
    }
    package.insert(package.end(), body.begin(), body.end());
    return ReplaceData(package.data(), package.size(), len, Data, DataLen);
  });
}

int32_t TCcom22Engine::DecodeData(uint8_t* Data, int32_t* DataLen, char*) {
  return Capture("TCcom22Engine.DecodeData ", kErrEngineException, [&]() -> int32_t {
    std::string uid;
    Settings s;
    if (DataLen == nullptr) return kErrNullOrLength;
    if (int32_t code = Prologue(Data, *DataLen, uid, s)) return code;
    if (*DataLen >= 4 && GetLe32(Data) == kPackageMarker) return DecodePackage(s, Data, DataLen);
    SecureBytes plain;
    const int32_t code = WithKeys(s, [&] {
      return binding_->DecryptForUser(s, Data, static_cast<size_t>(*DataLen), plain);
    });
    if (code != kOk) return code;
    // The record stays as it was until its plain text has proved intact.
    if (plain.size() > 0) std::memcpy(Data, plain.data(), plain.size());
    *DataLen = static_cast<int32_t>(plain.size());
    return kOk;
  });
}

int32_t TCcom22Engine::DecodePackage(const Settings& S, uint8_t* Data, int32_t* DataLen) {
  const size_t len = static_cast<size_t>(*DataLen);
  if (len < kPackageHead) return kErrBadRecord;
  const uint64_t n = GetLe32(Data + 4);
  const uint64_t bodyAt = kPackageHead + (kUIDSlot + kKeySlot) * n;
  if (n < 1 || bodyAt > len) return kErrBadRecord;
  size_t index = n;
  for (size_t i = 0; i < n && index == n; ++i) {
    const char* slot = reinterpret_cast<const char*>(Data + kPackageHead + kUIDSlot * i);
    const size_t uidLen = strnlen(slot, kUIDSlot);
    if (uidLen < kUIDSlot && S.UserUID.compare(0, std::string::npos, slot, uidLen) == 0) index = i;
  }
  if (index == n) return kErrCannotDecrypt;
  const uint8_t* keySlot = Data + kPackageHead + kUIDSlot * n + kKeySlot * index;
  const size_t recordLen = GetLe32(keySlot);
  if (recordLen > kMaxSlotRecord) return kErrBadRecord;

  Settings slotSettings = S;
  slotSettings.Cipher = kSlotCipher;
  SecureBytes key;
  int32_t code = WithKeys(S, [&] { return binding_->DecryptForUser(slotSettings, keySlot + 4, recordLen, key); });
  if (code != kOk) return code;
  if (key.size() != kSessionKeySize) return kErrBadRecord;
  SecureBytes plain;
  code = WithKeys(S, [&] {
    return binding_->DecryptBody(S, Data + bodyAt, len - static_cast<size_t>(bodyAt), key.data(), plain);
  });
  if (code != kOk) return code;
  if (plain.size() > 0) std::memcpy(Data, plain.data(), plain.size());
  *DataLen = static_cast<int32_t>(plain.size());
  return kOk;
}

}  // namespace zk
