// Shared by the CryptoAPI engine tests: engines built by type name and set by parameter name.
#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "engine_factory.h"
#include "frame/crypto_engine.h"

namespace zk::capitest {

inline std::unique_ptr<TCryptoEngine> MakeEngine(const char* Type) {
  return std::unique_ptr<TCryptoEngine>(CreateEngine(Type));
}

// The 1-based index of a parameter, 0 when the engine has none of that name.
inline int32_t ParamIndex(TCryptoEngine& E, const std::string& Name) {
  char name[256];
  for (int32_t i = 1; i <= E.GetCryptoParamNumber(); ++i) {
    E.GetCryptoParamName(i, name);
    if (Name == name) return i;
  }
  return 0;
}

inline void Set(TCryptoEngine& E, const std::string& Name, const std::string& Value) {
  const int32_t index = ParamIndex(E, Name);
  if (index > 0) E.SetCryptoParamValue(index, Value.c_str());
}

inline std::string Get(TCryptoEngine& E, const std::string& Name) {
  char value[1025] = {};
  E.GetCryptoParamValue(ParamIndex(E, Name), value);
  return value;
}

}  // namespace zk::capitest
