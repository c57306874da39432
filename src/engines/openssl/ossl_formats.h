// The engine's own signature and envelope formats (all integers 32-bit little-endian).
//
// Signature: signer UID, byte 0, HashId (1 SHA-0, 2 MD5), then a PKCS#1 v1.5 RSA signature of
// what RSA_sign with type 0 signs: a DigestInfo naming the undefined object (OID 06 01 00) with the
// digest, 30 1D 30 05 06 01 00 05 00 04 14 + SHA-0 or 30 19 30 05 06 01 00 05 00 04 10 + MD5.
//
// Envelope: RecipientCount, Algorithm, per recipient {UID, byte 0, KeyBlockLen, KeyBlock}, the
// ciphertext, HeaderLen (the offset of the ciphertext). A KeyBlock is the RSA PKCS#1 v1.5
// encryption of the 16-byte session key followed by the plaintext's MD5.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engines/openssl/ossl_objects.h"
#include "frame/secure.h"

namespace zk::ossl {

enum HashId : uint8_t { kHashSha = 1, kHashMd5 = 2 };

enum CipherId : uint32_t { kRc4 = 1, kRc2Ecb = 2, kRc2Cbc = 3, kRc5Ecb = 4, kRc5Cbc = 5 };

constexpr size_t kSessionKeyBytes = 16;
constexpr size_t kMd5Bytes = 16;
constexpr size_t kKeyBlockBytes = kSessionKeyBytes + kMd5Bytes;
constexpr size_t kCipherBlockBytes = 8;

// "SHA" or "MD5" in any case; 0 for anything else.
uint8_t HashIdByName(const std::string& Name);
// "RC4", "RC2_ECB", "RC2_CBC", "RC5_ECB", "RC5_CBC" in any case; 0 for anything else.
uint32_t CipherIdByName(const std::string& Name);

// The DigestInfo that is signed for the data's digest under HashId; empty for an unknown HashId.
std::vector<uint8_t> DigestInfoOf(uint8_t HashId, const uint8_t* Data, size_t Len);
void Md5Of(const uint8_t* Data, size_t Len, uint8_t Digest[kMd5Bytes]);

// The RSA part of a signature (RSA_size bytes). 0 or an OpenSSL failure code.
int32_t RsaSignDigestInfo(RsaKey* Key, const std::vector<uint8_t>& DigestInfo, std::vector<uint8_t>& Signature);
// 0 when the RSA part carries exactly this DigestInfo, or its digest under the digest's standard
// identifier; -60 for a part of the wrong length; an OpenSSL code when it does not decrypt; -59
// when it decrypts to something else (another digest, or a digest of another length).
int32_t RsaVerifyDigestInfo(RsaKey* Key, const uint8_t* Signature, size_t Len, const std::vector<uint8_t>& DigestInfo);

struct SignatureView {
  std::string UID;
  uint8_t HashId = 0;
  const uint8_t* RsaPart = nullptr;
  size_t RsaPartLen = 0;
};
// Splits a signature; -60 when the UID does not end inside it, is empty, or no RSA part follows.
int32_t ParseSignature(const uint8_t* Signature, int32_t Len, SignatureView& View);

// Length of the ciphertext for a plaintext of Len bytes: Len for RC4, else the length-prefixed,
// padded block (1 to 8 bytes of padding are always added).
size_t CipherTextLength(uint32_t Cipher, size_t Len);
// Encrypts Plain into Out (CipherTextLength bytes). Out may overlap Plain when it starts at or
// after it (an envelope is built in the caller's buffer, the ciphertext after the header). Makes
// no allocation, so it cannot fail half-way.
void EncryptSession(uint32_t Cipher, const uint8_t* Key, const uint8_t* Plain, size_t Len, uint8_t* Out);
// Decrypts Len bytes of In into Out (Len bytes; may be In); the plaintext is then
// Out[Offset .. Offset + PlainLen). 0, -35 (unknown algorithm), -11/-12/-36 (not whole blocks),
// -39 (the length prefix does not describe the block).
int32_t DecryptSession(uint32_t Cipher, const uint8_t* Key, const uint8_t* In, uint8_t* Out, size_t Len,
                       size_t& Offset, size_t& PlainLen);

struct EnvelopeEntryView {
  std::string UID;
  const uint8_t* KeyBlock = nullptr;
  uint32_t KeyBlockLen = 0;
};
struct EnvelopeView {
  uint32_t RecipientCount = 0;
  uint32_t Cipher = 0;
  std::vector<EnvelopeEntryView> Entries;
  size_t HeaderLen = 0;
  uint8_t* CipherText = nullptr;
  size_t CipherTextLen = 0;
};
// Splits an envelope, checking every offset against Len: -36 for anything that does not fit.
int32_t ParseEnvelope(uint8_t* Data, int32_t Len, EnvelopeView& View);

// Header bytes of one recipient entry.
inline size_t EntryBytes(const std::string& UID, size_t KeyBlockLen) { return UID.size() + 1 + 4 + KeyBlockLen; }


}  // namespace zk::ossl
