// Built three times: beside no toolkit (120), beside a toolkit without CTN_Not (121), and beside
// one without the optional CTN_CreateVaultFile, where a missing signature vault cannot be made.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engines/lancrypto/vesta_engine.h"
#include "frame/cp1251.h"
#include "frame/zexroot.h"

namespace {

TEST(LanCryptoToolkitVariant, OperationsReportWhatIsMissing) {
  constexpr int32_t expected = ZK_EXPECTED_LOAD_CODE;
  zk::TVesta235Engine engine;
  uint8_t data[200] = {1, 2, 3};
  int32_t length = 3;
  char uid[256] = "untouched";
  uint8_t signature[256] = {};
  int32_t signatureLength = 0;
  if (expected == -16) {
    // The toolkit is complete but cannot create vaults: an import into a missing vault fails with
    // the toolkit's code for it, and no vault appears.
    using MakeUser = int (*)(const char*, const char*, const char*, const char*, const char*, const char*,
                             const char*, int);
    auto make = reinterpret_cast<MakeUser>(
        zk::platform::FindSymbol(zk::LoadToolkitLibrary("ct512.dll"), "CT_StandIn_MakeUser"));
    ASSERT_NE(make, nullptr);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zk_vesta_novault";
    std::filesystem::create_directories(dir);
    const std::string full = (dir / "full.pub").string(), vault = (dir / "none.vlt").string();
    ASSERT_EQ(make("Bob", "BOB", "", (dir / "s.key").string().c_str(), (dir / "e.key").string().c_str(), nullptr,
                   full.c_str(), 0), 0);
    engine.SetCryptoParamValue(2, vault.c_str());
    EXPECT_EQ(engine.IncludePublicKey(full.c_str()), -16);
    EXPECT_FALSE(std::filesystem::exists(vault));
    std::filesystem::remove_all(dir);
    return;
  }
  EXPECT_EQ(engine.GetCurrentUID(uid), expected);
  EXPECT_STREQ(uid, "");
  EXPECT_EQ(engine.EncodeData(data, &length, "Bob"), expected);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(engine.DecodeData(data, &length, uid), expected);
  EXPECT_EQ(engine.SignData(data, 3, signature, &signatureLength, nullptr), expected);
  EXPECT_EQ(engine.VerifyData(data, 3, signature, 92, uid), expected);
  EXPECT_EQ(engine.IncludePublicKey("x.pub"), expected);
  EXPECT_EQ(engine.RemoveCertificate("Bob"), expected);

  char text[256];
  engine.GetCryptoErrorString(expected, text);
  const std::string utf8 = zk::Cp1251ToUtf8(text);
  EXPECT_EQ(utf8, expected == 120 ? "Unable to load library ct512.dll"
                                  : "Библиотека ct512.dll не содержит всех необходимых для корректной работы функций. "
                                    "Проверьте версию ct512.dll");
  // Without a binding the toolkit's texts cannot be asked for.
  engine.GetCryptoErrorString(-2, text);
  EXPECT_EQ(zk::Cp1251ToUtf8(text), "Невозможно получить информацию об ошибке. Криптоядро не проинициализировано.");
}

}  // namespace
