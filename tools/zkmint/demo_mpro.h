// The Message-PRO rounds of `zkmint demo` ("Message-PRO 1.1", "M-Pro v1.34 (GOST PSE)",
// "M-Pro v2.x").
#pragma once

#include <string>

#include "demo.h"

namespace zkmint {

bool IsMProType(const std::string& type);
// Three users of one authority: certificates taken in, signatures, encryption for two, a CRL that
// revokes one of them; "not available" rows when the library or the plug-in lacks it.
void RunMProDemo(const DemoContext& context, const std::string& type);

}  // namespace zkmint
