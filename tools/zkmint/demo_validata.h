// The Validata round of `zkmint demo`.
#pragma once

#include "demo.h"

namespace zkmint {

// Three users of one authority, each with a PSE and a local store: certificates taken into the
// store (DER and PEM), signatures with the certificate reports, envelopes for one and for two,
// and a CRL that revokes one of them; "not available" rows when the library or stand-in lacks it.
void RunValidataDemo(const DemoContext& context);

}  // namespace zkmint
