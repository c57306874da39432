// The calls of the CryptoCom 3.x toolkit ("ccom.dll") as this adapter makes them (C calling
// convention). Calls that create an object answer null on failure; the others answer kCComOk
// (1) on success and 0 on failure. After a failure ERR_get_last_error tells why (codes 0..90;
// the last error is kept per thread).
//
// Formats the adapter relies on:
//   public values and public keys   65 bytes: 0x04, X (32, big-endian), Y (32, big-endian)
//                                   on the GOST R 34.10-2001 CryptoPro-A curve
//   signatures                      64 bytes: r (32, big-endian) then s (32, big-endian)
//   agreed value                    kAgreedValueSize bytes: X then Y of the shared point
//   digests                         32 bytes; parameter identifier kHashParamCryptoPro selects
//                                   GOST R 34.11-94 with the CryptoPro parameter set
//   opaque private key              36 bytes: the wrapped key (32) and its MAC (4)
// The PSE is a directory (see the stand-in's documentation); a PSE context reads either a PSE
// directory (PSE_CTX_read after PSE_CTX_set_path with a directory) or, when the PSE's master
// key, masks, key-encryption key and random state have been set into it, one opaque key file
// (PSE_CTX_read after PSE_CTX_set_path with the file), whose private key PSE_CTX_get_pse then
// hands to the signing and key-agreement calls.
//
// The declarations name the stand-in's exports; the adapter only takes their types (decltype)
// and resolves the addresses at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk::ccom3x {
constexpr int kCComOk = 1;
constexpr int kPublicValueSize = 65;
constexpr int kSignatureSize = 64;
constexpr int kAgreedValueSize = 64;
constexpr int kDigestSize = 32;
constexpr int kSessionKeySize = 32;
constexpr int kVectorSize = 8;
constexpr int kMacSize = 4;
constexpr int kOpaqueKeySize = 36;
constexpr int kHashParamCryptoPro = 21;
// GOSTE_init modes
constexpr int kGosteModeMac = 0;
constexpr int kGosteModeGamma = 1;
constexpr int kGosteModeGammaFeedback = 2;
constexpr int kGosteEncrypt = 1;
constexpr int kGosteDecrypt = 0;
// PSE_CTX_get_* / PSE_CTX_set_* sizes
constexpr int kPseMasterKeySize = 32;
constexpr int kPseMasksSize = 32;
constexpr int kPseKekSize = 32;
constexpr int kPseRandSize = 64;
// ERR_get_last_error codes the adapter names
constexpr int kErrMac = 3;
constexpr int kErrRandNotInited = 4;
constexpr int kErrBadSignature = 7;
constexpr int kErrNotSupported = 30;
}  // namespace zk::ccom3x

extern "C" {
struct CCOM_GOSTH_CTX;
struct CCOM_GOSTE_CTX;
struct CCOM_ECGOST_SIGN;
struct CCOM_ECGOST_DH;
struct CCOM_PSE_CTX;
struct CCOM_PSE;

int CADB_init(void);
void CADB_close(void);

// ECGOST signatures: sign with the private key of a PSE, verify with a 65-byte public key
int ECGOST_generate_public_key(CCOM_PSE* pse, unsigned char* public65);
CCOM_ECGOST_SIGN* ECGOST_SIGN_new(void);
void ECGOST_SIGN_free(CCOM_ECGOST_SIGN* ctx);
int ECGOST_sign_init(CCOM_ECGOST_SIGN* ctx, CCOM_PSE* pse);
int ECGOST_verify_init(CCOM_ECGOST_SIGN* ctx, const unsigned char* public65, int publicLen);
int ECGOST_update(CCOM_ECGOST_SIGN* ctx, const void* data, size_t len);
int ECGOST_sign_final(CCOM_ECGOST_SIGN* ctx, unsigned char* signature64);
// kCComOk for a good signature; 0 with last error kErrBadSignature for a bad one
int ECGOST_verify_final(CCOM_ECGOST_SIGN* ctx, const unsigned char* signature, int signatureLen);

// ECGOST key agreement: pse null makes an ephemeral key, else the PSE's private key is used
CCOM_ECGOST_DH* ECGOST_DH_new(void);
void ECGOST_DH_free(CCOM_ECGOST_DH* dh);
int ECGOST_DH_generate_key(CCOM_ECGOST_DH* dh, CCOM_PSE* pse, unsigned char* public65);
int ECGOST_DH_compute_key(CCOM_ECGOST_DH* dh, const unsigned char* peerPublic65, unsigned char* agreed64);

// GOST 28147-89 (the GOST R 34.11-94 test substitution table)
CCOM_GOSTE_CTX* GOSTE_new(void);
void GOSTE_free(CCOM_GOSTE_CTX* ctx);
int GOSTE_init(CCOM_GOSTE_CTX* ctx, int mode, int encrypt, const unsigned char* key32, const unsigned char* iv8);
int GOSTE_update(CCOM_GOSTE_CTX* ctx, unsigned char* out, const unsigned char* in, size_t len);
int GOSTE_mac_update(CCOM_GOSTE_CTX* ctx, const unsigned char* data, size_t len);
int GOSTE_mac_final(CCOM_GOSTE_CTX* ctx, unsigned char* mac4);

int RAND_bytes(unsigned char* out, int len);

// GOST R 34.11-94
CCOM_GOSTH_CTX* GOSTH_new(void);
void GOSTH_free(CCOM_GOSTH_CTX* ctx);
int GOSTH_hash_init(CCOM_GOSTH_CTX* ctx, int paramId);
int GOSTH_update(CCOM_GOSTH_CTX* ctx, const void* data, size_t len);
int GOSTH_final(CCOM_GOSTH_CTX* ctx, unsigned char* digest32);

void ERR_set_last_error(int code);
int ERR_get_last_error(void);

// PSE
CCOM_PSE_CTX* PSE_CTX_new(void);
void PSE_CTX_free(CCOM_PSE_CTX* ctx);
int PSE_CTX_set_path(CCOM_PSE_CTX* ctx, const char* path);
int PSE_CTX_read(CCOM_PSE_CTX* ctx);
CCOM_PSE* PSE_CTX_get_pse(CCOM_PSE_CTX* ctx);
int PSE_CTX_get_mkey(CCOM_PSE_CTX* ctx, unsigned char* out32);
int PSE_CTX_get_masks(CCOM_PSE_CTX* ctx, unsigned char* out32);
int PSE_CTX_get_kek(CCOM_PSE_CTX* ctx, unsigned char* out32);
int PSE_CTX_get_rand(CCOM_PSE_CTX* ctx, unsigned char* out64);
int PSE_CTX_set_mkey(CCOM_PSE_CTX* ctx, const unsigned char* in32);
int PSE_CTX_set_masks(CCOM_PSE_CTX* ctx, const unsigned char* in32);
int PSE_CTX_set_kek(CCOM_PSE_CTX* ctx, const unsigned char* in32);
int PSE_CTX_set_rand(CCOM_PSE_CTX* ctx, const unsigned char* in64);
// 1 when the toolkit's random generator has been initialised (by reading a PSE), else 0
int PSE_rand_inited(void);
}

// Every name the binding resolves, in its order; all but GOSTH_file_digest must be present.
#define ZK_CCOM_FUNCTION_NAMES(X)                                                                          \
  X(ECGOST_generate_key) X(ECGOST_generate_public_key) X(ECGOST_SIGN_new) X(ECGOST_SIGN_free)             \
  X(ECGOST_SIGN_clean) X(ECGOST_sign_init) X(ECGOST_verify_init) X(ECGOST_update) X(ECGOST_sign_final)     \
  X(ECGOST_verify_final) X(ECGOST_sign_digest) X(ECGOST_verify_digest) X(ECGOST_DH_new) X(ECGOST_DH_free) \
  X(ECGOST_DH_generate_key) X(ECGOST_DH_compute_key) X(GOSTS_SIGN_new) X(GOSTS_SIGN_free)                 \
  X(GOSTS_SIGN_clean) X(GOSTS_generate_key) X(GOSTS_generate_public_key) X(GOSTS_sign_init)               \
  X(GOSTS_verify_init) X(GOSTS_update) X(GOSTS_sign_final) X(GOSTS_verify_final) X(GOSTS_sign_digest)     \
  X(GOSTS_verify_digest) X(GOSTS_DH_new) X(GOSTS_DH_free) X(GOSTS_DH_generate_key) X(GOSTS_DH_compute_key) \
  X(GOSTS_EG_generate_key) X(GOSTS_EG_compute_key) X(GOSTE_new) X(GOSTE_clean) X(GOSTE_free) X(GOSTE_init) \
  X(GOSTE_update) X(GOSTE_simple_subst_init) X(GOSTE_simple_subst_update) X(_GOSTE_simple_subst_update)   \
  X(GOSTE_gamma_init) X(GOSTE_gamma_update) X(GOSTE_gamma_fb_init) X(GOSTE_gamma_fb_encrypt)              \
  X(GOSTE_gamma_fb_decrypt) X(GOSTE_mac_init) X(GOSTE_mac_init_ex) X(GOSTE_mac_update) X(GOSTE_mac_final) \
  X(GOSTE_mac) X(GOSTE_cbc_init) X(GOSTE_cbc_update) X(_GOSTE_cbc_update) X(RAND_bytes) X(GOSTH_new)      \
  X(GOSTH_free) X(GOSTH_clean) X(GOSTH_hash_init) X(GOSTH_init) X(GOSTH_update) X(GOSTH_final) X(GOSTH)   \
  X(GOSTH_file_digest) X(CP_GOSTE_gamma_fb_init) X(CP_GOSTE_gamma_fb_encrypt) X(CP_GOSTE_gamma_fb_decrypt) \
  X(CP_GOSTE_mac_init) X(CP_GOSTE_mac_update) X(CP_GOSTE_mac_final) X(CP_GOSTE_key_diversify)             \
  X(CP_GOSTE_key_mesh) X(ERR_set_last_error) X(ERR_get_last_error) X(ERR_remove_state)                    \
  X(ERR_print_errors_fp) X(ERR_print_errors_file) X(ERR_get_errors) X(PSE_init) X(PSE_close)              \
  X(PSE_generate_kek) X(PSE_load_kek) X(PSE_generate_mkey) X(PSE_rand_init_hardware)                      \
  X(PSE_pseudo_rand_init_hardware) X(PSE_pseudo_rand_init) X(PSE_rand_inited) X(PSE_get_rand_type)        \
  X(PSE_rand_save_state) X(PSE_rand_close) X(PSE_get_hwrand_type) X(PSE_CTX_new) X(PSE_CTX_free)          \
  X(PSE_CTX_get_pse) X(PSE_CTX_set_masks_num) X(PSE_CTX_set_path) X(PSE_CTX_set_rand_callback)            \
  X(PSE_CTX_set_passwd_callback) X(PSE_CTX_set_user_data) X(PSE_CTX_set_rand_user_data)                   \
  X(PSE_CTX_set_etoken) X(PSE_CTX_set_passwd) X(PSE_CTX_set_mk_path) X(PSE_CTX_set_masks_path)            \
  X(PSE_CTX_set_kek_path) X(PSE_CTX_set_rand_path) X(PSE_CTX_set_mkey) X(PSE_CTX_set_masks)               \
  X(PSE_CTX_set_kek) X(PSE_CTX_set_rand) X(PSE_CTX_get_mkey) X(PSE_CTX_get_masks) X(PSE_CTX_get_kek)      \
  X(PSE_CTX_get_rand) X(PSE_CTX_generate) X(PSE_CTX_write) X(PSE_CTX_read) X(OPAQUE_PRIV_KEY_new)         \
  X(OPAQUE_PRIV_KEY_free) X(OPAQUE_PRIV_KEY_get_priv_key) X(OPAQUE_PRIV_KEY_get_mac)                      \
  X(ETOKEN_set_passwd_callback) X(TOUCH_MEMORY_set_info_callback) X(CCLIB_invert) X(GOSTH_check)          \
  X(CCLIB_check_environment) X(CCOM_init) X(CCOM_close) X(CCLIB_mem_free) X(CCLIB_mem_clear_free)         \
  X(GOSTS_get_p_parameter) X(GOSTS_get_q_parameter) X(GOSTS_get_a_parameter) X(GOSTS_get_test_p_parameter) \
  X(GOSTS_get_test_q_parameter) X(GOSTS_get_test_a_parameter) X(GOSTS_get_dh_p_parameter)                 \
  X(GOSTS_get_dh_a_parameter) X(GOSTE_get_sbox) X(GOSTH_get_sbox) X(GOSTH_get_test_sbox)                  \
  X(CCLIB_get_copyright) X(CCLIB_get_lastupdate) X(GOSTH_nid2sbox) X(GOSTE_nid2sbox) X(CP_GOSTH_get_sbox) \
  X(CP_GOSTE_get_sbox) X(CP_GOSTE_set_sbox) X(CP_GOSTE_get_sbox_A) X(CP_GOSTE_get_sbox_B)                 \
  X(CP_GOSTE_get_sbox_C) X(CP_GOSTE_get_sbox_D) X(CP_GOSTE_nid2sbox) X(CP_GOSTE_sbox2nid)                 \
  X(CP_R3410_get_p_parameter) X(CP_R3410_get_q_parameter) X(CP_R3410_get_a_parameter)
