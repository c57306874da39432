// The built libcrypt.dll stand-in, loaded once per test program from the build root and reached
// only through its exports, with helpers for work blocks and key material.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engines/cryptoc/libcrypt_api.h"
#include "gost.h"
#include "platform/platform.h"

extern "C" {
int StandIn_Control(const char* command);
int CrypC_StandIn_WriteKeyFiles(int type, const char* uid, const char* secretKeyPath, const char* publicKeyPath);
}

// The 60 calls the adapter resolves, in its order.
#define LIBCRYPT_TOOLKIT_CALLS(X)                                                                  \
  X(CrypC_G28147_1989_block_init) X(CrypC_G28147_1989_block_encrypt)                               \
  X(CrypC_G28147_1989_block_decrypt) X(CrypC_G28147_1989_block_clear)                              \
  X(CrypC_G28147_1989_gamma_init) X(CrypC_G28147_1989_gamma_clear)                                 \
  X(CrypC_G28147_1989_gamma_crypt) X(CrypC_G28147_1989_gamma_ofb_init)                             \
  X(CrypC_G28147_1989_gamma_ofb_clear) X(CrypC_G28147_1989_gamma_ofb_encrypt)                      \
  X(CrypC_G28147_1989_gamma_ofb_decrypt) X(CrypC_G28147_1989_mac_init)                             \
  X(CrypC_G28147_1989_mac_update) X(CrypC_G28147_1989_mac_final) X(CrypC_G28147_1989_mac_clear)    \
  X(CrypC_G28147_1989_mac_file_const) X(CrypC_R34_11_1994_init) X(CrypC_R34_11_1994_update)        \
  X(CrypC_R34_11_1994_final) X(CrypC_R34_11_1994_clear) X(CrypC_LR34_10_1994_set_parms)            \
  X(CrypC_LR34_10_2001_set_parms) X(CrypC_LR34_10_1994_get_parms)                                  \
  X(CrypC_LR34_10_1994_gen_secret_key) X(CrypC_LR34_10_2001_gen_secret_key)                        \
  X(CrypC_LR34_10_1994_gen_public_key) X(CrypC_LR34_10_2001_gen_public_key)                        \
  X(CrypC_LR34_10_1994_get_secret_key) X(CrypC_LR34_10_2001_get_secret_key)                        \
  X(CrypC_LR34_10_1994_get_public_key) X(CrypC_LR34_10_2001_get_public_key)                        \
  X(CrypC_LR34_10_1994_set_secret_key) X(CrypC_LR34_10_2001_set_secret_key)                        \
  X(CrypC_LR34_10_1994_set_public_key) X(CrypC_LR34_10_2001_set_public_key)                        \
  X(CrypC_LR34_10_1994_sign) X(CrypC_LR34_10_2001_sign) X(CrypC_LR34_10_1994_verify)               \
  X(CrypC_LR34_10_2001_verify) X(CrypC_LR34_10_1994_clear_secret_key)                              \
  X(CrypC_LR34_10_2001_clear_secret_key) X(CrypC_LR34_10_1994_clear_public_key)                    \
  X(CrypC_LR34_10_2001_clear_public_key) X(CrypC_LR34_10_1994_clear) X(CrypC_LR34_10_2001_clear)   \
  X(CrypC_LR34_10_2001_gen_mutual_key) X(CrypC_LDH_PKA_set_parms) X(CrypC_LDH_PKA_get_parms)       \
  X(CrypC_LDH_PKA_gen_secret_key) X(CrypC_LDH_PKA_gen_public_key) X(CrypC_LDH_PKA_gen_mutual_key)  \
  X(CrypC_LDH_PKA_get_secret_key) X(CrypC_LDH_PKA_get_public_key) X(CrypC_LDH_PKA_set_secret_key)  \
  X(CrypC_LDH_PKA_clear_secret_key) X(CrypC_LDH_PKA_clear_public_key) X(CrypC_LDH_PKA_clear)       \
  X(CrypC_Random_Fill) X(CrypC_TestCryptoFunctions_) X(CrypC_TestSignFunctions_)

// The stand-in's own entries for tests and the demo.
#define LIBCRYPT_STANDIN_CALLS(X) X(StandIn_Control) X(CrypC_StandIn_WriteKeyFiles)

namespace libcrypt_test {

struct Api {
#define LIBCRYPT_FIELD(name) decltype(&::name) name = nullptr;
  LIBCRYPT_TOOLKIT_CALLS(LIBCRYPT_FIELD)
  LIBCRYPT_STANDIN_CALLS(LIBCRYPT_FIELD)
#undef LIBCRYPT_FIELD
};

// Loads the module once; fails the calling test when a name is missing.
inline const Api& Lib() {
  static const Api api = [] {
    Api a;
    zk::platform::ModuleHandle module = zk::platform::LoadModule(ZK_LIBCRYPT_DLL);
    if (module == nullptr) {
      ADD_FAILURE() << "cannot load " << ZK_LIBCRYPT_DLL;
      return a;
    }
#define LIBCRYPT_RESOLVE(name) \
  a.name = reinterpret_cast<decltype(a.name)>(zk::platform::FindSymbol(module, #name));
    LIBCRYPT_TOOLKIT_CALLS(LIBCRYPT_RESOLVE)
    LIBCRYPT_STANDIN_CALLS(LIBCRYPT_RESOLVE)
#undef LIBCRYPT_RESOLVE
    return a;
  }();
  return api;
}

// A fresh work block as the adapter builds it: the test table, zeros, a generator state.
inline std::vector<uint8_t> WorkBlock(const uint8_t* sbox = gost::kSboxR3411TestParams) {
  std::vector<uint8_t> work(zk::cryptoc::kWorkBlockSize, 0);
  std::memcpy(work.data(), sbox, zk::cryptoc::kSboxSize);
  for (int i = zk::cryptoc::kRandomStateOffset; i < zk::cryptoc::kWorkBlockSize; ++i) work[i] = uint8_t(i * 13);
  return work;
}

inline std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 31 + (i >> 3));
  return v;
}

inline std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> v(n);
  gost::SystemRandom(v.data(), n);
  return v;
}

// Every test starts from a module with no scripted answers.
class LibcryptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().CrypC_G28147_1989_block_init, nullptr);
    ASSERT_NE(Lib().StandIn_Control, nullptr);
    ASSERT_EQ(Lib().StandIn_Control("reset"), 0);
  }
  void TearDown() override { Lib().StandIn_Control("reset"); }
  const Api& L() const { return Lib(); }
};

// With a fresh directory for files, removed afterwards.
class LibcryptFilesTest : public LibcryptTest {
 protected:
  void SetUp() override {
    LibcryptTest::SetUp();
    const auto tag = RandomBytes(8);
    std::string name = "zk_libcrypt_";
    for (uint8_t b : tag) name += "0123456789abcdef"[b >> 4], name += "0123456789abcdef"[b & 15];
    dir_ = std::filesystem::temp_directory_path() / name;
    ASSERT_TRUE(std::filesystem::create_directories(dir_));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    LibcryptTest::TearDown();
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& content) const {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    return Path(name);
  }
  std::vector<uint8_t> Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir_;
};

}  // namespace libcrypt_test
