// Codes, texts, parameter numbers and number parsing of the Excellence engine. Toolkit codes and
// the binding's own codes (excel4_dll.h) pass through the engine unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk::excellence {

constexpr char kEngineType[] = "Excellence/4.0";

constexpr int32_t kErrNotInitialized = -100;
constexpr int32_t kErrBadData = -101;
constexpr int32_t kErrException = -102;
constexpr int32_t kErrStringLength = -103;
constexpr int32_t kErrRecipients = -107;
constexpr int32_t kErrPreviousKeys = -108;
constexpr int32_t kErrKeyLength = -110;
constexpr int32_t kErrDeviceNumbers = -111;
constexpr int32_t kErrPublicKeyFile = -112;
constexpr int32_t kErrLibraryMissing = -115;
constexpr int32_t kErrFunctionsMissing = -116;

// 0-based indices of the named parameters.
enum ParamIndex : size_t {
  kUserNameParam = 0,
  kSecretKeyDirParam = 1,
  kPublicKeyDirParam = 2,
  kSigAlgParam = 3,
  kEncAlgParam = 4,
  kWorkDirParam = 5,
  kLanguageParam = 6,
  kSigKeyLenParam = 7,
  kRecipientParam = 8,
  kExchKeyLenParam = 10,
  kPasswordTimeoutParam = 11,
  kMasterKeyParam = 12,
  kLastOpTimeoutParam = 13,
  kDeviceDllParam = 15,
  kPortParam = 16,
  kDeviceTypeParam = 17,
  kPreviousKeysParam = 18,
  kTMTimeoutParam = 19,
};

// The engine's text of one of its own codes, or null for any other code.
const char* EngineCodeText(int32_t code);

// Empty gives Default; otherwise a number is required.
bool ParseNumberOr(const std::string& text, int32_t Default, int32_t& value);
// A key length: empty gives 512; the toolkit takes 16 bits, so 0..65535.
bool ParseKeyLength(const std::string& text, int32_t& value);
// A time-out in seconds: empty or not a number gives Default, a negative one Negative.
int32_t TimeoutSeconds(const std::string& text, int32_t Default, int32_t Negative);

}  // namespace zk::excellence
