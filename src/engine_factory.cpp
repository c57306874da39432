#include "engine_factory.h"

#include <cstring>

#include "engines/capi/capi_engine.h"
#include "engines/cryptoc/crypc_engine.h"
#include "engines/ccom22/cc_engine.h"
#include "engines/ccom3x/ccom_engine.h"
#include "engines/emulation/ce_emul1.h"
#include "engines/excellence/ce_exc4.h"
#include "engines/lancrypto/vesta_engine.h"
#include "engines/mpro/mpro_engine.h"
#include "engines/openssl/ossl_engine.h"
#include "engines/validata/vldt_engine.h"
#include "engines/verbaow/verba_engine.h"

namespace zk {

namespace {

using EngineConstructor = TCryptoEngine* (*)();

template <typename Engine>
TCryptoEngine* Make() {
  return new Engine();
}

struct EngineType {
  const char* name;
  EngineConstructor construct;  // null: listed, but no engine is built
};

// Listing order. Adapters not yet in this build have no constructor.
constexpr EngineType kEngineTypes[kEngineTypeCount] = {
    {"Emulation/1.0", Make<TEmu1CryptoEngine>},
    {"Emulation/2.0", Make<TEmu1CryptoEngine>},
    {"Excellence/4.0", Make<TExc4CryptoEngine>},
    {"LAN Crypto/2.35", Make<TVesta235Engine>},
    {"Verba-OW/4", Make<TVerbaOW4Engine>},
    {"Message-PRO 1.1", Make<TMPro1CryptoEngine>},
    {"Crypto COM/2.2", Make<TCcom22Engine>},
    {"CryptoPro CSP/1.1", Make<TCryptoPro11Engine>},
    {"Ms Crypto API 2.0", Make<TCryptoAPI20Engine>},
    {"M-Pro v2.x", Make<TMPro2xCryptoEngine>},
    {"M-Pro v1.34 (GOST PSE)", Make<TMProWinCryptoEngine>},
    {"Vove Darav", Make<TEmu1CryptoEngine>},
    {"OpenSSL", Make<TOSSLEngine>},
    {"Domain-K (c) Infotecs JSC.", Make<TEmu1CryptoEngine>},
    {"Validata Crypto Engine", Make<TValidataEngine>},
    {"Crypto-C", Make<TCryptoCEngine>},
    {"Tumar CSP", nullptr},
    {"CryptoCom 32x", Make<TCryptoCom3xEngine>},
};

}  // namespace

const char* EngineTypeName(int32_t index) {
  return index >= 1 && index <= kEngineTypeCount ? kEngineTypes[index - 1].name : nullptr;
}

TCryptoEngine* CreateEngine(const char* typeName) {
  if (typeName == nullptr || typeName[0] == '\0') return nullptr;
  // Type strings are unique, so the order of comparison does not change which class is built.
  for (const EngineType& type : kEngineTypes) {
    if (std::strcmp(type.name, typeName) == 0) return type.construct ? type.construct() : nullptr;
  }
  return nullptr;
}

}  // namespace zk
