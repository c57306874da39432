// `zkmint demo` for the Excellence 4.0 engine.
#pragma once

#include "demo.h"

namespace zkmint {

// Two users whose keys the stand-in toolkit beside zkmint writes into the sandbox; signing,
// encryption, key import, renewal and removal between them through the exports, with the
// password prompt answered by the demo. "not available" rows when the library has no Excellence
// engine or the stand-in is not there.
void RunExcellenceDemo(const DemoContext& context);

}  // namespace zkmint
