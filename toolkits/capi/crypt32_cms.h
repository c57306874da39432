// CMS helpers of the stand-in "crypt32.dll" (crypt32_cms.cpp): algorithms by OID, decoding, and
// the signature check every verifying call shares.
#pragma once

#include <openssl/cms.h>

#include "crypt32_internal.h"

namespace capistandin {

// A digest or cipher by OID: fetched from the stand-in's context, else the GOST engine's.
struct TDigest {
  explicit TDigest(const char* oid);
  ~TDigest();
  TDigest(const TDigest&) = delete;
  TDigest& operator=(const TDigest&) = delete;
  const EVP_MD* md = nullptr;
  EVP_MD* fetched = nullptr;
};
struct TCipher {
  explicit TCipher(const char* oid);
  ~TCipher();
  TCipher(const TCipher&) = delete;
  TCipher& operator=(const TCipher&) = delete;
  const EVP_CIPHER* cipher = nullptr;
  EVP_CIPHER* fetched = nullptr;
};

// The whole of `der` as a CMS ContentInfo, or null.
CMS_ContentInfo* DecodeCms(const BYTE* der, size_t len);
bool EncodeCms(CMS_ContentInfo* cms, std::vector<BYTE>& out);

// Issuer (encoded Name) and little-endian serial of a signer or key-transport recipient.
bool SignerId(CMS_SignerInfo* si, std::vector<BYTE>& issuer, std::vector<BYTE>& serial);
bool RecipientId(CMS_RecipientInfo* ri, std::vector<BYTE>& issuer, std::vector<BYTE>& serial);
bool SameId(const std::vector<BYTE>& issuer, const std::vector<BYTE>& serial, const CERT_INFO& info);

// The public key of a CERT_INFO's SubjectPublicKeyInfo.
EVP_PKEY* PublicKeyOf(const CERT_INFO& info);
// The digest of the content under the signer's algorithm.
bool ContentDigest(CMS_SignerInfo* si, const std::vector<BYTE>& content, std::vector<BYTE>& digest);
// 0 when `key` made the signature over `content` (through the signed attributes, whose
// messageDigest must then equal the content's digest), else the failure's code.
DWORD VerifySigner(CMS_SignerInfo* si, EVP_PKEY* key, const std::vector<BYTE>& content);
// Decrypts recipient `ri` with `key` and gives the content; 0 or the failure's code.
DWORD DecryptFor(CMS_ContentInfo* cms, CMS_RecipientInfo* ri, EVP_PKEY* key, std::vector<BYTE>& content);

}  // namespace capistandin
