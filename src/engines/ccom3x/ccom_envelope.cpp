#include "engines/ccom3x/ccom_envelope.h"

#include <cstring>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_pubkey.h"

namespace zk::ccom3x {

namespace {

// The length of a zero-terminated string starting at `at`, or false when no zero is in bounds.
bool StringAt(const uint8_t* data, size_t len, size_t at, size_t& length) {
  const void* zero = std::memchr(data + at, 0, len - at);
  if (zero == nullptr) return false;
  length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - (data + at));
  return true;
}

}  // namespace

void PutUint32(std::vector<uint8_t>& Out, uint32_t Value) {
  for (int i = 0; i < 4; ++i) Out.push_back(static_cast<uint8_t>(Value >> (8 * i)));
}

uint32_t GetUint32LE(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | static_cast<uint32_t>(P[1]) << 8 | static_cast<uint32_t>(P[2]) << 16 |
         static_cast<uint32_t>(P[3]) << 24;
}

int32_t ParseEnvelope(const uint8_t* Data, size_t Len, EnvelopeView& View) {
  if (Data == nullptr || Len < 8) return kErrBadEnvelope;
  View = EnvelopeView();
  View.Count = GetUint32LE(Data);
  View.Method = GetUint32LE(Data + 4);
  size_t at = 8;
  size_t uidLen = 0;
  if (at >= Len || !StringAt(Data, Len, at, uidLen)) return kErrBadEnvelope;
  View.SenderUID = reinterpret_cast<const char*>(Data + at);
  at += uidLen + 1;
  // Every entry takes at least 37 bytes besides its UID: a count that cannot fit is
  // refused before anything is allocated for it.
  if (View.Count == 0 || View.Count > (Len - at) / kEnvelopeEntryExtra) return kErrBadEnvelope;
  View.Entries.reserve(View.Count);
  for (uint32_t i = 0; i < View.Count; ++i) {
    if (at >= Len || !StringAt(Data, Len, at, uidLen)) return kErrBadEnvelope;
    EnvelopeEntry entry{reinterpret_cast<const char*>(Data + at), uidLen, nullptr, nullptr};
    at += uidLen + 1;
    if (Len - at < kMacSize + kSessionKeySize) return kErrBadEnvelope;
    entry.Mac = Data + at;
    entry.WrappedKey = Data + at + kMacSize;
    at += kMacSize + kSessionKeySize;
    View.Entries.push_back(entry);
  }
  if (Len - at < kEnvelopeTailSize) return kErrBadEnvelope;
  View.Vector = Data + at;
  View.BodyMac = Data + at + kVectorSize;
  View.SenderValue = Data + at + kVectorSize + kMacSize;
  at += kEnvelopeTailSize;
  View.CipherText = Data + at;
  View.CipherTextLen = Len - at;
  return kOk;
}

uint64_t EnvelopeSize(const std::string& SenderUID, const std::vector<std::string>& UIDs, size_t Len) {
  uint64_t size = 8 + SenderUID.size() + 1;
  for (const std::string& uid : UIDs) size += uid.size() + kEnvelopeEntryExtra;
  return size + kEnvelopeTailSize + Len;
}

int32_t ParseSignature(const uint8_t* Signature, size_t Len, std::string& UID, const uint8_t*& Value) {
  if (Signature == nullptr || Len == 0) return kErrBadSignatureFormat;
  size_t uidLen = 0;
  if (!StringAt(Signature, Len, 0, uidLen)) return kErrBadSignatureFormat;
  if (uidLen < 1 || uidLen > kMaxUIDChars || Len - uidLen - 1 != static_cast<size_t>(kSignatureSize))
    return kErrBadSignatureFormat;
  UID.assign(reinterpret_cast<const char*>(Signature), uidLen);
  Value = Signature + uidLen + 1;
  return kOk;
}

}  // namespace zk::ccom3x
