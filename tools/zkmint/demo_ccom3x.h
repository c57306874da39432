// The CryptoCom 3.x engine between two users provisioned through the stand-in toolkit.
#pragma once

#include "demo.h"

namespace zkmint {

// Provisions users A and B under <root>\CCOM3X with the stand-in's CCOM_StandIn_MakeUser (the
// "ccom.dll" beside zkmint) and runs every operation between them; prints "not available" rows
// when the library builds no such engine or the stand-in is missing.
void RunCCom3xDemo(const DemoContext& context);

}  // namespace zkmint
