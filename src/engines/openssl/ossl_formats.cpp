#include "engines/openssl/ossl_formats.h"

#include <cstring>

#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/sha0.h"
#include "frame/lefields.h"
#include "frame/textrules.h"

namespace zk::ossl {

namespace {

// DER DigestInfo up to the digest bytes: SEQUENCE { AlgorithmIdentifier { OID, NULL }, OCTET STRING }.
// What RSA_sign with type 0 signs names the undefined object (OID 06 01 00) whatever the digest;
// peers rely on exactly these bytes.
const uint8_t kSha0SignedPrefix[] = {0x30, 0x1D, 0x30, 0x05, 0x06, 0x01, 0x00, 0x05, 0x00, 0x04, 0x14};
const uint8_t kMd5SignedPrefix[] = {0x30, 0x19, 0x30, 0x05, 0x06, 0x01, 0x00, 0x05, 0x00, 0x04, 0x10};
// The same digests under their standard identifiers (SHA-0 1.3.14.3.2.18, MD5 1.2.840.113549.2.5),
// also accepted: nothing else is bound by the choice of identifier.
const uint8_t kSha0StandardPrefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                       0x03, 0x02, 0x12, 0x05, 0x00, 0x04, 0x14};
const uint8_t kMd5StandardPrefix[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                      0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};

template <size_t N>
bool StartsWith(const std::vector<uint8_t>& Bytes, const uint8_t (&Prefix)[N]) {
  return Bytes.size() >= N && std::memcmp(Bytes.data(), Prefix, N) == 0;
}

// The block a signed DigestInfo may also carry: the same digest under its standard identifier.
std::vector<uint8_t> WithStandardIdentifier(const std::vector<uint8_t>& Signed) {
  std::vector<uint8_t> standard;
  if (StartsWith(Signed, kSha0SignedPrefix)) {
    standard.assign(std::begin(kSha0StandardPrefix), std::end(kSha0StandardPrefix));
    standard.insert(standard.end(), Signed.begin() + sizeof(kSha0SignedPrefix), Signed.end());
  } else if (StartsWith(Signed, kMd5SignedPrefix)) {
    standard.assign(std::begin(kMd5StandardPrefix), std::end(kMd5StandardPrefix));
    standard.insert(standard.end(), Signed.begin() + sizeof(kMd5SignedPrefix), Signed.end());
  }
  return standard;
}

bool SameBytes(const uint8_t* Data, size_t Len, const std::vector<uint8_t>& Expected) {
  return !Expected.empty() && Len == Expected.size() && std::memcmp(Data, Expected.data(), Len) == 0;
}

}  // namespace

uint8_t HashIdByName(const std::string& Name) {
  const std::string upper = UpperCase(Name);
  if (upper == "SHA") return kHashSha;
  if (upper == "MD5") return kHashMd5;
  return 0;
}

uint32_t CipherIdByName(const std::string& Name) {
  static const char* const kNames[] = {"RC4", "RC2_ECB", "RC2_CBC", "RC5_ECB", "RC5_CBC"};
  const std::string upper = UpperCase(Name);
  for (uint32_t i = 0; i < 5; ++i) {
    if (upper == kNames[i]) return i + 1;
  }
  return 0;
}

void Md5Of(const uint8_t* Data, size_t Len, uint8_t Digest[kMd5Bytes]) {
  static const uint8_t kNothing = 0;
  TOpenSSLLibrary::Api().MD5(Data != nullptr ? Data : &kNothing, Len, Digest);
}

std::vector<uint8_t> DigestInfoOf(uint8_t HashId, const uint8_t* Data, size_t Len) {
  std::vector<uint8_t> info;
  static const uint8_t kNothing = 0;
  if (Data == nullptr) Data = &kNothing;
  if (HashId == kHashSha) {
    info.assign(std::begin(kSha0SignedPrefix), std::end(kSha0SignedPrefix));
    info.resize(info.size() + kSha0DigestSize);
    Sha0(Data, Len, info.data() + sizeof(kSha0SignedPrefix));
  } else if (HashId == kHashMd5) {
    info.assign(std::begin(kMd5SignedPrefix), std::end(kMd5SignedPrefix));
    info.resize(info.size() + kMd5Bytes);
    Md5Of(Data, Len, info.data() + sizeof(kMd5SignedPrefix));
  }
  return info;
}

int32_t RsaSignDigestInfo(RsaKey* Key, const std::vector<uint8_t>& DigestInfo, std::vector<uint8_t>& Signature) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const int size = api.RSA_size(Key);
  if (size <= 0) return kErrRsaSign;
  Signature.assign(static_cast<size_t>(size), 0);
  const int written = api.RSA_private_encrypt(static_cast<int>(DigestInfo.size()), DigestInfo.data(),
                                              Signature.data(), Key, kRsaPkcs1Padding);
  if (written != size) return OpenSSLFailure(api.ERR_get_error(), kErrRsaSign);
  return kOk;
}

int32_t RsaVerifyDigestInfo(RsaKey* Key, const uint8_t* Signature, size_t Len,
                            const std::vector<uint8_t>& DigestInfo) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const int size = api.RSA_size(Key);
  if (size <= 0 || Len != static_cast<size_t>(size)) return kErrBadSignature;
  std::vector<uint8_t> recovered(static_cast<size_t>(size));
  const int length = api.RSA_public_decrypt(size, Signature, recovered.data(), Key, kRsaPkcs1Padding);
  if (length < 0) return OpenSSLFailure(api.ERR_get_error(), kErrSignatureFailed);
  const size_t got = static_cast<size_t>(length);
  const bool same = SameBytes(recovered.data(), got, DigestInfo) ||
                    SameBytes(recovered.data(), got, WithStandardIdentifier(DigestInfo));
  return same ? kOk : kErrSignatureFailed;
}

int32_t ParseSignature(const uint8_t* Signature, int32_t Len, SignatureView& View) {
  if (Signature == nullptr || Len < 4) return kErrBadSignature;
  size_t uidLen = 0;
  if (!ScanUID(Signature, static_cast<size_t>(Len), SIZE_MAX, uidLen)) return kErrBadSignature;
  if (static_cast<size_t>(Len) < uidLen + 3) return kErrBadSignature;
  View.UID.assign(reinterpret_cast<const char*>(Signature), uidLen);
  View.HashId = Signature[uidLen + 1];
  View.RsaPart = Signature + uidLen + 2;
  View.RsaPartLen = static_cast<size_t>(Len) - uidLen - 2;
  return kOk;
}

int32_t ParseEnvelope(uint8_t* Data, int32_t Len, EnvelopeView& View) {
  if (Data == nullptr || Len < 12) return kErrBadEnvelope;
  const size_t total = static_cast<size_t>(Len);
  View.RecipientCount = ReadLE32(Data);
  View.Cipher = ReadLE32(Data + 4);
  View.HeaderLen = ReadLE32(Data + total - 4);
  if (View.RecipientCount < 1 || View.HeaderLen < 8 || View.HeaderLen > total - 4) return kErrBadEnvelope;
  View.CipherText = Data + View.HeaderLen;
  View.CipherTextLen = total - 4 - View.HeaderLen;
  // Only RC4 keeps the plaintext's length, so only RC4 carries empty data in an empty ciphertext.
  if (View.CipherTextLen == 0 && View.Cipher != kRc4) return kErrBadEnvelope;
  View.Entries.clear();
  size_t offset = 8;
  while (offset < View.HeaderLen) {
    size_t uidLen = 0;
    if (!ScanZeroTerminated(Data + offset, View.HeaderLen - offset, SIZE_MAX, uidLen)) return kErrBadEnvelope;
    EnvelopeEntryView entry;
    entry.UID.assign(reinterpret_cast<const char*>(Data + offset), uidLen);
    offset += uidLen + 1;
    if (View.HeaderLen - offset < 4) return kErrBadEnvelope;
    entry.KeyBlockLen = ReadLE32(Data + offset);
    offset += 4;
    if (entry.KeyBlockLen < 1 || entry.KeyBlockLen > View.HeaderLen - offset) return kErrBadEnvelope;
    entry.KeyBlock = Data + offset;
    offset += entry.KeyBlockLen;
    View.Entries.push_back(std::move(entry));
  }
  if (View.Entries.size() != View.RecipientCount) return kErrBadEnvelope;
  return kOk;
}

}  // namespace zk::ossl
