// The Crypto COM 2.2 round of `zkmint demo`.
#pragma once

#include "demo.h"

namespace zkmint {

// Three users of one authority: signatures, encryption for one recipient and a package for two,
// and the certificate directory; "not available" rows when the library or the stand-in lacks it.
void RunCCom22Demo(const DemoContext& context);

}  // namespace zkmint
