// `zkmint demo` for the LAN Crypto engine.
#pragma once

#include "demo.h"

namespace zkmint {

// Two users with password-protected key files written by the stand-in toolkit beside zkmint; the
// demo answers the password prompt itself. "not available" rows when the library has no LAN Crypto
// engine or the stand-in is not there.
void RunLanCryptoDemo(const DemoContext& context);

}  // namespace zkmint
