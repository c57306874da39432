// A small DER reader for what the binding takes from certificates itself: subject attributes,
// the key number in the subject alternative name, and the messageDigest of signed attributes.
// The same on every system, so no CryptDecodeObject structure layouts are needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zk::capi {

struct TDerItem {
  uint8_t Tag = 0;
  const uint8_t* Content = nullptr;
  size_t Length = 0;
};

// Reads one item at Data; false when it is cut short or its length form is not DER.
bool ReadDerItem(const uint8_t*& Data, size_t& Left, TDerItem& Item);
// The dotted text of an OBJECT IDENTIFIER's content ("" when malformed).
std::string OidText(const uint8_t* Content, size_t Length);
// The Windows-1251 text of a directory string (UTF-8, BMP, printable, IA5, T.61).
std::string DirectoryStringText(const TDerItem& Value);
// The items inside the outer SEQUENCE (or other constructed value) of an encoded value; as many
// as read whole, none when the outer item is malformed.
std::vector<TDerItem> DerMembers(const uint8_t* Data, size_t Size);
// The text of the first attribute with this OID in an encoded Name; false when absent.
bool NameAttribute(const uint8_t* Name, size_t Size, const std::string& Oid, std::string& Value);
// The text of the other-name with this OID in a GeneralNames value; false when absent.
bool OtherName(const uint8_t* Names, size_t Size, const std::string& Oid, std::string& Value);
// The content of the OCTET STRING wrapped in a DER value ("" when it is not one).
std::vector<uint8_t> OctetStringContent(const uint8_t* Data, size_t Size);

// The encoded issuer Name and the little-endian serial number (as CERT_INFO carries them) of an
// encoded certificate, read without decoding the rest of it; false when it is not one.
bool CertIssuerAndSerial(const uint8_t* Cert, size_t Size, std::vector<uint8_t>& Issuer,
                         std::vector<uint8_t>& Serial);

// True when Signature is exactly a detached SignedData of one signer as these engines make and
// take it: version 1, the signer's digest algorithm as the only one listed, plain data as the
// content type, algorithm parameters absent or NULL, and a signature algorithm equal to the
// signer's key algorithm (KeyAlgOid). The fields the signature value does not cover are thereby
// fixed, so no altered copy of a signature passes.
bool StrictDetachedSignature(const uint8_t* Signature, size_t Size, const std::string& KeyAlgOid);

// The civil date of a day counted from 1970-01-01.
void CivilFromDays(int64_t Days, int& Year, int& Month, int& Day);

}  // namespace zk::capi
