// CMS helpers of the stand-in "crypt32.dll" (crypt32_cms.cpp): algorithms by OID, decoding and
// encoding through OpenSSL, recipients and public keys.
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

// Issuer (encoded Name) and little-endian serial of a key-transport recipient.
bool RecipientId(CMS_RecipientInfo* ri, std::vector<BYTE>& issuer, std::vector<BYTE>& serial);
bool SameId(const std::vector<BYTE>& issuer, const std::vector<BYTE>& serial, const CERT_INFO& info);

// The public key of a CERT_INFO's SubjectPublicKeyInfo.
EVP_PKEY* PublicKeyOf(const CERT_INFO& info);
// Decrypts recipient `ri` with `key` and gives the content; 0 or the failure's code.
DWORD DecryptFor(CMS_ContentInfo* cms, CMS_RecipientInfo* ri, EVP_PKEY* key, std::vector<BYTE>& content);

}  // namespace capistandin
