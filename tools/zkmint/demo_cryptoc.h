// `zkmint demo` for the Crypto-C engine.
#pragma once

#include "demo.h"

namespace zkmint {

// Two users, A with GOST R 34.10-2001 keys and B with GOST R 34.10-94 keys, written into the
// sandbox by the key writer of the stand-in toolkit beside zkmint; every operation between them
// through the exports. "not available" rows when the library has no Crypto-C engine or the
// stand-in is not there.
void RunCryptoCDemo(const DemoContext& context);

}  // namespace zkmint
