#include "engines/ccom3x/ccom_pubkey.h"

#include <cstring>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_envelope.h"
#include "frame/fileutils.h"
#include "frame/lefields.h"

namespace zk::ccom3x {

namespace {

// Reads a 4-byte field at `at` when it fits; advances `at`.
bool Field(const uint8_t* data, size_t size, size_t& at, uint32_t& value) {
  if (size - at < 4) return false;
  value = ReadLE32(data + at);
  at += 4;
  return true;
}

// "\r\n" UID "\r\n" description "\r\n", the UID non-empty; neither holds a NUL (UIDs travel as
// zero-terminated strings).
bool ParseText(const uint8_t* text, size_t size, std::string& uid, std::string& description) {
  const std::string block(reinterpret_cast<const char*>(text), size);
  if (size < 6 || block.compare(0, 2, "\r\n") != 0 || block.compare(size - 2, 2, "\r\n") != 0) return false;
  if (block.find('\0') != std::string::npos) return false;
  // The UID ends at the first "\r\n"; the block's last "\r\n" ends the description.
  const size_t uidEnd = block.find("\r\n", 2);
  if (uidEnd == std::string::npos || uidEnd == 2 || uidEnd + 2 > size - 2) return false;
  uid = block.substr(2, uidEnd - 2);
  description = block.substr(uidEnd + 2, size - 2 - (uidEnd + 2));
  return uid.size() <= kMaxUIDChars && description.size() <= kMaxDescriptionChars;
}

}  // namespace

int32_t ParsePublicKeyImage(const uint8_t* Data, size_t Size, TCCom3x_CashNode& Node) {
  if (Data == nullptr || Size > kMaxPublicKeyFileSize) return kErrBadPublicKeyFile;
  size_t at = 0;
  uint32_t total = 0, textLen = 0, algorithm = 0, keyLen = 0, signatureLen = 0;
  if (!Field(Data, Size, at, total) || total != Size) return kErrBadPublicKeyFile;
  if (!Field(Data, Size, at, textLen) || textLen > Size - at) return kErrBadPublicKeyFile;
  std::string uid, description;
  if (!ParseText(Data + at, textLen, uid, description)) return kErrBadPublicKeyFile;
  at += textLen;
  if (!Field(Data, Size, at, algorithm) || !Field(Data, Size, at, keyLen)) return kErrBadPublicKeyFile;
  if (keyLen > static_cast<uint32_t>(kPublicValueSize) || keyLen > Size - at) return kErrBadPublicKeyFile;
  const size_t keyAt = at;
  at += keyLen;
  if (!Field(Data, Size, at, signatureLen)) return kErrBadPublicKeyFile;
  if (signatureLen > static_cast<uint32_t>(kSignatureSize) || signatureLen != Size - at) return kErrBadPublicKeyFile;

  Node.UID = uid;
  Node.Description = description;
  Node.AlgorithmId = algorithm;
  Node.KeyLen = static_cast<int32_t>(keyLen);
  std::memset(Node.Key, 0, sizeof Node.Key);
  std::memcpy(Node.Key, Data + keyAt, keyLen);
  Node.SignatureLen = static_cast<int32_t>(signatureLen);
  std::memset(Node.Signature, 0, sizeof Node.Signature);
  std::memcpy(Node.Signature, Data + at, signatureLen);
  Node.SignedPart.assign(Data, Data + at);
  Node.SelfSignatureChecked = false;
  Node.SelfSignatureGood = false;
  return kOk;
}

int32_t ReadPublicKeyImage(const std::string& Path, std::vector<uint8_t>& Image, TCCom3x_CashNode& Node) {
  // One byte more than a valid file may have, so that a longer file is seen as such.
  uint8_t buffer[kMaxPublicKeyFileSize + 1];
  int32_t size = static_cast<int32_t>(sizeof buffer);
  if (Path.empty() || !ReadFileToBuffer(Path, buffer, size)) return kErrBadPublicKeyFile;
  const int32_t code = ParsePublicKeyImage(buffer, static_cast<size_t>(size), Node);
  if (code != kOk) return code;
  Node.FilePath = Path;
  Image.assign(buffer, buffer + size);
  return kOk;
}

int32_t ReadPublicKeyFile(const std::string& Path, TCCom3x_CashNode& Node) {
  std::vector<uint8_t> image;
  return ReadPublicKeyImage(Path, image, Node);
}

}  // namespace zk::ccom3x
