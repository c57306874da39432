// What the CryptoAPI engines decide themselves, on every system: parameter lists, settings
// translation, the chain-status mapping, the message table, and a CryptoAPI that is not there.
#include <gtest/gtest.h>

#include "capi/capi_helpers.h"
#include "engines/capi/capi_der.h"
#include "engines/capi/capi_engine.h"
#include "platform/platform.h"

namespace zk {
namespace {

using capitest::Get;
using capitest::MakeEngine;
using capitest::ParamIndex;
using capitest::Set;

TEST(CapiEngine, ParameterListsOfBothEngines) {
  auto ms = MakeEngine("Ms Crypto API 2.0");
  auto cp = MakeEngine("CryptoPro CSP/1.1");
  ASSERT_TRUE(ms && cp);
  EXPECT_EQ(ms->GetCryptoParamNumber(), 29);
  EXPECT_EQ(cp->GetCryptoParamNumber(), 27);
  char name[256];
  cp->GetCryptoParamName(1, name);
  EXPECT_STREQ(name, "User UID (Common name)");
  cp->GetCryptoParamName(25, name);
  EXPECT_STREQ(name, "Include signer cert in sign");
  EXPECT_EQ(ParamIndex(*cp, "Crypto Provider"), 0);
  EXPECT_EQ(ParamIndex(*cp, "Key gen - Key Length"), 0);
  EXPECT_EQ(Get(*ms, "Abonents cerificates dir"), "A:\\ABONENT");
  char type[64];
  cp->GetCryptoEngineType(type);
  EXPECT_STREQ(type, "Ms Crypto API 2.0");
  EXPECT_EQ(ms->GetMaxEncodeAddition(), 5120);
  EXPECT_EQ(ms->GetMaxSignatureLength(), 4096);
}

TEST(CapiEngine, SettingsTranslation) {
  using E = TCryptoAPI20Engine;
  EXPECT_EQ(E::LocationOID("cn"), "2.5.4.3");
  EXPECT_EQ(E::LocationOID(""), "2.5.4.3");
  EXPECT_EQ(E::LocationOID("e"), "1.2.840.113549.1.9.1");
  EXPECT_EQ(E::LocationOID("2.5.4.4"), "2.5.4.4");
  EXPECT_EQ(E::HashOID("SHA1"), "1.3.14.3.2.26");
  EXPECT_EQ(E::HashOID("sha1"), "sha1");  // names are matched exactly
  EXPECT_EQ(E::HashOID("Secure Hash (1.3.14.3.2.26)"), "1.3.14.3.2.26");
  EXPECT_EQ(E::EncryptOID("RC2CBC"), "1.2.840.113549.3.2");
  EXPECT_EQ(E::EncryptOID("GOST_28147"), "1.2.643.2.2.21");

  E engine;
  struct Case {
    const char* value;
    bool hasDir, chain, dir;
  } cases[] = {{"C:\\CRL", true, false, true},          {"USE_URL", false, true, false},
               {"C:\\CRL;CHAIN_CHECK", true, true, true}, {"C:\\CRL;X", false, false, false},
               {"", false, false, false},                 {"a;b;USE_URL", false, false, false}};
  for (const auto& c : cases) {
    Set(engine, "CRL dir", c.value);
    const auto s = engine.Settings();
    EXPECT_EQ(!s.CRLDir.empty(), c.hasDir) << c.value;
    EXPECT_EQ(s.ChainRevocationCheck, c.chain) << c.value;
    EXPECT_EQ(s.CRLDirRevocationCheck, c.dir) << c.value;
  }
  Set(engine, "Container Name Location", "ou");
  EXPECT_EQ(engine.Settings().ContainerLocation, "2.5.4.11");
  Set(engine, "Secret key cash method", "verify_context");
  EXPECT_TRUE(engine.Settings().VerifyContextCache);

  TCryptoPro11Engine pro;
  Set(pro, "User UID Location", "");
  Set(pro, "Container Name Location", "fixed_name:abc");
  EXPECT_EQ(pro.ReadSetting(0), "Crypto-Pro Cryptographic Service Provider");
  EXPECT_EQ(pro.ReadSetting(10), "1024");
  EXPECT_EQ(pro.Settings().UIDLocationOID, "2.5.4.3");
  EXPECT_EQ(pro.Settings().ContainerLocation, "FIXED_NAME:ABC");  // upper-cased, as this engine reads it
  pro.SetIncludeSignerCert("NO");
  EXPECT_EQ(Get(pro, "Include signer cert in sign"), "NO");
}

// The system's names are matched as the OID information spells them, the first of equal names
// winning; a display text's OID in parentheses needs no list.
TEST(CapiEngine, NamesInTheSystemsOidInformation) {
  TStringPairList info;
  for (const auto& pair : {std::make_pair("1.3.14.3.2.26", "sha1"), std::make_pair("1.2.3", "sha1"),
                           std::make_pair("1.2.840.113549.2.5", "md5")}) {
    TStringPair& added = info.Add();
    added.First = pair.first;
    added.Second = pair.second;
  }
  const struct {
    const char* name;
    const char* oid;
  } cases[] = {{"sha1", "1.3.14.3.2.26"}, {"SHA-1", "SHA-1"}, {"Sha1", "Sha1"}, {"md5", "1.2.840.113549.2.5"},
               {"Hash (1.2.9)", "1.2.9"}, {"sha1 (1.2.9)", "1.2.9"}, {"()", ""},   {")", ")"},
               {"a(b(c)", "c"},           {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(capi::NamedOID(info, c.name), c.oid) << c.name;
  EXPECT_EQ(capi::NamedOID(TStringPairList(), "sha1"), "sha1");
}

TEST(CapiEngine, ChainStatusMapping) {
  struct Case {
    uint32_t status;
    int32_t code;
  } cases[] = {{0, 0},         {0x40, 0},     {0x01000040, 0}, {0x41, 49},      {0x1 | 0x10000, 65},
               {0x4, 51},      {0x20, 54},    {0x8 | 0x20, 54}, {0x200, 7},      {0x80, 56}};
  for (const auto& c : cases) EXPECT_EQ(capi::ChainStatusCode(c.status), c.code) << std::hex << c.status;
}

TEST(CapiEngine, ErrorTexts) {
  auto e = MakeEngine("Ms Crypto API 2.0");
  char text[256];
  std::memset(text, 'x', sizeof text);
  e->GetCryptoErrorString(20, text);
  EXPECT_STREQ(text, "\xcd\xe5 \xe7\xe0\xe4\xe0\xed\xee \xec\xe5\xf1\xf2\xee \xf5\xf0\xe0\xed\xe5\xed\xe8\xff UID \xe2 "
                     "\xf1\xe5\xf0\xf2\xe8\xf4\xe8\xea\xe0\xf2\xe5!");
  e->GetCryptoErrorString(87, text);
  EXPECT_EQ(std::string(text).rfind("Crypto Pro toolkit library error code: 87System Last Error message: ", 0), 0u);
  e->GetCryptoErrorString(static_cast<int32_t>(0x80090006), text);
  EXPECT_EQ(std::string(text).rfind("Invalid Signature.System Last Error message: ", 0), 0u);
  // Texts end inside the buffer with their NUL.
  e->GetCryptoErrorString(11, text);
  EXPECT_LE(std::strlen(text), 254u);
}

// Without a CryptoAPI the engines answer with their own codes. On Linux the stand-in CryptoAPI
// (toolkits/capi) lies beside the tests; the variants of tests/capi_standin cover 62, 63 and 64.
TEST(CapiEngine, MissingCryptoAPIGivesItsCode) {
#if defined(_WIN32)
  GTEST_SKIP() << "the system's CryptoAPI is present";
#else
  const std::string exe = platform::HostExecutableFileName();
  if (platform::IsFile(exe.substr(0, exe.find_last_of('/') + 1) + "crypt32.dll"))
    GTEST_SKIP() << "the stand-in CryptoAPI is present";
  for (const char* type : {"Ms Crypto API 2.0", "CryptoPro CSP/1.1"}) {
    auto e = MakeEngine(type);
    Set(*e, "User certificate file", "self.cer");
    uint8_t data[16] = {1};
    uint8_t signature[4096];
    int32_t len = 0;
    const int32_t code = e->SignData(data, 16, signature, &len, "");
    EXPECT_TRUE(code == 62 || code == 63) << code;
    char uid[256];
    EXPECT_EQ(e->GetCurrentUID(uid), code);
  }
#endif
}

TEST(CapiDer, NameAttributesAndOtherNames) {
  // SEQUENCE { SET { SEQUENCE { 2.5.4.3, UTF8 "Иван" } } SET { SEQUENCE { 2.5.4.10, PrintableString "ZK" } } }
  const uint8_t name[] = {0x30, 0x20, 0x31, 0x11, 0x30, 0x0F, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x08,
                          0xD0, 0x98, 0xD0, 0xB2, 0xD0, 0xB0, 0xD0, 0xBD, 0x31, 0x0B, 0x30, 0x09, 0x06,
                          0x03, 0x55, 0x04, 0x0A, 0x13, 0x02, 'Z',  'K'};
  std::string value;
  ASSERT_TRUE(capi::NameAttribute(name, sizeof name, "2.5.4.3", value));
  EXPECT_EQ(value, "\xc8\xe2\xe0\xed");
  ASSERT_TRUE(capi::NameAttribute(name, sizeof name, "2.5.4.10", value));
  EXPECT_EQ(value, "ZK");
  EXPECT_FALSE(capi::NameAttribute(name, sizeof name, "2.5.4.11", value));
  EXPECT_FALSE(capi::NameAttribute(name, sizeof name - 1, "2.5.4.10", value));  // cut short
  // GeneralNames { otherName { 2.5.4.12, [0] { PrintableString "3" } } }
  const uint8_t alt[] = {0x30, 0x0C, 0xA0, 0x0A, 0x06, 0x03, 0x55, 0x04, 0x0C, 0xA0, 0x03, 0x13, 0x01, '3'};
  ASSERT_TRUE(capi::OtherName(alt, sizeof alt, "2.5.4.12", value));
  EXPECT_EQ(value, "3");
  EXPECT_EQ(capi::OidText(reinterpret_cast<const uint8_t*>("\x2a\x86\x48\x86\xf7\x0d"), 6), "1.2.840.113549");
}

}  // namespace
}  // namespace zk
