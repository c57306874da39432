// Detached PKCS#7 signatures and envelopes through the CryptoAPI message functions.
#include <cstring>

#include "engines/capi/capi_der.h"
#include "engines/capi/capi_dll.h"
#include "frame/fileutils.h"
#include "frame/secure.h"
#include "platform/platform.h"

namespace zk::capi {

namespace {

const char* const kMessageDigestOid = "1.2.840.113549.1.9.4";

// A decoding message closed when it goes out of scope.
class TMsg {
 public:
  TMsg(const TCapiFunctions& Api, HCRYPTMSG Msg) : api_(Api), msg_(Msg) {}
  ~TMsg() {
    if (msg_ != nullptr) api_.CryptMsgClose(msg_);
  }
  TMsg(const TMsg&) = delete;
  TMsg& operator=(const TMsg&) = delete;
  HCRYPTMSG Get() const { return msg_; }
  // A parameter's bytes; false when the message has none.
  bool Param(DWORD Type, DWORD Index, std::vector<uint8_t>& Out) const {
    DWORD size = 0;
    if (!api_.CryptMsgGetParam(msg_, Type, Index, nullptr, &size)) return false;
    Out.assign(size, 0);
    if (!api_.CryptMsgGetParam(msg_, Type, Index, Out.data(), &size)) return false;
    Out.resize(size);
    return true;
  }

 private:
  const TCapiFunctions& api_;
  HCRYPTMSG msg_;
};

bool SameBlob(const CRYPT_BLOB& a, const CRYPT_BLOB& b) {
  return a.cbData == b.cbData && (a.cbData == 0 || std::memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

// Two little-endian integers compared by value: a CryptoAPI may keep or drop a redundant sign
// byte (0x00 of a positive, 0xFF of a negative number), as CertCompareIntegerBlob allows.
bool SameInteger(const uint8_t* a, size_t aSize, const CRYPT_BLOB& b) {
  const auto significant = [](const uint8_t* p, size_t n) {
    while (n > 1 && ((p[n - 1] == 0x00 && (p[n - 2] & 0x80) == 0) || (p[n - 1] == 0xFF && (p[n - 2] & 0x80) != 0))) --n;
    return n;
  };
  const size_t n = significant(a, aSize), m = b.cbData == 0 ? 0 : significant(b.pbData, b.cbData);
  return n == m && (n == 0 || std::memcmp(a, b.pbData, n) == 0);
}

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t size) {
  uint8_t diff = 0;
  for (size_t i = 0; i < size; ++i) diff |= a[i] ^ b[i];
  return diff == 0;
}

}  // namespace

int32_t TCryptoAPI20_DLL::SignBuffer(const uint8_t* Data, size_t Len, bool IncludeCert, int32_t KeyTimeout,
                                     int32_t LastOpTimeout, const std::string& HashOID, const TVerificationSettings& S,
                                     std::vector<uint8_t>& Signature) {
  if (HashOID.empty() || HashOID.size() > kMaxHashOid) return kErrHash;
  TCertRef cert;
  int32_t status = FindCertificate(S, "", cert);
  if (status != 0) {
    cert = LoadCertificateFile(S.UserCertFile);
    if (!cert) return status;
  }
  std::lock_guard<std::recursive_mutex> lock(keyLock_);
  if ((status = LoadSignKeyInCash(cert.Get(), KeyTimeout, LastOpTimeout, S)) != 0) return status;
  const HCRYPTPROV used = keyProv_;
  CRYPT_SIGN_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = kEncoding;
  para.pSigningCert = cert.Get();
  std::string oid = HashOID;
  para.HashAlgorithm.pszObjId = oid.data();
  PCCERT_CONTEXT included = cert.Get();
  para.cMsgCert = IncludeCert ? 1 : 0;
  para.rgpMsgCert = IncludeCert ? &included : nullptr;
  const BYTE* contents[] = {Data};
  DWORD lengths[] = {static_cast<DWORD>(Len)};
  DWORD size = 0;
  if (!api_.CryptSignMessage(&para, 1, 1, contents, lengths, nullptr, &size)) {
    status = LastErrorCode();
  } else {
    Signature.assign(size, 0);
    if (!api_.CryptSignMessage(&para, 1, 1, contents, lengths, Signature.data(), &size)) status = LastErrorCode();
    else Signature.resize(size);
  }
  keyTimes_.Used(LastOpTimeout, TKeyTimeouts::Now());
  ReleaseRef(used);
  return status;
}

// Some CryptoAPIs accept altered content when the signer signed attributes: the messageDigest
// attribute is compared with the hash of the content here.
static int32_t CheckMessageDigest(const TMsg& msg) {
  std::vector<uint8_t> attributes, computed;
  // No signed attributes (CRYPT_E_ATTRIBUTES_MISSING, or an empty list): the signature covers the
  // content itself. Any other failure must not skip the comparison.
  if (!msg.Param(kMsgSignerAuthAttrParam, 0, attributes)) {
    const uint32_t error = platform::LastError();
    return error == 0x8009100Fu ? 0 : static_cast<int32_t>(error != 0 ? error : kNteBadSignature);
  }
  if (attributes.size() < sizeof(CRYPT_ATTRIBUTES)) return 0;
  const auto* list = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
  if (list->cAttr == 0) return 0;
  for (DWORD i = 0; i < list->cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attr = list->rgAttr[i];
    if (std::strcmp(attr.pszObjId, kMessageDigestOid) != 0) continue;
    if (attr.cValue != 1 || !msg.Param(kMsgComputedHashParam, 0, computed)) break;
    const auto digest = OctetStringContent(attr.rgValue[0].pbData, attr.rgValue[0].cbData);
    const bool same = !digest.empty() && digest.size() == computed.size() &&
                      ConstantTimeEqual(digest.data(), computed.data(), digest.size());
    return same ? 0 : static_cast<int32_t>(kNteBadSignature);
  }
  return static_cast<int32_t>(kNteBadSignature);  // signed attributes without a digest
}

int32_t TCryptoAPI20_DLL::ResultTextFor(PCCERT_CONTEXT Cert, int Mode, const TVerificationSettings& S,
                                        std::string& Text) {
  Text = Mode == 3 ? CertToPEM(Cert) : Mode == 2 ? CertificateReport(Cert, S) : GetUIDFromCertContext(Cert, S.UIDLocationOID);
  return Text.empty() ? kErrNoOwnUID : 0;
}

// Both forms of signature are verified on the decoded message itself: the signer's issuer and
// serial find the certificate in the correspondents' store; a certificate the signature carries
// must be that very certificate, byte for byte (issuer and serial alone are no identity).
int32_t TCryptoAPI20_DLL::VerifySign(const uint8_t* Data, size_t Len, bool& NoSignerCert, std::string& ResultText,
                                     int Mode, const TVerificationSettings& S, const uint8_t* Signature,
                                     size_t SignatureLen) {
  NoSignerCert = false;
  ResultText.clear();
  TMsg msg(api_, api_.CryptMsgOpenToDecode(kEncoding, kDetachedFlag, 0, verifyProv_, nullptr, nullptr));
  if (msg.Get() == nullptr) return LastErrorCode();
  if (!api_.CryptMsgUpdate(msg.Get(), Signature, static_cast<DWORD>(SignatureLen), 1) ||
      !api_.CryptMsgUpdate(msg.Get(), Data, static_cast<DWORD>(Len), 1))
    return LastErrorCode(kErrCertificate);
  std::vector<uint8_t> countBytes, infoBytes;
  DWORD carried = 0;
  // Every signed message has a count; without it a carried certificate would go unchecked.
  if (!msg.Param(kMsgCertCountParam, 0, countBytes)) return LastErrorCode(kErrCertificate);
  if (countBytes.size() >= sizeof carried) std::memcpy(&carried, countBytes.data(), sizeof carried);
  if (!msg.Param(kMsgSignerCertInfoParam, 0, infoBytes)) return LastErrorCode(kErrCertificate);
  const auto& signerInfo = *reinterpret_cast<const CERT_INFO*>(infoBytes.data());
  // The carried certificate that names the signer, found by its issuer and serial as encoded: no
  // context is made of it unless it differs from the correspondent's certificate.
  std::vector<uint8_t> inMessage, issuer, serial;
  for (DWORD i = 0; i < carried && inMessage.empty(); ++i) {
    std::vector<uint8_t> encoded;
    if (!msg.Param(kMsgCertParam, i, encoded) || !CertIssuerAndSerial(encoded.data(), encoded.size(), issuer, serial))
      continue;
    if (SameBlob({static_cast<DWORD>(issuer.size()), issuer.data()}, signerInfo.Issuer) &&
        SameInteger(serial.data(), serial.size(), signerInfo.SerialNumber))
      inMessage = std::move(encoded);
  }
  if (inMessage.empty()) {
    if (carried > 0) return kErrCertificate;  // certificates, but not the signer's
    if (!S.AllowUnsignedCert) return kErrNoSignerCert;
    NoSignerCert = true;
  } else if (S.UIDLocationOID.empty()) {
    return kErrNoUIDLocation;
  }
  TCertRef signer;
  if (int32_t status = FindSigner(S, signerInfo, signer)) return status;
  // Some CryptoAPIs pass altered fields the signature value does not cover.
  if (!StrictDetachedSignature(Signature, SignatureLen, signer.Get()->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId))
    return static_cast<int32_t>(kNteBadSignature);
  const CERT_CONTEXT& known = *signer.Get();
  const bool same = inMessage.empty() || (inMessage.size() == known.cbCertEncoded &&
                                          std::memcmp(inMessage.data(), known.pbCertEncoded, inMessage.size()) == 0);
  // A carried certificate that only claims the signer's issuer and serial: the signature is
  // checked with its own key, and then refused all the same.
  TCertRef claimed;
  if (!same) {
    claimed = TCertRef(&api_, api_.CertCreateCertificateContext(kEncoding, inMessage.data(), static_cast<DWORD>(inMessage.size())));
    if (!claimed) return kErrCertificate;
  }
  const CERT_INFO* verifying = same ? known.pCertInfo : claimed.Get()->pCertInfo;
  if (!api_.CryptMsgControl(msg.Get(), 0, kCtrlVerifySignature, verifying))
    return LastErrorCode(static_cast<int32_t>(kNteBadSignature));
  if (!same) return kErrCertificate;
  if (int32_t status = CheckMessageDigest(msg)) return status;
  return ResultTextFor(signer.Get(), Mode, S, ResultText);
}

int32_t TCryptoAPI20_DLL::EncryptBuffer(const uint8_t* Data, size_t Len, const std::string& RecipientUIDs,
                                        const TVerificationSettings& S, const std::string& EncryptOID,
                                        std::vector<uint8_t>& Out) {
  std::vector<std::string> uids;
  ParseSemicolonList(RecipientUIDs.c_str(), uids);
  if (uids.empty()) return kErrUnknownUID;
  std::vector<TCertRef> certs;
  std::vector<PCCERT_CONTEXT> raw;
  for (const auto& uid : uids) {
    TCertRef cert;
    if (int32_t status = FindCertificate(S, uid, cert)) return status;
    if (int32_t status = VerifySingleCertInLocalStore(cert.Get(), S)) return status;
    raw.push_back(cert.Get());
    certs.push_back(std::move(cert));
  }
  std::string oid = EncryptOID;
  CRYPT_ENCRYPT_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgEncodingType = kEncoding;
  para.hCryptProv = verifyProv_;
  para.ContentEncryptionAlgorithm.pszObjId = oid.data();
  const DWORD count = static_cast<DWORD>(raw.size());
  DWORD first = 0;
  if (!api_.CryptEncryptMessage(&para, count, raw.data(), Data, static_cast<DWORD>(Len), nullptr, &first))
    return LastErrorCode();
  DWORD size = first;
  Out.assign(size, 0);
  if (api_.CryptEncryptMessage(&para, count, raw.data(), Data, static_cast<DWORD>(Len), Out.data(), &size)) {
    Out.resize(size);
    return 0;
  }
  if (platform::LastError() != kErrorMoreData) return LastErrorCode();
  size = first >= size ? count * 1024 + first : size;
  Out.assign(size, 0);
  if (!api_.CryptEncryptMessage(&para, count, raw.data(), Data, static_cast<DWORD>(Len), Out.data(), &size))
    return LastErrorCode();
  Out.resize(size);
  return 0;
}

// Decryption through the low-level message functions: the recipient that is the user, then
// CMSG_CTRL_DECRYPT with the cached key. (CryptDecryptMessage is not usable on every system.)
// The message keeps its own copy once updated, so the content goes straight into Data.
int32_t TCryptoAPI20_DLL::DecryptBuffer(uint8_t* Data, size_t& Len, const TVerificationSettings& S,
                                        int32_t KeyTimeout, int32_t LastOpTimeout) {
  TCertRef own;
  if (int32_t status = FindCertificate(S, "", own)) return status;
  std::lock_guard<std::recursive_mutex> lock(keyLock_);
  if (int32_t status = LoadSignKeyInCash(own.Get(), KeyTimeout, LastOpTimeout, S)) return status;
  const HCRYPTPROV used = keyProv_;
  const int32_t status = [&]() -> int32_t {
    TMsg msg(api_, api_.CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (msg.Get() == nullptr) return LastErrorCode();
    if (!api_.CryptMsgUpdate(msg.Get(), Data, static_cast<DWORD>(Len), 1)) return LastErrorCode(kErrCannotDecrypt);
    std::vector<uint8_t> countBytes;
    if (!msg.Param(kMsgRecipientCountParam, 0, countBytes) || countBytes.size() < sizeof(DWORD))
      return kErrCannotDecrypt;
    DWORD count = 0;
    std::memcpy(&count, countBytes.data(), sizeof count);
    const CERT_INFO& mine = *own.Get()->pCertInfo;
    for (DWORD i = 0; i < count; ++i) {
      std::vector<uint8_t> info;
      if (!msg.Param(kMsgRecipientInfoParam, i, info)) return LastErrorCode(kErrCannotDecrypt);
      const auto* recipient = reinterpret_cast<const CERT_INFO*>(info.data());
      if (!SameBlob(recipient->Issuer, mine.Issuer) || !SameBlob(recipient->SerialNumber, mine.SerialNumber))
        continue;
      CMSG_CTRL_DECRYPT_PARA para{sizeof(CMSG_CTRL_DECRYPT_PARA), keyProv_, kAtKeyExchange, i};
      if (!api_.CryptMsgControl(msg.Get(), 0, kCtrlDecrypt, &para)) return LastErrorCode(kErrCannotDecrypt);
      DWORD size = 0;
      if (!api_.CryptMsgGetParam(msg.Get(), kMsgContentParam, 0, nullptr, &size)) return LastErrorCode(kErrCannotDecrypt);
      if (size > Len) return kErrCannotDecrypt;  // longer than the envelope: the caller's buffer holds no more
      if (!api_.CryptMsgGetParam(msg.Get(), kMsgContentParam, 0, Data, &size) || size > Len)
        return LastErrorCode(kErrCannotDecrypt);
      Len = size;
      return 0;
    }
    return kErrCannotDecrypt;
  }();
  keyTimes_.Used(LastOpTimeout, TKeyTimeouts::Now());
  ReleaseRef(used);
  return status;
}

}  // namespace zk::capi
