// Beside a CryptoAPI stand-in build without CryptMsgControl, beside advapi32 alone, or with no
// CryptoAPI at all: the engines answer with their own code before anything else.
#include <gtest/gtest.h>

#include "capi/capi_helpers.h"

namespace zk {
namespace {

TEST(CapiVariant, EnginesAnswerTheBindingsCode) {
  for (const char* type : {"Ms Crypto API 2.0", "CryptoPro CSP/1.1"}) {
    auto e = capitest::MakeEngine(type);
    capitest::Set(*e, "User certificate file", "self.cer");
    uint8_t data[16] = {1};
    uint8_t signature[4096];
    int32_t len = 0;
    EXPECT_EQ(e->SignData(data, 16, signature, &len, ""), ZK_CAPI_EXPECTED_CODE) << type;
    char uid[256];
    EXPECT_EQ(e->GetCurrentUID(uid), ZK_CAPI_EXPECTED_CODE) << type;
  }
}

}  // namespace
}  // namespace zk
