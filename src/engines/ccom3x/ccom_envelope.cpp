#include "engines/ccom3x/ccom_envelope.h"

#include <cstdint>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_pubkey.h"
#include "frame/lefields.h"
#include "frame/textrules.h"

namespace zk::ccom3x {

namespace {

// The length of a zero-terminated string starting at `at`, or false when no zero is in bounds.
bool StringAt(const uint8_t* data, size_t len, size_t at, size_t& length) {
  return at < len && ScanZeroTerminated(data + at, len - at, SIZE_MAX, length);
}

}  // namespace

int32_t ParseEnvelope(const uint8_t* Data, size_t Len, EnvelopeView& View) {
  if (Data == nullptr || Len < 8) return kErrBadEnvelope;
  View = EnvelopeView();
  View.Count = ReadLE32(Data);
  View.Method = ReadLE32(Data + 4);
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
  if (!ScanUID(Signature, Len, kMaxUIDChars, uidLen) || Len - uidLen - 1 != static_cast<size_t>(kSignatureSize))
    return kErrBadSignatureFormat;
  UID.assign(reinterpret_cast<const char*>(Signature), uidLen);
  Value = Signature + uidLen + 1;
  return kOk;
}

}  // namespace zk::ccom3x
