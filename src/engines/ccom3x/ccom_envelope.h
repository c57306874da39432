// The engine's envelope (little-endian integers), N recipients, plaintext of L bytes:
//   N (4), method (4), sender UID + zero,
//   N entries: recipient UID + zero, MAC (4) and session key (32), both under the pairwise key,
//   vector (8), MAC of the plaintext under the session key (4), the sender's key-agreement
//   value (65), cipher text (L).
// Signatures: signer UID + zero, then 64 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engines/ccom3x/ccom_api.h"

namespace zk::ccom3x {

constexpr size_t kEnvelopeEntryExtra = 1 + kMacSize + kSessionKeySize;  // 37 besides the UID
constexpr size_t kEnvelopeTailSize = kVectorSize + kMacSize + kPublicValueSize;  // 77
constexpr size_t kMaxRecipients = 100;
// Announced room: 100 entries of the longest UID and the header and tail of the longest sender.
constexpr int32_t kMaxEncodeAddition = 100 * 291 + 351;

struct EnvelopeEntry {
  const char* UID;  // zero-terminated inside the envelope
  size_t UIDLen;
  const uint8_t* Mac;
  const uint8_t* WrappedKey;
};

struct EnvelopeView {
  uint32_t Count = 0;
  uint32_t Method = 0;
  const char* SenderUID = nullptr;
  std::vector<EnvelopeEntry> Entries;
  const uint8_t* Vector = nullptr;
  const uint8_t* BodyMac = nullptr;
  const uint8_t* SenderValue = nullptr;
  const uint8_t* CipherText = nullptr;
  size_t CipherTextLen = 0;
};

// Checks every offset against Len; 0, or -15 when the structure does not fit.
int32_t ParseEnvelope(const uint8_t* Data, size_t Len, EnvelopeView& View);

// The size of an envelope with these UIDs and plaintext length.
uint64_t EnvelopeSize(const std::string& SenderUID, const std::vector<std::string>& UIDs, size_t Len);

// A signature block: 0 with the signer UID and the 64 signature bytes, or -12.
int32_t ParseSignature(const uint8_t* Signature, size_t Len, std::string& UID, const uint8_t*& Value);

}  // namespace zk::ccom3x
