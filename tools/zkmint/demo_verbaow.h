// The Verba-OW engine between two users provisioned through the stand-in toolkit.
#pragma once

#include "demo.h"

namespace zkmint {

// Provisions users A and B (key sets on device directories) under <root>\VERBAOW with the
// stand-in's VOW_StandIn_MakeKeySet (the "wbotho.dll" beside zkmint) and runs every operation
// between them; prints "not available" rows when the library builds no such engine or the
// stand-in is missing.
void RunVerbaOWDemo(const DemoContext& context);

}  // namespace zkmint
