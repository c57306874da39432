// The table of engine types: what GetCryptoEngineTypes lists and what InitCryptoEngine builds.
#pragma once

#include <cstdint>

#include "frame/crypto_engine.h"

namespace zk {

constexpr int32_t kEngineTypeCount = 18;
constexpr int32_t kMaxEngineTypeLength = 100;

// The type string of a 1-based index of the table, or null outside 1..18.
const char* EngineTypeName(int32_t index);
// A new engine for an exact, case-sensitive type string; null for unknown types and for types
// whose adapter is not part of this build.
TCryptoEngine* CreateEngine(const char* typeName);

}  // namespace zk
