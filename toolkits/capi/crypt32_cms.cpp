#include "crypt32_cms.h"

#include <openssl/err.h>

#include <algorithm>
#include <cstring>

namespace capistandin {
namespace {

std::string AlgorithmName(const char* oid) {
  ASN1_OBJECT* obj = oid != nullptr ? OBJ_txt2obj(oid, 1) : nullptr;
  const int nid = obj != nullptr ? OBJ_obj2nid(obj) : NID_undef;
  ASN1_OBJECT_free(obj);
  return nid != NID_undef ? OBJ_nid2sn(nid) : "";
}

void AppendLength(std::vector<BYTE>& out, size_t len) {
  if (len < 0x80) {
    out.push_back(static_cast<BYTE>(len));
    return;
  }
  BYTE bytes[sizeof(size_t)];
  int n = 0;
  for (size_t v = len; v != 0; v >>= 8) bytes[n++] = static_cast<BYTE>(v);
  out.push_back(static_cast<BYTE>(0x80 | n));
  while (n > 0) out.push_back(bytes[--n]);
}

std::vector<BYTE> Tlv(BYTE tag, const std::vector<BYTE>& content) {
  std::vector<BYTE> out{tag};
  AppendLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// DER of the signed attributes as the signature covers them: a SET OF, members in order.
bool SignedAttributesDer(CMS_SignerInfo* si, std::vector<BYTE>& der) {
  std::vector<std::vector<BYTE>> members;
  for (int i = 0; i < CMS_signed_get_attr_count(si); ++i) {
    unsigned char* one = nullptr;
    const int len = i2d_X509_ATTRIBUTE(CMS_signed_get_attr(si, i), &one);
    if (len <= 0) return false;
    members.emplace_back(one, one + len);
    OPENSSL_free(one);
  }
  std::sort(members.begin(), members.end());
  std::vector<BYTE> content;
  for (const auto& m : members) content.insert(content.end(), m.begin(), m.end());
  der = Tlv(0x31, content);
  return true;
}

}  // namespace

TDigest::TDigest(const char* oid) {
  const std::string name = AlgorithmName(oid);
  if (name.empty()) return;
  fetched = EVP_MD_fetch(ZkCapiLibContext(), name.c_str(), nullptr);
  md = fetched != nullptr ? fetched : EVP_get_digestbyname(name.c_str());
  ERR_clear_error();
}
TDigest::~TDigest() { EVP_MD_free(fetched); }

TCipher::TCipher(const char* oid) {
  const std::string name = AlgorithmName(oid);
  if (name.empty()) return;
  fetched = EVP_CIPHER_fetch(ZkCapiLibContext(), name.c_str(), nullptr);
  cipher = fetched != nullptr ? fetched : EVP_get_cipherbyname(name.c_str());
  ERR_clear_error();
}
TCipher::~TCipher() { EVP_CIPHER_free(fetched); }

CMS_ContentInfo* DecodeCms(const BYTE* der, size_t len) {
  if (der == nullptr || len == 0) return nullptr;
  CMS_ContentInfo* cms = CMS_ContentInfo_new_ex(ZkCapiLibContext(), nullptr);
  const unsigned char* p = der;
  if (cms == nullptr || d2i_CMS_ContentInfo(&cms, &p, static_cast<long>(len)) == nullptr || p != der + len) {
    CMS_ContentInfo_free(cms);
    ERR_clear_error();
    return nullptr;
  }
  return cms;
}

// Encoded straight into `out`: a large message is not copied once more.
bool EncodeCms(CMS_ContentInfo* cms, std::vector<BYTE>& out) {
  const int len = i2d_CMS_ContentInfo(cms, nullptr);
  if (len <= 0) return false;
  out.resize(static_cast<size_t>(len));
  unsigned char* p = out.data();
  return i2d_CMS_ContentInfo(cms, &p) == len;
}

bool SignerId(CMS_SignerInfo* si, std::vector<BYTE>& issuer, std::vector<BYTE>& serial) {
  ASN1_OCTET_STRING* keyid = nullptr;
  X509_NAME* name = nullptr;
  ASN1_INTEGER* sno = nullptr;
  if (!CMS_SignerInfo_get0_signer_id(si, &keyid, &name, &sno) || name == nullptr || sno == nullptr) return false;
  issuer = NameBytes(name);
  serial = SerialBytes(sno);
  return true;
}

bool RecipientId(CMS_RecipientInfo* ri, std::vector<BYTE>& issuer, std::vector<BYTE>& serial) {
  ASN1_OCTET_STRING* keyid = nullptr;
  X509_NAME* name = nullptr;
  ASN1_INTEGER* sno = nullptr;
  if (CMS_RecipientInfo_type(ri) != CMS_RECIPINFO_TRANS ||
      !CMS_RecipientInfo_ktri_get0_signer_id(ri, &keyid, &name, &sno) || name == nullptr || sno == nullptr)
    return false;
  issuer = NameBytes(name);
  serial = SerialBytes(sno);
  return true;
}

bool SameId(const std::vector<BYTE>& issuer, const std::vector<BYTE>& serial, const CERT_INFO& info) {
  return issuer.size() == info.Issuer.cbData && serial.size() == info.SerialNumber.cbData &&
         (issuer.empty() || std::memcmp(issuer.data(), info.Issuer.pbData, issuer.size()) == 0) &&
         (serial.empty() || std::memcmp(serial.data(), info.SerialNumber.pbData, serial.size()) == 0);
}

EVP_PKEY* PublicKeyOf(const CERT_INFO& info) {
  // A context's own CERT_INFO: its certificate's key, not decoded again.
  if (EVP_PKEY* known = KnownPublicKey(&info)) return known;
  const CERT_PUBLIC_KEY_INFO& spki = info.SubjectPublicKeyInfo;
  if (spki.Algorithm.pszObjId == nullptr) return nullptr;
  ASN1_OBJECT* obj = OBJ_txt2obj(spki.Algorithm.pszObjId, 1);
  unsigned char* oid = nullptr;
  const int oidLen = obj != nullptr ? i2d_ASN1_OBJECT(obj, &oid) : -1;
  ASN1_OBJECT_free(obj);
  if (oidLen <= 0) return nullptr;
  std::vector<BYTE> alg(oid, oid + oidLen);
  OPENSSL_free(oid);
  if (spki.Algorithm.Parameters.cbData > 0)
    alg.insert(alg.end(), spki.Algorithm.Parameters.pbData,
               spki.Algorithm.Parameters.pbData + spki.Algorithm.Parameters.cbData);
  std::vector<BYTE> bits{static_cast<BYTE>(spki.PublicKey.cUnusedBits & 7)};
  if (spki.PublicKey.cbData > 0)
    bits.insert(bits.end(), spki.PublicKey.pbData, spki.PublicKey.pbData + spki.PublicKey.cbData);
  std::vector<BYTE> body = Tlv(0x30, alg);
  const std::vector<BYTE> bitString = Tlv(0x03, bits);
  body.insert(body.end(), bitString.begin(), bitString.end());
  const std::vector<BYTE> der = Tlv(0x30, body);
  const unsigned char* p = der.data();
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
  ERR_clear_error();
  return key;
}

bool ContentDigest(CMS_SignerInfo* si, const std::vector<BYTE>& content, std::vector<BYTE>& digest) {
  X509_ALGOR* digestAlg = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digestAlg, nullptr);
  const ASN1_OBJECT* obj = nullptr;
  X509_ALGOR_get0(&obj, nullptr, nullptr, digestAlg);
  TDigest md(OidText(obj).c_str());
  if (md.md == nullptr) return false;
  digest.resize(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  if (!EVP_Digest(content.data(), content.size(), digest.data(), &len, md.md, nullptr)) return false;
  digest.resize(len);
  return true;
}

DWORD VerifySigner(CMS_SignerInfo* si, EVP_PKEY* key, const std::vector<BYTE>& content) {
  X509_ALGOR* digestAlg = nullptr;
  CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digestAlg, nullptr);
  const ASN1_OBJECT* obj = nullptr;
  X509_ALGOR_get0(&obj, nullptr, nullptr, digestAlg);
  TDigest md(OidText(obj).c_str());
  if (md.md == nullptr) return kCryptEUnknownAlgo;
  // The signature covers the content itself, or the signed attributes when there are any.
  std::vector<BYTE> attributes;
  const std::vector<BYTE>* signedPart = &content;
  if (CMS_signed_get_attr_count(si) > 0) {
    const int at = CMS_signed_get_attr_by_NID(si, NID_pkcs9_messageDigest, -1);
    ASN1_TYPE* value = at >= 0 ? X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, at), 0) : nullptr;
    std::vector<BYTE> digest;
    if (value == nullptr || value->type != V_ASN1_OCTET_STRING || !ContentDigest(si, content, digest) ||
        static_cast<size_t>(ASN1_STRING_length(value->value.octet_string)) != digest.size() ||
        CRYPTO_memcmp(ASN1_STRING_get0_data(value->value.octet_string), digest.data(), digest.size()) != 0)
      return kNteBadSignature;
    if (!SignedAttributesDer(si, attributes)) return kCryptEBadEncode;
    signedPart = &attributes;
  }
  const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const bool ok = ctx != nullptr && EVP_DigestVerifyInit(ctx, nullptr, md.md, nullptr, key) == 1 &&
                  EVP_DigestVerify(ctx, ASN1_STRING_get0_data(signature),
                                   static_cast<size_t>(ASN1_STRING_length(signature)), signedPart->data(),
                                   signedPart->size()) == 1;
  EVP_MD_CTX_free(ctx);
  ERR_clear_error();
  return ok ? 0 : kNteBadSignature;
}

DWORD DecryptFor(CMS_ContentInfo* cms, CMS_RecipientInfo* ri, EVP_PKEY* key, std::vector<BYTE>& content) {
  EVP_PKEY_up_ref(key);
  CMS_RecipientInfo_set0_pkey(ri, key);  // the recipient info owns this reference now
  DWORD error = 0;
  if (CMS_RecipientInfo_decrypt(cms, ri) != 1) {
    error = kNteBadData;
  } else {
    BIO* out = BIO_new(BIO_s_mem());
    if (CMS_decrypt(cms, nullptr, nullptr, nullptr, out, CMS_BINARY) != 1) {
      error = kNteBadData;
    } else {
      char* data = nullptr;
      const long len = BIO_get_mem_data(out, &data);
      content.assign(data, data + (len > 0 ? len : 0));
    }
    BIO_free(out);
  }
  CMS_RecipientInfo_set0_pkey(ri, nullptr);
  ERR_clear_error();
  return error;
}

}  // namespace capistandin
