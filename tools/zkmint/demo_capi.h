// The rounds of `zkmint demo` for the CryptoAPI engines.
#pragma once

#include <string>

#include "demo.h"

namespace zkmint {

// Three users of one CA whose keys and certificates the system's CryptoAPI makes: certificates
// taken into a directory, signatures with the certificate report and PEM, envelopes for one and
// for two, removal; "not available" rows when the library lacks the engine or the system lacks
// the CryptoAPI or its provider. `type`: "Ms Crypto API 2.0" or "CryptoPro CSP/1.1".
void RunCapiDemo(const DemoContext& context, const std::string& type);

}  // namespace zkmint
