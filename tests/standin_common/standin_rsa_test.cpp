#include <gtest/gtest.h>

#include <cstdlib>

#include "standin_rsa.h"

namespace {

void SetBits(const char* value) {
#ifdef _WIN32
  _putenv_s("ZK_STANDIN_RSA_BITS", value != nullptr ? value : "");
#else
  if (value != nullptr) {
    setenv("ZK_STANDIN_RSA_BITS", value, 1);
  } else {
    unsetenv("ZK_STANDIN_RSA_BITS");
  }
#endif
}

// Only a whole multiple of 256 from 1024 to 4096 changes the size; anything else keeps 2048.
TEST(StandInRsaKeyBits, TakesOnlyWholeMultiplesOf256From1024To4096) {
  const struct {
    const char* value;
    unsigned bits;
  } kCases[] = {{nullptr, 2048}, {"", 2048},       {"1024", 1024}, {"1280", 1280},  {"3072", 3072},
                {"4096", 4096},  {"768", 2048},    {"4352", 2048}, {"1025", 2048},  {"1000", 2048},
                {" 1024", 2048}, {"1024 ", 2048},  {"+1024", 2048}, {"-1024", 2048}, {"01024", 2048},
                {"1024x", 2048}, {"0x400", 2048},  {"99999999999999999999", 2048}};
  for (const auto& c : kCases) {
    SetBits(c.value);
    EXPECT_EQ(standin::RsaKeyBits(), c.bits) << (c.value != nullptr ? c.value : "(unset)");
  }
  SetBits(nullptr);
}

}  // namespace
