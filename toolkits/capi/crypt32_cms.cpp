#include "crypt32_cms.h"
#include "crypt32_signed.h"

#include <openssl/err.h>

#include <cstring>

#include "standin_der.h"

namespace capistandin {
namespace {

std::string AlgorithmName(const char* oid) {
  ASN1_OBJECT* obj = oid != nullptr ? OBJ_txt2obj(oid, 1) : nullptr;
  const int nid = obj != nullptr ? OBJ_obj2nid(obj) : NID_undef;
  ASN1_OBJECT_free(obj);
  return nid != NID_undef ? OBJ_nid2sn(nid) : "";
}

using standin::der::Tlv;

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

namespace {

// Checked on the bytes as sent; a BER envelope, which the reader does not follow, on OpenSSL's
// own DER re-encoding of it.
bool CipherSound(CMS_ContentInfo* cms, const BYTE* der, size_t len) {
  TCipherCheck check = CheckEnvelopeCipher(der, len);
  std::vector<BYTE> reencoded;
  if (check == TCipherCheck::kUnreadable && EncodeCms(cms, reencoded))
    check = CheckEnvelopeCipher(reencoded.data(), reencoded.size());
  return check == TCipherCheck::kSound;
}

}  // namespace

CMS_ContentInfo* DecodeCms(const BYTE* der, size_t len) {
  if (der == nullptr || len == 0) return nullptr;
  CMS_ContentInfo* cms = CMS_ContentInfo_new_ex(ZkCapiLibContext(), nullptr);
  const unsigned char* p = der;
  if (cms == nullptr || d2i_CMS_ContentInfo(&cms, &p, static_cast<long>(len)) == nullptr || p != der + len ||
      !CipherSound(cms, der, len)) {
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
