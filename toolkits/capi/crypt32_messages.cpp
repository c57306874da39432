// The message calls of the stand-in "crypt32.dll": detached PKCS#7 SignedData made and checked,
// EnvelopedData with RSA (or GOST, through the engine) key transport and the cipher's real
// parameters, and the low-level CryptMsg* decoding of both.
#include <openssl/err.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "crypt32_cms.h"
#include "crypt32_signed.h"

namespace capistandin {
namespace {

constexpr DWORD kMsgTypeParam = 1, kMsgSignerCountParam = 5, kMsgSigned = 2, kMsgEnveloped = 3;

// A signed message is read by the stand-in itself (views into `encoded`); an enveloped one is
// decoded by OpenSSL.
struct TMessage {
  bool detached = false;
  std::vector<BYTE> encoded, content;
  bool encodedDone = false, contentDone = false;
  DWORD type = 0;
  TSignedMessage signedMessage;
  CMS_ContentInfo* cms = nullptr;
  std::vector<BYTE> decrypted;
  bool decryptedDone = false;
};

std::mutex& MessagesLock() {
  static standin::Immortal<std::mutex> lock;
  return lock.get();
}
std::set<TMessage*>& Messages() {
  static standin::Immortal<std::set<TMessage*>> messages;
  return messages.get();
}

TMessage* MessageOf(HCRYPTMSG msg) {
  std::lock_guard<std::mutex> hold(MessagesLock());
  auto* m = static_cast<TMessage*>(msg);
  return Messages().count(m) != 0 ? m : nullptr;
}

// A structure followed by its variable parts in one caller buffer: pointer fields are recorded
// as offsets and made into addresses of the caller's copy.
class TLayout {
 public:
  size_t Add(const void* data, size_t size) {
    const size_t at = (bytes_.size() + 7) & ~size_t{7};
    bytes_.resize(at + size);
    if (size > 0 && data != nullptr) std::memcpy(bytes_.data() + at, data, size);
    return at;
  }
  void Put(size_t at, const void* value, size_t size) { std::memcpy(bytes_.data() + at, value, size); }
  void Point(size_t field, size_t target) { fixups_.emplace_back(field, target); }
  BOOL Give(void* out, DWORD* outLen) const {
    if (!GiveBytes(bytes_, out, outLen)) return 0;
    if (out != nullptr)
      for (const auto& f : fixups_) {
        BYTE* address = static_cast<BYTE*>(out) + f.second;
        std::memcpy(static_cast<BYTE*>(out) + f.first, &address, sizeof address);
      }
    return 1;
  }

 private:
  std::vector<BYTE> bytes_;
  std::vector<std::pair<size_t, size_t>> fixups_;
};

// A CERT_INFO holding only the issuer and serial number.
BOOL GiveIssuerAndSerial(const std::vector<BYTE>& issuer, const std::vector<BYTE>& serial, void* out, DWORD* len) {
  TLayout layout;
  const CERT_INFO blank{};
  const size_t info = layout.Add(&blank, sizeof blank);
  const size_t serialAt = layout.Add(serial.data(), serial.size());
  const size_t issuerAt = layout.Add(issuer.data(), issuer.size());
  const DWORD serialLen = static_cast<DWORD>(serial.size()), issuerLen = static_cast<DWORD>(issuer.size());
  layout.Put(info + offsetof(CERT_INFO, SerialNumber.cbData), &serialLen, sizeof serialLen);
  layout.Put(info + offsetof(CERT_INFO, Issuer.cbData), &issuerLen, sizeof issuerLen);
  layout.Point(info + offsetof(CERT_INFO, SerialNumber.pbData), serialAt);
  layout.Point(info + offsetof(CERT_INFO, Issuer.pbData), issuerAt);
  return layout.Give(out, len);
}

BOOL GiveAttributes(const TSigner& s, void* out, DWORD* len) {
  if (s.signedAttributes.size == 0) return Fail(kCryptEAttributesMissing);
  TLayout layout;
  const CRYPT_ATTRIBUTES head{};
  const size_t headAt = layout.Add(&head, sizeof head);
  const DWORD n = static_cast<DWORD>(s.attributes.size());
  layout.Put(headAt + offsetof(CRYPT_ATTRIBUTES, cAttr), &n, sizeof n);
  std::vector<CRYPT_ATTRIBUTE> blank(n);
  const size_t arrayAt = layout.Add(blank.data(), sizeof(CRYPT_ATTRIBUTE) * n);
  layout.Point(headAt + offsetof(CRYPT_ATTRIBUTES, rgAttr), arrayAt);
  for (DWORD i = 0; i < n; ++i) {
    const TAttribute& attr = s.attributes[i];
    const size_t at = arrayAt + sizeof(CRYPT_ATTRIBUTE) * i;
    layout.Point(at + offsetof(CRYPT_ATTRIBUTE, pszObjId), layout.Add(attr.oid.c_str(), attr.oid.size() + 1));
    const DWORD values = static_cast<DWORD>(attr.values.size());
    layout.Put(at + offsetof(CRYPT_ATTRIBUTE, cValue), &values, sizeof values);
    std::vector<CRYPT_BLOB> blobs(values);
    const size_t blobsAt = layout.Add(blobs.data(), sizeof(CRYPT_BLOB) * values);
    layout.Point(at + offsetof(CRYPT_ATTRIBUTE, rgValue), blobsAt);
    for (DWORD v = 0; v < values; ++v) {
      const DWORD size = static_cast<DWORD>(attr.values[v].size);
      const size_t blobAt = blobsAt + sizeof(CRYPT_BLOB) * v;
      layout.Put(blobAt + offsetof(CRYPT_BLOB, cbData), &size, sizeof size);
      layout.Point(blobAt + offsetof(CRYPT_BLOB, pbData), layout.Add(attr.values[v].data, size));
    }
  }
  return layout.Give(out, len);
}

BOOL GiveDword(DWORD value, void* out, DWORD* len) {
  std::vector<BYTE> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return GiveBytes(bytes, out, len);
}

const TSigner* Signer(const TSignedMessage& message, DWORD index) {
  return index < message.signers.size() ? &message.signers[index] : nullptr;
}

CMS_RecipientInfo* Recipient(CMS_ContentInfo* cms, DWORD index) {
  STACK_OF(CMS_RecipientInfo)* recipients = CMS_get0_RecipientInfos(cms);
  return recipients != nullptr && index < static_cast<DWORD>(sk_CMS_RecipientInfo_num(recipients))
             ? sk_CMS_RecipientInfo_value(recipients, static_cast<int>(index))
             : nullptr;
}

DWORD MessageType(CMS_ContentInfo* cms) {
  const int nid = OBJ_obj2nid(CMS_get0_type(cms));
  return nid == NID_pkcs7_signed ? kMsgSigned : nid == NID_pkcs7_enveloped ? kMsgEnveloped : 0;
}

// The content a signature covers: the detached content given, or the one inside.
bool SignedContent(const TMessage* m, TSpan& content) {
  if (m->detached) {
    content = {m->content.data(), m->content.size()};
    return m->contentDone;
  }
  content = m->signedMessage.content;
  return m->signedMessage.hasContent;
}

// A caller asks the size first, then calls again with the same arguments for the bytes: the
// message made for the size query is kept (per thread) and given out by that second call, so
// signing and enveloping are done once, not twice.
// A call's data (in pieces, compared where they lie) and the rest of its arguments, flattened.
struct TRequest {
  DWORD count;
  const BYTE* const* pieces;
  const DWORD* lengths;
  std::vector<BYTE> rest;
};

// The kept message and what it was made of. The buffers keep their room from call to call, so
// that a large message costs no fresh memory each time; the data is wiped once used.
struct TPending {
  std::vector<BYTE> content, rest, message;
  void Clear() {
    OPENSSL_cleanse(content.data(), content.size());
    content.clear();
    rest.clear();
    message.clear();
  }
  bool Matches(const TRequest& r) const {
    if (message.empty() || rest != r.rest) return false;
    size_t at = 0;
    for (DWORD i = 0; i < r.count; ++i) {
      if (r.pieces[i] == nullptr) continue;
      if (r.lengths[i] > content.size() - at ||
          (r.lengths[i] > 0 && std::memcmp(content.data() + at, r.pieces[i], r.lengths[i]) != 0))
        return false;
      at += r.lengths[i];
    }
    return at == content.size();
  }
};
thread_local TPending pending;

BOOL GiveMessage(TRequest& request, std::vector<BYTE>& message, BYTE* out, DWORD* outLen) {
  pending.Clear();
  const BOOL given = GiveBytes(message, out, outLen);
  if (out == nullptr) {
    for (DWORD i = 0; i < request.count; ++i)
      if (request.pieces[i] != nullptr)
        pending.content.insert(pending.content.end(), request.pieces[i], request.pieces[i] + request.lengths[i]);
    pending.rest.swap(request.rest);
    pending.message.swap(message);
  }
  return given;
}

// The message of a size query just made with the same request, given out of the keeping.
bool GivePending(const TRequest& request, BYTE* out, DWORD* outLen, BOOL& given) {
  if (out == nullptr || !pending.Matches(request)) return false;
  given = GiveBytes(pending.message, out, outLen);
  pending.Clear();
  return true;
}

template <typename T>
void AppendValue(std::vector<BYTE>& to, const T& value) {
  const auto* p = reinterpret_cast<const BYTE*>(&value);
  to.insert(to.end(), p, p + sizeof value);
}

void AppendText(std::vector<BYTE>& to, const char* text) { to.insert(to.end(), text, text + std::strlen(text) + 1); }

std::vector<BYTE> Concatenated(DWORD count, const BYTE** pieces, const DWORD* lengths) {
  std::vector<BYTE> all;
  for (DWORD i = 0; i < count; ++i)
    if (pieces[i] != nullptr) all.insert(all.end(), pieces[i], pieces[i] + lengths[i]);
  return all;
}

// A context (one reference, in no store) of the carried certificate that names the signer.
TCertElem* SignerCertificate(const TSignedMessage& message, const TSigner& s) {
  if (!s.byIssuerAndSerial) return nullptr;
  for (const TSpan& der : message.certificates) {
    TCertElem* c = NewCert(der.data, static_cast<DWORD>(der.size), nullptr);
    if (c != nullptr && SameId(s.issuer, s.serial, c->info)) return c;
    if (c != nullptr) ReleaseCert(c);
  }
  return nullptr;
}

// The message type of an encoding: signed ones read here, enveloped ones decoded by OpenSSL
// (into *cms); 0 for anything else or malformed.
DWORD ReadMessage(const BYTE* der, size_t len, TSignedMessage& signedMessage, CMS_ContentInfo** cms) {
  if (ContentTypeOf(der, len) == kSignedDataOid)
    return ReadSignedMessage(der, len, signedMessage) ? kMsgSigned : 0;
  *cms = DecodeCms(der, len);
  return *cms != nullptr && MessageType(*cms) == kMsgEnveloped ? kMsgEnveloped : 0;
}

}  // namespace
}  // namespace capistandin

using namespace capistandin;

extern "C" {

STANDIN_EXPORT BOOL CryptSignMessage(CRYPT_SIGN_MESSAGE_PARA* Para, BOOL Detached, DWORD Count, const BYTE** Pieces,
                                     DWORD* Lengths, BYTE* Out, DWORD* OutLen) {
  if (Scripted("CryptSignMessage")) return 0;
  if (Para == nullptr || OutLen == nullptr || Para->cbSize < offsetof(CRYPT_SIGN_MESSAGE_PARA, cAuthAttr) ||
      (Count > 0 && (Pieces == nullptr || Lengths == nullptr)) || Para->HashAlgorithm.pszObjId == nullptr)
    return Fail(kErrorInvalidParameter);
  if (Para->cbSize >= offsetof(CRYPT_SIGN_MESSAGE_PARA, dwFlags) && (Para->cAuthAttr > 0 || Para->cUnauthAttr > 0))
    return Fail(kErrorCallNotImplemented);  // attributes of the caller's own are not offered
  TCertElem* signer = CertOf(Para->pSigningCert);
  if (signer == nullptr) return Fail(kErrorInvalidParameter);
  TRequest request{Count, Pieces, Lengths, {}};
  std::vector<BYTE>& rest = request.rest;
  rest.insert(rest.end(), signer->der.begin(), signer->der.end());
  AppendValue(rest, signer->hasKeyContext ? signer->keyContext.hCryptProv : HCRYPTPROV{0});
  AppendValue(rest, Detached);
  AppendText(rest, Para->HashAlgorithm.pszObjId);
  for (DWORD i = 0; i < Para->cMsgCert; ++i) AppendValue(rest, Para->rgpMsgCert[i]);
  BOOL given = 0;
  if (GivePending(request, Out, OutLen, given)) return given;
  // One piece is signed where it lies; several are joined first.
  const std::vector<BYTE> joined = Count == 1 ? std::vector<BYTE>() : Concatenated(Count, Pieces, Lengths);
  static const BYTE kNone = 0;
  const BYTE* content = Count == 1 && Pieces[0] != nullptr ? Pieces[0] : joined.empty() ? &kNone : joined.data();
  const size_t contentLen = Count == 1 && Pieces[0] != nullptr ? Lengths[0] : joined.size();
  std::vector<BYTE> der;
  const EVP_MD* md = DigestByOid(Para->HashAlgorithm.pszObjId);
  if (md == nullptr) return Fail(kCryptEUnknownAlgo);
  EVP_PKEY* key = CertPrivateKey(signer);
  if (key == nullptr) return 0;
  const unsigned flags = CMS_BINARY | CMS_NOATTR | CMS_NOCERTS | CMS_PARTIAL | (Detached ? CMS_DETACHED : 0);
  CMS_ContentInfo* cms = CMS_sign_ex(nullptr, nullptr, nullptr, nullptr, flags, ZkCapiLibContext(), nullptr);
  bool ok = cms != nullptr && CMS_add1_signer(cms, signer->x509, key, md, flags) != nullptr;
  for (DWORD i = 0; ok && i < Para->cMsgCert; ++i) {
    TCertElem* c = CertOf(Para->rgpMsgCert[i]);
    ok = c != nullptr && CMS_add1_cert(cms, c->x509) == 1;
  }
  BIO* in = BIO_new_mem_buf(content, static_cast<int>(contentLen));
  ok = ok && CMS_final(cms, in, nullptr, flags) == 1;
  ok = ok && EncodeCms(cms, der);
  BIO_free(in);
  CMS_ContentInfo_free(cms);
  EVP_PKEY_free(key);
  ERR_clear_error();
  if (!ok) return Fail(kNteBadKey);
  return GiveMessage(request, der, Out, OutLen);
}

STANDIN_EXPORT BOOL CryptVerifyDetachedMessageSignature(CRYPT_VERIFY_MESSAGE_PARA* Para, DWORD SignerIndex,
                                                        const BYTE* Signature, DWORD SignatureLen, DWORD Count,
                                                        const BYTE** Pieces, DWORD* Lengths,
                                                        PCCERT_CONTEXT* SignerCert) {
  if (Scripted("CryptVerifyDetachedMessageSignature")) return 0;
  if (SignerCert != nullptr) *SignerCert = nullptr;
  if (Para == nullptr || (Count > 0 && (Pieces == nullptr || Lengths == nullptr))) return Fail(kErrorInvalidParameter);
  const std::string type = ContentTypeOf(Signature, SignatureLen);
  if (type.empty()) return Fail(kCryptEAsn1BadTag);
  if (type != kSignedDataOid) return Fail(kCryptEInvalidMsgType);
  TSignedMessage message;
  if (!ReadSignedMessage(Signature, SignatureLen, message)) return Fail(kCryptEAsn1BadTag);
  const TSigner* signer = Signer(message, SignerIndex);
  if (signer == nullptr) return Fail(kCryptEInvalidIndex);
  TCertElem* cert = SignerCertificate(message, *signer);
  if (cert == nullptr) return Fail(kCryptESignerNotFound);
  EVP_PKEY* key = X509_get0_pubkey(cert->x509);
  const std::vector<BYTE> content = Concatenated(Count, Pieces, Lengths);
  const DWORD error = key == nullptr ? kNteBadKey : VerifySigner(*signer, key, content.data(), content.size());
  if (error == 0 && SignerCert != nullptr) {
    *SignerCert = &cert->ctx;  // the caller's reference
  } else {
    ReleaseCert(cert);
  }
  return error == 0 ? 1 : Fail(error);
}

STANDIN_EXPORT HCERTSTORE CryptGetMessageCertificates(DWORD, HCRYPTPROV, DWORD, const BYTE* Message, DWORD Len) {
  if (Scripted("CryptGetMessageCertificates")) return nullptr;
  // A message of another type (an envelope) carries no certificates: an empty store.
  TSignedMessage message;
  bool readable = ReadSignedMessage(Message, Len, message);
  if (!readable && ContentTypeOf(Message, Len) != kSignedDataOid) {
    CMS_ContentInfo* other = DecodeCms(Message, Len);
    readable = other != nullptr;
    CMS_ContentInfo_free(other);
    message = TSignedMessage{};
  }
  if (!readable) {
    SetLastError(kCryptEAsn1BadTag);
    return nullptr;
  }
  TStore* store = NewStore("");
  for (const TSpan& der : message.certificates) {
    PCCERT_CONTEXT c = CertCreateCertificateContext(1, der.data, static_cast<DWORD>(der.size));
    if (c != nullptr) CertAddCertificateContextToStore(store, c, 4, nullptr);
    CertFreeCertificateContext(c);
  }
  return store;
}

STANDIN_EXPORT BOOL CryptEncryptMessage(CRYPT_ENCRYPT_MESSAGE_PARA* Para, DWORD Count, PCCERT_CONTEXT* Recipients,
                                        const BYTE* Data, DWORD DataLen, BYTE* Out, DWORD* OutLen) {
  if (Scripted("CryptEncryptMessage")) return 0;
  if (Para == nullptr || OutLen == nullptr || Count == 0 || Recipients == nullptr ||
      (Data == nullptr && DataLen > 0) || Para->ContentEncryptionAlgorithm.pszObjId == nullptr)
    return Fail(kErrorInvalidParameter);
  const BYTE* const pieces[] = {Data};
  const DWORD lengths[] = {DataLen};
  TRequest request{1, pieces, lengths, {}};
  AppendText(request.rest, Para->ContentEncryptionAlgorithm.pszObjId);
  for (DWORD i = 0; i < Count; ++i) {
    const TCertElem* c = CertOf(Recipients[i]);
    if (c != nullptr) request.rest.insert(request.rest.end(), c->der.begin(), c->der.end());
  }
  BOOL given = 0;
  if (GivePending(request, Out, OutLen, given)) return given;
  std::vector<BYTE> der;
  TCipher cipher(Para->ContentEncryptionAlgorithm.pszObjId);
  if (cipher.cipher == nullptr) return Fail(kCryptEUnknownAlgo);
  STACK_OF(X509)* certs = sk_X509_new_null();
  for (DWORD i = 0; i < Count; ++i) {
    TCertElem* c = CertOf(Recipients[i]);
    if (c == nullptr) {
      sk_X509_free(certs);
      return Fail(kErrorInvalidParameter);
    }
    sk_X509_push(certs, c->x509);
  }
  static const BYTE kNothing = 0;
  BIO* in = BIO_new_mem_buf(DataLen > 0 ? Data : &kNothing, static_cast<int>(DataLen));
  // An engine's cipher (GOST 28147-89) works in the default context, where the engine is.
  OSSL_LIB_CTX* context = cipher.fetched != nullptr ? ZkCapiLibContext() : nullptr;
  CMS_ContentInfo* cms = CMS_encrypt_ex(nullptr, in, cipher.cipher, CMS_BINARY | CMS_PARTIAL, context, nullptr);
  bool ok = cms != nullptr;
  // Recipients added with their key-transport context kept: the GOST engine sets its parameters
  // there.
  for (int i = 0; ok && i < sk_X509_num(certs); ++i)
    ok = CMS_add1_recipient_cert(cms, sk_X509_value(certs, i), CMS_KEY_PARAM) != nullptr;
  ok = ok && CMS_final(cms, in, nullptr, CMS_BINARY) == 1 && EncodeCms(cms, der);
  CMS_ContentInfo_free(cms);
  BIO_free(in);
  sk_X509_free(certs);
  ERR_clear_error();
  if (!ok) return Fail(kNteBadKey);
  return GiveMessage(request, der, Out, OutLen);
}

// The first recipient whose certificate is in one of the stores with a key attached.
STANDIN_EXPORT BOOL CryptDecryptMessage(CRYPT_DECRYPT_MESSAGE_PARA* Para, const BYTE* Blob, DWORD BlobLen,
                                        BYTE* Out, DWORD* OutLen, PCCERT_CONTEXT* XchgCert) {
  if (Scripted("CryptDecryptMessage")) return 0;
  if (XchgCert != nullptr) *XchgCert = nullptr;
  if (Para == nullptr || (Para->cCertStore > 0 && Para->rghCertStore == nullptr)) return Fail(kErrorInvalidParameter);
  CMS_ContentInfo* cms = DecodeCms(Blob, BlobLen);
  if (cms == nullptr) return Fail(kCryptEAsn1BadTag);
  DWORD error = MessageType(cms) == kMsgEnveloped ? kCryptENoDecryptCert : kCryptEInvalidMsgType;
  std::vector<BYTE> content;
  for (DWORD r = 0; error == kCryptENoDecryptCert && Recipient(cms, r) != nullptr; ++r) {
    CMS_RecipientInfo* ri = Recipient(cms, r);
    std::vector<BYTE> issuer, serial;
    if (!RecipientId(ri, issuer, serial)) continue;
    for (DWORD s = 0; s < Para->cCertStore && error == kCryptENoDecryptCert; ++s) {
      PCCERT_CONTEXT c = nullptr;
      while ((c = CertEnumCertificatesInStore(Para->rghCertStore[s], c)) != nullptr) {
        if (!SameId(issuer, serial, *c->pCertInfo)) continue;
        EVP_PKEY* key = CertPrivateKey(CertOf(c));
        if (key == nullptr) continue;
        error = DecryptFor(cms, ri, key, content);
        EVP_PKEY_free(key);
        if (error == 0 && XchgCert != nullptr) *XchgCert = CertDuplicateCertificateContext(c);
        CertFreeCertificateContext(c);
        break;
      }
    }
  }
  CMS_ContentInfo_free(cms);
  if (error != 0) return Fail(error);
  if (!GiveBytes(content, Out, OutLen)) {
    if (XchgCert != nullptr && *XchgCert != nullptr) CertFreeCertificateContext(*XchgCert);
    if (XchgCert != nullptr) *XchgCert = nullptr;
    return 0;
  }
  return 1;
}

STANDIN_EXPORT HCRYPTMSG CryptMsgOpenToDecode(DWORD, DWORD Flags, DWORD, HCRYPTPROV, void*, void* StreamInfo) {
  if (Scripted("CryptMsgOpenToDecode")) return nullptr;
  if (StreamInfo != nullptr) {
    SetLastError(kErrorCallNotImplemented);
    return nullptr;
  }
  auto* m = new TMessage;
  m->detached = (Flags & kDetachedFlag) != 0;
  std::lock_guard<std::mutex> hold(MessagesLock());
  Messages().insert(m);
  return m;
}

STANDIN_EXPORT BOOL CryptMsgClose(HCRYPTMSG Msg) {
  if (Msg == nullptr) return 1;
  TMessage* m = MessageOf(Msg);
  if (m == nullptr) return Fail(kErrorInvalidHandle);
  {
    std::lock_guard<std::mutex> hold(MessagesLock());
    Messages().erase(m);
  }
  CMS_ContentInfo_free(m->cms);
  OPENSSL_cleanse(m->decrypted.data(), m->decrypted.size());
  delete m;
  return 1;
}

// The message first (to its final piece), then, when detached, the content it signs.
STANDIN_EXPORT BOOL CryptMsgUpdate(HCRYPTMSG Msg, const BYTE* Data, DWORD Len, BOOL Final) {
  if (Scripted("CryptMsgUpdate")) return 0;
  TMessage* m = MessageOf(Msg);
  if (m == nullptr || (Data == nullptr && Len > 0)) return Fail(kErrorInvalidParameter);
  if (!m->encodedDone) {
    if (Len > 0 && (!Final || !m->encoded.empty() || ContentTypeOf(Data, Len) == kSignedDataOid))
      m->encoded.insert(m->encoded.end(), Data, Data + Len);  // a signed message is read where it is kept
    if (!Final) return 1;
    m->encodedDone = true;
    // An enveloped message in one piece is decoded where it lies; its decoded form keeps what it needs.
    m->type = m->encoded.empty() ? ReadMessage(Data, Len, m->signedMessage, &m->cms)
                                 : ReadMessage(m->encoded.data(), m->encoded.size(), m->signedMessage, &m->cms);
    if (m->type == 0) return Fail(kCryptEAsn1BadTag);
    if (m->detached && m->type != kMsgSigned) return Fail(kCryptEInvalidMsgType);
    return 1;
  }
  if (!m->detached || m->contentDone) return Fail(kCryptEMsgError);
  if (Len > 0) m->content.insert(m->content.end(), Data, Data + Len);
  m->contentDone = Final != 0;
  return 1;
}

STANDIN_EXPORT BOOL CryptMsgGetParam(HCRYPTMSG Msg, DWORD Type, DWORD Index, void* Data, DWORD* DataLen) {
  if (Scripted("CryptMsgGetParam")) return 0;
  TMessage* m = MessageOf(Msg);
  if (m == nullptr || DataLen == nullptr) return Fail(kErrorInvalidParameter);
  if (m->type == 0) return Fail(kCryptEStreamMsgNotReady);
  const DWORD type = m->type;
  if (Type == kMsgTypeParam) return GiveDword(type, Data, DataLen);
  if (type == kMsgSigned) {
    const TSignedMessage& message = m->signedMessage;
    const TSigner* signer = Signer(message, Index);
    switch (Type) {
      case kMsgSignerCountParam:
        return GiveDword(static_cast<DWORD>(message.signers.size()), Data, DataLen);
      case kMsgSignerCertInfoParam:
        if (signer == nullptr) return Fail(kCryptEInvalidIndex);
        if (!signer->byIssuerAndSerial) return Fail(kCryptESignerNotFound);  // identified by key id
        return GiveIssuerAndSerial(signer->issuer, signer->serial, Data, DataLen);
      case kMsgSignerAuthAttrParam:
        return signer != nullptr ? GiveAttributes(*signer, Data, DataLen) : Fail(kCryptEInvalidIndex);
      case kMsgCertCountParam:
        return GiveDword(static_cast<DWORD>(message.certificates.size()), Data, DataLen);
      case kMsgCertParam: {
        if (Index >= message.certificates.size()) return Fail(kCryptEInvalidIndex);
        const TSpan& der = message.certificates[Index];
        return GiveBytes(std::vector<BYTE>(der.data, der.data + der.size), Data, DataLen);
      }
      case kMsgComputedHashParam: {
        TSpan content;
        std::vector<BYTE> digest;
        if (signer == nullptr) return Fail(kCryptEInvalidIndex);
        if (!SignedContent(m, content)) return Fail(kCryptEStreamMsgNotReady);
        if (!DigestOf(signer->digestOid, content.data, content.size, digest)) return Fail(kCryptEUnknownAlgo);
        return GiveBytes(digest, Data, DataLen);
      }
      case kMsgContentParam: {
        TSpan content;
        if (m->detached || !SignedContent(m, content)) return Fail(kCryptEInvalidMsgType);
        return GiveBytes(std::vector<BYTE>(content.data, content.data + content.size), Data, DataLen);
      }
    }
  } else if (type == kMsgEnveloped) {
    switch (Type) {
      case kMsgRecipientCountParam: {
        STACK_OF(CMS_RecipientInfo)* recipients = CMS_get0_RecipientInfos(m->cms);
        return GiveDword(static_cast<DWORD>(std::max(0, sk_CMS_RecipientInfo_num(recipients))), Data, DataLen);
      }
      case kMsgRecipientInfoParam: {
        CMS_RecipientInfo* ri = Recipient(m->cms, Index);
        std::vector<BYTE> issuer, serial;
        if (ri == nullptr) return Fail(kCryptEInvalidIndex);
        if (!RecipientId(ri, issuer, serial)) return Fail(kCryptERecipientNotFound);
        return GiveIssuerAndSerial(issuer, serial, Data, DataLen);
      }
      case kMsgContentParam:
        return m->decryptedDone ? GiveBytes(m->decrypted, Data, DataLen) : Fail(kCryptENotDecrypted);
    }
  }
  return Fail(kCryptEInvalidMsgType);
}

STANDIN_EXPORT BOOL CryptMsgControl(HCRYPTMSG Msg, DWORD, DWORD Type, const void* Para) {
  if (Scripted("CryptMsgControl")) return 0;
  TMessage* m = MessageOf(Msg);
  if (m == nullptr || Para == nullptr) return Fail(kErrorInvalidParameter);
  if (m->type == 0) return Fail(kCryptEStreamMsgNotReady);
  if (Type == kCtrlVerifySignature && m->type == kMsgSigned) {
    const auto& info = *static_cast<const CERT_INFO*>(Para);
    TSpan content;
    if (!SignedContent(m, content)) return Fail(kCryptEStreamMsgNotReady);
    for (const TSigner& signer : m->signedMessage.signers) {
      if (!signer.byIssuerAndSerial || !SameId(signer.issuer, signer.serial, info)) continue;
      EVP_PKEY* key = PublicKeyOf(info);
      const DWORD error = key == nullptr ? kNteBadKey : VerifySigner(signer, key, content.data, content.size);
      EVP_PKEY_free(key);
      return error == 0 ? 1 : Fail(error);
    }
    return Fail(kCryptESignerNotFound);
  }
  if (Type == kCtrlDecrypt && m->type == kMsgEnveloped) {
    const auto& para = *static_cast<const CMSG_CTRL_DECRYPT_PARA*>(Para);
    if (m->decryptedDone) return Fail(kCryptEAlreadyDecrypted);
    CMS_RecipientInfo* ri = Recipient(m->cms, para.dwRecipientIndex);
    if (ri == nullptr || CMS_RecipientInfo_type(ri) != CMS_RECIPINFO_TRANS) return Fail(kCryptEInvalidIndex);
    EVP_PKEY* key = ZkCapiProviderKey(para.hCryptProv, para.dwKeySpec);
    if (key == nullptr) return 0;
    const DWORD error = DecryptFor(m->cms, ri, key, m->decrypted);
    EVP_PKEY_free(key);
    m->decryptedDone = error == 0;
    return error == 0 ? 1 : Fail(error);
  }
  return Fail(kCryptEControlType);
}

}  // extern "C"
