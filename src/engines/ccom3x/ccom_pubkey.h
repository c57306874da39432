// The public-key file of a user or correspondent (little-endian integers):
//   total length (4, equal to the file size), T (4), text block of T bytes
//   ("\r\n" UID "\r\n" description "\r\n"), algorithm identifier (4), K (4, at most 65), the key
//   (K), G (4, at most 64), and G bytes of signature over every byte before it, made with the
//   file's own key. The signature ends the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engines/ccom3x/ccom_api.h"

namespace zk::ccom3x {

constexpr size_t kMaxPublicKeyFileSize = 1143;
constexpr size_t kMaxUIDChars = 254;
constexpr size_t kMaxDescriptionChars = 734;

// One parsed public-key file.
struct TCCom3x_CashNode {
  std::string FilePath;
  std::string UID;
  std::string Description;
  uint32_t AlgorithmId = 0;
  int32_t KeyLen = 0;
  uint8_t Key[kPublicValueSize] = {};
  int32_t SignatureLen = 0;
  uint8_t Signature[kSignatureSize] = {};
  // The bytes the self-signature covers, kept so that it is checked against what was parsed.
  std::vector<uint8_t> SignedPart;
  // The self-signature is checked once; the outcome is remembered.
  bool SelfSignatureChecked = false;
  bool SelfSignatureGood = false;
};

// 0, or -9 when the image is not a valid public-key file.
int32_t ParsePublicKeyImage(const uint8_t* Data, size_t Size, TCCom3x_CashNode& Node);
// Reads (at most kMaxPublicKeyFileSize bytes) and parses a file; 0 or -9.
int32_t ReadPublicKeyFile(const std::string& Path, TCCom3x_CashNode& Node);
// The whole file image, for copying it into the correspondents' directory; 0 or -9.
int32_t ReadPublicKeyImage(const std::string& Path, std::vector<uint8_t>& Image, TCCom3x_CashNode& Node);

}  // namespace zk::ccom3x
