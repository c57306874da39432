// The abstract engine: parameters, limits, error texts, exception capture, root path macro.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "frame/crypto_engine.h"
#include "frame/errors.h"

namespace {

// A minimal engine with two parameters and the base class's defaults everywhere else.
class TwoParamEngine : public zk::TCryptoEngine {
 public:
  TwoParamEngine() {
    AddParam("First", "one");
    AddParam("Second", "two");
  }
  void GetCryptoEngineType(char* TypeName) override { std::strcpy(TypeName, "Test"); }
  int32_t GetEncodeUIDBySignUID(const char*, char*) override { return 0; }
  int32_t GetCurrentUID(char*) override { return 0; }
  int32_t EncodeData(uint8_t*, int32_t*, const char*) override { return 0; }
  int32_t DecodeData(uint8_t*, int32_t*, char*) override { return 0; }
  int32_t SignData(const uint8_t*, int32_t, uint8_t*, int32_t*, const char*) override { return 0; }
  int32_t VerifyData(const uint8_t*, int32_t, const uint8_t*, int32_t, char*) override { return 0; }

  int32_t RunCaptured(const std::function<int32_t()>& body) { return Capture("TTwoParamEngine.Work: ", -14, body); }
  std::string StoredText() { return ErrorText.GetText(); }
};

std::string ParamName(TwoParamEngine& e, int32_t index) {
  char buffer[256];
  std::memset(buffer, 'x', sizeof buffer);
  e.GetCryptoParamName(index, buffer);
  return buffer;
}

std::string ParamValue(TwoParamEngine& e, int32_t index) {
  std::string buffer(static_cast<size_t>(e.GetMaxCryptoParamValueLength()) + 16, 'x');
  e.GetCryptoParamValue(index, &buffer[0]);
  return buffer.c_str();
}

TEST(EngineParameters, IndicesAreOneBasedAndBounded) {
  TwoParamEngine e;
  EXPECT_EQ(e.GetCryptoParamNumber(), 2);
  EXPECT_EQ(ParamName(e, 1), "First");
  EXPECT_EQ(ParamName(e, 2), "Second");
  EXPECT_EQ(ParamName(e, 0), "");
  EXPECT_EQ(ParamName(e, 3), "");
  EXPECT_EQ(ParamName(e, -1), "");
  EXPECT_EQ(ParamValue(e, 3), "");
  EXPECT_EQ(e.SetCryptoParamValue(3, "x"), -1);
  EXPECT_EQ(e.SetCryptoParamValue(0, "x"), -1);
  EXPECT_EQ(ParamValue(e, 1), "one");
  EXPECT_EQ(ParamValue(e, 2), "two");
}

TEST(EngineParameters, EmptyValueIsStoredAndReadBackEmpty) {
  TwoParamEngine e;
  EXPECT_EQ(e.SetCryptoParamValue(1, ""), 0);
  EXPECT_EQ(ParamValue(e, 1), "");
  EXPECT_EQ(ParamValue(e, 2), "two");
}

TEST(EngineParameters, LongValueIsTruncatedToTheLimitWithoutOverrun) {
  TwoParamEngine e;
  const size_t limit = static_cast<size_t>(e.GetMaxCryptoParamValueLength());
  ASSERT_EQ(limit, 1024u);
  std::string longValue(limit + 50, 'v');
  ASSERT_EQ(e.SetCryptoParamValue(2, longValue.c_str()), 0);
  std::string buffer(limit + 16, 'x');
  e.GetCryptoParamValue(2, &buffer[0]);
  EXPECT_EQ(std::strlen(buffer.c_str()), limit - 1);
  EXPECT_EQ(buffer[limit - 1], '\0');
  EXPECT_EQ(buffer[limit], 'x') << "wrote past the announced limit";
}

TEST(EngineLimits, BaseDefaults) {
  TwoParamEngine e;
  EXPECT_EQ(e.GetMaxEncodeAddition(), 255);
  EXPECT_EQ(e.GetMaxSignatureLength(), 255);
  EXPECT_EQ(e.GetMaxUIDLength(), 255);
  EXPECT_EQ(e.GetMaxCryptoParamNameLength(), 255);
  EXPECT_EQ(e.GetMaxErrorStringLength(), 255);
  EXPECT_EQ(e.ApplySettings(), -1);
  EXPECT_EQ(e.IncludePublicKey("x"), -1);
  EXPECT_EQ(e.UpdateCertificateCash("x"), -1);
  EXPECT_EQ(e.RemoveCertificate("x"), -1);
  EXPECT_EQ(e.IncludeCRL("x"), -1);
}

TEST(EngineErrorText, DefaultTextFillsTheWholeBufferWithZerosFirst) {
  TwoParamEngine e;
  char buffer[300];
  std::memset(buffer, 'x', sizeof buffer);
  e.GetCryptoErrorString(-7, buffer);
  EXPECT_STREQ(buffer, "CRYPTO ENGINE ERROR : -7");
  for (int i = static_cast<int>(std::strlen(buffer)); i < 255; ++i) ASSERT_EQ(buffer[i], '\0') << i;
  EXPECT_EQ(buffer[255], 'x');
  e.GetCryptoErrorString(12, buffer);
  EXPECT_STREQ(buffer, "CRYPTO ENGINE ERROR : 12");
}

TEST(EngineErrorText, CaptureStoresPrefixClassAndMessage) {
  TwoParamEngine e;
  EXPECT_EQ(e.RunCaptured([]() -> int32_t { throw zk::Exception("disk on fire"); }), -14);
  EXPECT_EQ(e.StoredText(), "TTwoParamEngine.Work: Exception: disk on fire");
  EXPECT_EQ(e.RunCaptured([]() -> int32_t { throw zk::EAssertionFailed("rwsyncs", 42); }), -14);
  EXPECT_EQ(e.StoredText(), "TTwoParamEngine.Work: EAssertionFailed: Assertion failure (rwsyncs, line 42)");
  EXPECT_EQ(e.RunCaptured([]() -> int32_t { throw std::bad_alloc(); }), -14);
  EXPECT_EQ(e.StoredText(), "TTwoParamEngine.Work: EOutOfMemory: Out of memory");
  // A successful body leaves the previous text alone.
  EXPECT_EQ(e.RunCaptured([] { return 5; }), 5);
  EXPECT_EQ(e.StoredText(), "TTwoParamEngine.Work: EOutOfMemory: Out of memory");
}

TEST(EngineRootPath, TrailingBackslashIsAddedOnce) {
  TwoParamEngine e;
  e.SetEngineRootPath("C:\\Bank");
  EXPECT_EQ(e.RootPath(), "C:\\Bank\\");
  e.SetEngineRootPath("C:\\Bank\\");
  EXPECT_EQ(e.RootPath(), "C:\\Bank\\");
  e.SetEngineRootPath("");
  EXPECT_EQ(e.RootPath(), "");
}

TEST(EngineRootPath, MacroIsCaseInsensitiveAndResultUpperCased) {
  TwoParamEngine e;
  e.SetEngineRootPath("C:\\Bank\\");
  EXPECT_EQ(e.ExpandRootMacro("%zexroot%\\keys\\a.pub"), "C:\\BANK\\KEYS\\A.PUB");
  EXPECT_EQ(e.ExpandRootMacro("%ZEXRoot%keys\\a.pub"), "C:\\BANK\\KEYS\\A.PUB");
  // Only one backslash after the macro is dropped.
  EXPECT_EQ(e.ExpandRootMacro("%ZEXRoot%\\\\a"), "C:\\BANK\\\\A");
  EXPECT_EQ(e.ExpandRootMacro("D:\\keys\\a.pub"), "D:\\keys\\a.pub");
  EXPECT_EQ(e.ExpandRootMacro("x%ZEXRoot%\\a"), "x%ZEXRoot%\\a");
  EXPECT_EQ(e.ExpandRootMacro("%ZEXRoo"), "%ZEXRoo");
  EXPECT_EQ(e.ExpandRootMacro(""), "");
  EXPECT_EQ(e.ExpandRootDir("%ZEXRoot%\\certs"), "C:\\BANK\\CERTS\\");
  EXPECT_EQ(e.ExpandRootDir("d"), "d:\\");
}

TEST(CopyPCharLimited, RefusesNullsAndZeroLimitWithoutWriting) {
  char dst[8] = "keep";
  EXPECT_FALSE(zk::TCryptoEngine::CopyPCharLimited(nullptr, dst, 8));
  EXPECT_FALSE(zk::TCryptoEngine::CopyPCharLimited("abc", dst, 0));
  EXPECT_FALSE(zk::TCryptoEngine::CopyPCharLimited("abc", dst, -3));
  EXPECT_FALSE(zk::TCryptoEngine::CopyPCharLimited("abc", nullptr, 8));
  EXPECT_STREQ(dst, "keep");
}

TEST(CopyPCharLimited, NeverWritesMoreThanTheLimit) {
  char dst[8];
  std::memset(dst, 'x', sizeof dst);
  EXPECT_TRUE(zk::TCryptoEngine::CopyPCharLimited("abcdef", dst, 4));
  EXPECT_STREQ(dst, "abc");
  EXPECT_EQ(dst[4], 'x');
  EXPECT_TRUE(zk::TCryptoEngine::CopyPCharLimited("abc", dst, 4));
  EXPECT_STREQ(dst, "abc");
}

}  // namespace
