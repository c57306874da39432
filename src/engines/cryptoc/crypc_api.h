// The 60 functions of the Crypto-C toolkit, in the order the binding resolves them, with the
// types of their declarations; and the process-wide toolkit module.
#pragma once

#include "engines/cryptoc/libcrypt_api.h"
#include "platform/platform.h"

namespace zk::cryptoc {

#define ZK_CRYPTOC_FUNCTIONS \
  X(CrypC_G28147_1989_block_init) \
  X(CrypC_G28147_1989_block_encrypt) \
  X(CrypC_G28147_1989_block_decrypt) \
  X(CrypC_G28147_1989_block_clear) \
  X(CrypC_G28147_1989_gamma_init) \
  X(CrypC_G28147_1989_gamma_clear) \
  X(CrypC_G28147_1989_gamma_crypt) \
  X(CrypC_G28147_1989_gamma_ofb_init) \
  X(CrypC_G28147_1989_gamma_ofb_clear) \
  X(CrypC_G28147_1989_gamma_ofb_encrypt) \
  X(CrypC_G28147_1989_gamma_ofb_decrypt) \
  X(CrypC_G28147_1989_mac_init) \
  X(CrypC_G28147_1989_mac_update) \
  X(CrypC_G28147_1989_mac_final) \
  X(CrypC_G28147_1989_mac_clear) \
  X(CrypC_G28147_1989_mac_file_const) \
  X(CrypC_R34_11_1994_init) \
  X(CrypC_R34_11_1994_update) \
  X(CrypC_R34_11_1994_final) \
  X(CrypC_R34_11_1994_clear) \
  X(CrypC_LR34_10_1994_set_parms) \
  X(CrypC_LR34_10_2001_set_parms) \
  X(CrypC_LR34_10_1994_get_parms) \
  X(CrypC_LR34_10_1994_gen_secret_key) \
  X(CrypC_LR34_10_2001_gen_secret_key) \
  X(CrypC_LR34_10_1994_gen_public_key) \
  X(CrypC_LR34_10_2001_gen_public_key) \
  X(CrypC_LR34_10_1994_get_secret_key) \
  X(CrypC_LR34_10_2001_get_secret_key) \
  X(CrypC_LR34_10_1994_get_public_key) \
  X(CrypC_LR34_10_2001_get_public_key) \
  X(CrypC_LR34_10_1994_set_secret_key) \
  X(CrypC_LR34_10_2001_set_secret_key) \
  X(CrypC_LR34_10_1994_set_public_key) \
  X(CrypC_LR34_10_2001_set_public_key) \
  X(CrypC_LR34_10_1994_sign) \
  X(CrypC_LR34_10_2001_sign) \
  X(CrypC_LR34_10_1994_verify) \
  X(CrypC_LR34_10_2001_verify) \
  X(CrypC_LR34_10_1994_clear_secret_key) \
  X(CrypC_LR34_10_2001_clear_secret_key) \
  X(CrypC_LR34_10_1994_clear_public_key) \
  X(CrypC_LR34_10_2001_clear_public_key) \
  X(CrypC_LR34_10_1994_clear) \
  X(CrypC_LR34_10_2001_clear) \
  X(CrypC_LR34_10_2001_gen_mutual_key) \
  X(CrypC_LDH_PKA_set_parms) \
  X(CrypC_LDH_PKA_get_parms) \
  X(CrypC_LDH_PKA_gen_secret_key) \
  X(CrypC_LDH_PKA_gen_public_key) \
  X(CrypC_LDH_PKA_gen_mutual_key) \
  X(CrypC_LDH_PKA_get_secret_key) \
  X(CrypC_LDH_PKA_get_public_key) \
  X(CrypC_LDH_PKA_set_secret_key) \
  X(CrypC_LDH_PKA_clear_secret_key) \
  X(CrypC_LDH_PKA_clear_public_key) \
  X(CrypC_LDH_PKA_clear) \
  X(CrypC_Random_Fill) \
  X(CrypC_TestCryptoFunctions_) \
  X(CrypC_TestSignFunctions_)

struct CryptoCApi {
#define X(name) decltype(&::name) name = nullptr;
  ZK_CRYPTOC_FUNCTIONS
#undef X
};

constexpr int kToolkitFunctionCount = 60;

// "libcrypt.dll", loaded on the first call under a process-wide lock and kept for the process;
// null while it cannot be loaded (a later call tries again).
platform::ModuleHandle ToolkitModule();

}  // namespace zk::cryptoc
