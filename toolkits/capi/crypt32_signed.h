// A signed message (PKCS#7/CMS SignedData in DER) read by the stand-in itself, as a CryptoAPI
// keeps it: the fields it gives out are views into the message's bytes, and the certificates it
// carries stay encoded until someone asks for one. OpenSSL's own CMS decoding would decode every
// carried certificate's public key through its provider decoders, whose shared locks make
// threads wait for each other.
#pragma once

#include <string>
#include <vector>

#include "capi_standin.h"

namespace capistandin {

constexpr char kSignedDataOid[] = "1.2.840.113549.1.7.2";

struct TSpan {
  const BYTE* data = nullptr;
  size_t size = 0;
};

struct TAttribute {
  std::string oid;
  std::vector<TSpan> values;  // each value's whole encoding
};

struct TSigner {
  bool byIssuerAndSerial = false;
  std::vector<BYTE> issuer, serial;  // encoded Name; little-endian serial, as CERT_INFO carries it
  std::string digestOid;
  TSpan signedAttributes;  // the whole [0] element; empty when there are none
  std::vector<TAttribute> attributes;
  TSpan signature;
};

struct TSignedMessage {
  bool hasContent = false;
  TSpan content;
  std::vector<TSpan> certificates;  // each an encoded certificate, not decoded
  std::vector<TSigner> signers;
};

// The dotted OID of a ContentInfo's content type ("" when `der` is no ContentInfo).
std::string ContentTypeOf(const BYTE* der, size_t len);
// Reads all of `der` as a ContentInfo holding SignedData; false when it is anything else or not
// DER. The views point into `der`, which must outlive `out`.
bool ReadSignedMessage(const BYTE* der, size_t len, TSignedMessage& out);

constexpr char kEnvelopedDataOid[] = "1.2.840.113549.1.7.3";
constexpr char kGost28147Oid[] = "1.2.643.2.2.21";
enum class TCipherCheck { kSound, kDamaged, kUnreadable };
// An envelope whose content cipher is GOST 28147-89 is damaged unless its parameters are an
// 8-byte IV and one of the known parameter sets: OpenSSL's GOST engine reads them unchecked and
// crashes on a damaged or unknown set. Anything else is sound; kUnreadable when `der` is not DER this reader follows.
TCipherCheck CheckEnvelopeCipher(const BYTE* der, size_t len);

// The digest with this OID, fetched once for the process (null when unknown).
const EVP_MD* DigestByOid(const std::string& oid);
// The digest of `data` under `oid`.
bool DigestOf(const std::string& oid, const BYTE* data, size_t len, std::vector<BYTE>& digest);
// 0 when `key` made the signer's signature over `content` (through the signed attributes, whose
// messageDigest must then equal the content's digest), else the failure's code.
DWORD VerifySigner(const TSigner& signer, EVP_PKEY* key, const BYTE* content, size_t contentLen);

}  // namespace capistandin
