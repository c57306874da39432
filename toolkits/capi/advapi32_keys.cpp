// Key handles of the stand-in "advapi32.dll": the container's key, its export and import as a
// PRIVATEKEYBLOB (Microsoft's layout for RSA), and key generation. A GOST PRIVATEKEYBLOB is this
// stand-in's own: the 8-byte BLOBHEADER {7, 2, 0, CALG_DH_EL_SF}, the magic "ZKG1", then the key
// as DER PKCS#8.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "advapi32_internal.h"

namespace capistandin {
namespace {

const BYTE kGostBlobHead[] = {7, 2, 0, 0, 0x24, 0xAA, 0, 0, 'Z', 'K', 'G', '1'};

bool IsGost(const EVP_PKEY* key) {
  const int id = EVP_PKEY_get_base_id(key);
  return id == NID_id_GostR3410_2001 || id == NID_id_GostR3410_2012_256 || id == NID_id_GostR3410_2012_512;
}

bool ExportBlob(EVP_PKEY* key, DWORD type, std::vector<BYTE>& blob) {
  if (IsGost(key)) {
    if (type != kPrivateKeyBlob) return false;
    PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
    unsigned char* der = nullptr;
    const int len = p8 != nullptr ? i2d_PKCS8_PRIV_KEY_INFO(p8, &der) : -1;
    PKCS8_PRIV_KEY_INFO_free(p8);
    if (len <= 0) return false;
    blob.assign(kGostBlobHead, kGostBlobHead + sizeof kGostBlobHead);
    blob.insert(blob.end(), der, der + len);
    OPENSSL_clear_free(der, static_cast<size_t>(len));
    return true;
  }
  BIO* out = BIO_new(BIO_s_secmem());
  const int written = type == kPrivateKeyBlob ? i2b_PrivateKey_bio(out, key) : type == 6 ? i2b_PublicKey_bio(out, key) : -1;
  BUF_MEM* mem = nullptr;
  BIO_get_mem_ptr(out, &mem);
  if (written > 0 && mem != nullptr) blob.assign(mem->data, mem->data + mem->length);
  BIO_free(out);
  return written > 0;
}

EVP_PKEY* ImportBlob(const BYTE* blob, DWORD len) {
  if (len > sizeof kGostBlobHead && std::memcmp(blob, kGostBlobHead, sizeof kGostBlobHead) == 0) {
    const unsigned char* p = blob + sizeof kGostBlobHead;
    PKCS8_PRIV_KEY_INFO* p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(len - sizeof kGostBlobHead));
    EVP_PKEY* key = p8 != nullptr ? EVP_PKCS82PKEY(p8) : nullptr;
    PKCS8_PRIV_KEY_INFO_free(p8);
    return key;
  }
  const unsigned char* p = blob;
  return b2i_PrivateKey(&p, static_cast<long>(len));
}

}  // namespace
}  // namespace capistandin

using namespace capistandin;

extern "C" {

STANDIN_EXPORT BOOL CryptGetUserKey(HCRYPTPROV Prov, DWORD KeySpec, HCRYPTKEY* Key) {
  if (Scripted("CryptGetUserKey")) return 0;
  if (Key == nullptr) return Fail(kErrorInvalidParameter);
  TProv* prov = LockProv(Prov);
  if (prov == nullptr) return Fail(kNteBadUid);
  EVP_PKEY* pkey = KeySpec == 1 || KeySpec == 2 ? ProvKey(prov) : nullptr;
  if (pkey != nullptr) *Key = NewKey(prov, pkey);
  EVP_PKEY_free(pkey);
  UnlockProv(prov);
  return pkey != nullptr ? 1 : Fail(kNteNoKey);
}

STANDIN_EXPORT BOOL CryptDestroyKey(HCRYPTKEY Key) {
  if (Scripted("CryptDestroyKey")) return 0;
  return DestroyKey(Key) ? 1 : Fail(kNteBadKey);
}

STANDIN_EXPORT BOOL CryptExportKey(HCRYPTKEY Key, HCRYPTKEY ExpKey, DWORD BlobType, DWORD Flags, BYTE* Data,
                                   DWORD* DataLen) {
  if (Scripted("CryptExportKey")) return 0;
  if (DataLen == nullptr) return Fail(kErrorInvalidParameter);
  TKey* key = FindKey(Key);
  if (key == nullptr) return Fail(kNteBadKey);
  if (ExpKey != 0 || Flags != 0) return Fail(kNteBadFlags);
  std::vector<BYTE> blob;
  if (!ExportBlob(key->pkey, BlobType, blob)) return Fail(kNteBadType);
  const DWORD room = *DataLen;
  *DataLen = static_cast<DWORD>(blob.size());
  if (Data == nullptr) return 1;
  if (room < blob.size()) return Fail(kErrorMoreData);
  std::memcpy(Data, blob.data(), blob.size());
  OPENSSL_cleanse(blob.data(), blob.size());
  return 1;
}

STANDIN_EXPORT BOOL CryptImportKey(HCRYPTPROV Prov, const BYTE* Data, DWORD DataLen, HCRYPTKEY PubKey, DWORD,
                                   HCRYPTKEY* Key) {
  if (Scripted("CryptImportKey")) return 0;
  if (Data == nullptr || Key == nullptr || DataLen < 8) return Fail(kErrorInvalidParameter);
  if (PubKey != 0) return Fail(kNteBadKey);  // encrypted blobs are not offered
  TProv* prov = LockProv(Prov);
  if (prov == nullptr) return Fail(kNteBadUid);
  EVP_PKEY* pkey = ImportBlob(Data, DataLen);
  const DWORD error = pkey == nullptr ? kNteBadData : SetProvKey(prov, pkey) ? 0 : kNteFail;
  if (error == 0) *Key = NewKey(prov, pkey);
  EVP_PKEY_free(pkey);
  UnlockProv(prov);
  return error == 0 ? 1 : Fail(error);
}

// AT_KEYEXCHANGE or AT_SIGNATURE: RSA of the bit length in the high word (1024 by default), or
// GOST R 34.10-2001 with the CryptoPro-A parameters.
STANDIN_EXPORT BOOL CryptGenKey(HCRYPTPROV Prov, DWORD AlgId, DWORD Flags, HCRYPTKEY* Key) {
  if (Scripted("CryptGenKey")) return 0;
  if (Key == nullptr || (AlgId != 1 && AlgId != 2)) return Fail(AlgId == 1 || AlgId == 2 ? kErrorInvalidParameter : kNteBadAlgid);
  TProv* prov = LockProv(Prov);
  if (prov == nullptr) return Fail(kNteBadUid);
  EVP_PKEY* pkey = nullptr;
  if (prov->info->family == TFamily::Rsa) {
    const unsigned bits = (Flags >> 16) != 0 ? Flags >> 16 : 1024;
    pkey = EVP_PKEY_Q_keygen(ZkCapiLibContext(), nullptr, "RSA", static_cast<size_t>(bits));
  } else if (prov->info->family == TFamily::Gost) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(NID_id_GostR3410_2001, nullptr);
    if (ctx != nullptr && EVP_PKEY_keygen_init(ctx) > 0 && EVP_PKEY_CTX_ctrl_str(ctx, "paramset", "A") > 0)
      EVP_PKEY_keygen(ctx, &pkey);
    EVP_PKEY_CTX_free(ctx);
  }
  const DWORD error = pkey == nullptr ? kNteBadAlgid : SetProvKey(prov, pkey) ? 0 : kNteFail;
  if (error == 0) *Key = NewKey(prov, pkey);
  EVP_PKEY_free(pkey);
  UnlockProv(prov);
  return error == 0 ? 1 : Fail(error);
}

// Resolved by the binding, never called by it.
#define ZK_NOT_IMPLEMENTED(name, ...)                     \
  STANDIN_EXPORT BOOL name(__VA_ARGS__) {                 \
    if (Scripted(#name)) return 0;                        \
    return Fail(kErrorCallNotImplemented);                \
  }
ZK_NOT_IMPLEMENTED(CryptSignHashA, HCRYPTHASH, DWORD, const char*, DWORD, BYTE*, DWORD*)
ZK_NOT_IMPLEMENTED(CryptGetProvParam, HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD)
ZK_NOT_IMPLEMENTED(CryptSetProvParam, HCRYPTPROV, DWORD, const BYTE*, DWORD)
ZK_NOT_IMPLEMENTED(CryptGetKeyParam, HCRYPTKEY, DWORD, BYTE*, DWORD*, DWORD)
ZK_NOT_IMPLEMENTED(CryptSetKeyParam, HCRYPTKEY, DWORD, const BYTE*, DWORD)
ZK_NOT_IMPLEMENTED(CryptDecrypt, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*)
ZK_NOT_IMPLEMENTED(CryptEncrypt, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*, DWORD)
ZK_NOT_IMPLEMENTED(CryptCreateHash, HCRYPTPROV, DWORD, HCRYPTKEY, DWORD, HCRYPTHASH*)
ZK_NOT_IMPLEMENTED(CryptDestroyHash, HCRYPTHASH)
ZK_NOT_IMPLEMENTED(CryptHashData, HCRYPTHASH, const BYTE*, DWORD, DWORD)

}  // extern "C"
