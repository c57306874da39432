// The calls of the Crypto-C toolkit ("libcrypt.dll") as this adapter makes them: C calling
// convention, every function answers a status (0 success, 5 "signature checked and found bad").
//
// The toolkit keeps no state of its own between calls: every context lives in a work block that
// the caller owns. A work block is kWorkBlockSize bytes: the 128-byte GOST substitution table
// (K8 down to K1, 16 entries each, one 4-bit value per byte), then the toolkit's context area,
// then a copy of the caller's random-generator state (the last kRandomStateSize bytes).
//
// Integers in key material are little-endian byte strings:
//   GOST R 34.10-94    secret key 32 bytes, public key 128 bytes (1024-bit modulus)
//   GOST R 34.10-2001  secret key 32 bytes, public key kPublicKey2001Size bytes:
//                      parameter-set id (4), X (32), Y (32), zero (32)
//   key agreement      secret key 128 bytes, public key 128 bytes, agreed value 128 bytes
//   signatures         64 bytes: r (32) then s (32)
//   digests            32 bytes, read as a little-endian integer where a number is needed
//
// The declarations name the stand-in's exports; the adapter only takes their types (decltype)
// and resolves the addresses at run time, so nothing links against them.
#pragma once

#include <cstdint>

namespace zk::cryptoc {
constexpr int kWorkBlockSize = 4228;
constexpr int kSboxSize = 128;
constexpr int kRandomStateSize = 76;
constexpr int kRandomStateOffset = kWorkBlockSize - kRandomStateSize;
constexpr int kPublicKey1994Size = 128;
constexpr int kPublicKey2001Size = 100;
constexpr int kSecretSignKeySize = 32;
constexpr int kAgreementKeySize = 128;
constexpr int kSignatureSize = 64;
constexpr int kDigestSize = 32;
constexpr int kMacSize = 8;
constexpr int kStatusOk = 0;
constexpr int kStatusBadSignature = 5;
constexpr int kStatusNullPointer = 15;
}  // namespace zk::cryptoc

extern "C" {
// GOST 28147-89 simple substitution (len a multiple of 8)
int CrypC_G28147_1989_block_init(void* work, const uint8_t* key32);
int CrypC_G28147_1989_block_encrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len);
int CrypC_G28147_1989_block_decrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len);
int CrypC_G28147_1989_block_clear(void* work);
// gamma (counter mode); calls may split the data anywhere
int CrypC_G28147_1989_gamma_init(void* work, const uint8_t* key32, const uint8_t* iv8);
int CrypC_G28147_1989_gamma_clear(void* work);
int CrypC_G28147_1989_gamma_crypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len);
// gamma with feedback (cipher feedback)
int CrypC_G28147_1989_gamma_ofb_init(void* work, const uint8_t* key32, const uint8_t* iv8);
int CrypC_G28147_1989_gamma_ofb_clear(void* work);
int CrypC_G28147_1989_gamma_ofb_encrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len);
int CrypC_G28147_1989_gamma_ofb_decrypt(void* work, const uint8_t* in, uint8_t* out, uint32_t len);
// MAC (imitovstavka); mac_init remembers out8, mac_final writes the 8-byte MAC there and to mac8
int CrypC_G28147_1989_mac_init(void* work, const uint8_t* key32, uint8_t* out8);
int CrypC_G28147_1989_mac_update(void* work, const uint8_t* data, uint32_t len);
int CrypC_G28147_1989_mac_final(void* work, uint8_t* mac8);
int CrypC_G28147_1989_mac_clear(void* work);
// MAC of a whole file's contents under key32
int CrypC_G28147_1989_mac_file_const(void* work, const uint8_t* key32, const char* path, uint8_t* mac8);
// GOST R 34.11-94 with the work block's substitution table
int CrypC_R34_11_1994_init(void* work);
int CrypC_R34_11_1994_update(void* work, const uint8_t* data, uint32_t len);
int CrypC_R34_11_1994_final(void* work, uint8_t* digest32);
int CrypC_R34_11_1994_clear(void* work);
// GOST R 34.10-94 / 34.10-2001: params null selects the toolkit's default parameter set;
// secretSize is 32, modulusSize is 128 (1994) or 32 (2001)
int CrypC_LR34_10_1994_set_parms(void* work, const void* params, uint32_t secretSize, uint32_t modulusSize);
int CrypC_LR34_10_2001_set_parms(void* work, const void* params, uint32_t secretSize, uint32_t modulusSize);
// copies the parameter set into out (at most *size bytes); *size receives its length
int CrypC_LR34_10_1994_get_parms(void* work, void* out, uint32_t* size);
int CrypC_LR34_10_1994_gen_secret_key(void* work);
int CrypC_LR34_10_2001_gen_secret_key(void* work);
int CrypC_LR34_10_1994_gen_public_key(void* work);
int CrypC_LR34_10_2001_gen_public_key(void* work);
int CrypC_LR34_10_1994_get_secret_key(void* work, uint8_t* out32);
int CrypC_LR34_10_2001_get_secret_key(void* work, uint8_t* out32);
int CrypC_LR34_10_1994_get_public_key(void* work, uint8_t* out128);
int CrypC_LR34_10_2001_get_public_key(void* work, uint8_t* out100);
int CrypC_LR34_10_1994_set_secret_key(void* work, const uint8_t* key32);
int CrypC_LR34_10_2001_set_secret_key(void* work, const uint8_t* key32);
int CrypC_LR34_10_1994_set_public_key(void* work, const uint8_t* key128);
int CrypC_LR34_10_2001_set_public_key(void* work, const uint8_t* key100);
int CrypC_LR34_10_1994_sign(void* work, const uint8_t* digest32, uint8_t* signature64);
int CrypC_LR34_10_2001_sign(void* work, const uint8_t* digest32, uint8_t* signature64);
// signatureLen is 1..64; a shorter signature is checked as given (missing bytes count as zero)
int CrypC_LR34_10_1994_verify(void* work, const uint8_t* digest32, const uint8_t* signature, uint32_t signatureLen);
int CrypC_LR34_10_2001_verify(void* work, const uint8_t* digest32, const uint8_t* signature, uint32_t signatureLen);
int CrypC_LR34_10_1994_clear_secret_key(void* work);
int CrypC_LR34_10_2001_clear_secret_key(void* work);
int CrypC_LR34_10_1994_clear_public_key(void* work);
int CrypC_LR34_10_2001_clear_public_key(void* work);
int CrypC_LR34_10_1994_clear(void* work);
int CrypC_LR34_10_2001_clear(void* work);
// VKO GOST R 34.10-2001: the context's secret key times the peer's public key and ukm8, hashed
int CrypC_LR34_10_2001_gen_mutual_key(void* work, const uint8_t* peerPublic100, const uint8_t* ukm8, uint8_t* out32);
// Diffie-Hellman key agreement over the 1024-bit group: keySize is 128
int CrypC_LDH_PKA_set_parms(void* work, const void* params, uint32_t keySize);
int CrypC_LDH_PKA_get_parms(void* work, void* out, uint32_t* size);
int CrypC_LDH_PKA_gen_secret_key(void* work);
int CrypC_LDH_PKA_gen_public_key(void* work);
int CrypC_LDH_PKA_gen_mutual_key(void* work, const uint8_t* peerPublic128, uint8_t* out128);
int CrypC_LDH_PKA_get_secret_key(void* work, uint8_t* out128);
int CrypC_LDH_PKA_get_public_key(void* work, uint8_t* out128);
int CrypC_LDH_PKA_set_secret_key(void* work, const uint8_t* key128);
int CrypC_LDH_PKA_clear_secret_key(void* work);
int CrypC_LDH_PKA_clear_public_key(void* work);
int CrypC_LDH_PKA_clear(void* work);
// random bytes over the caller's 76-byte generator state, which the call advances
int CrypC_Random_Fill(uint8_t* state76, uint8_t* out, uint32_t len);
// self-tests: known answers of the symmetric primitives and of the signatures
int CrypC_TestCryptoFunctions_(void);
int CrypC_TestSignFunctions_(void);
}
