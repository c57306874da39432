// The adapter's process-wide locks. Each binding guards its own certificate model and key cache
// with locks of its own (ossl_dll.h), so that engines of different settings never wait for each
// other; the binding registry's own lock comes before those when both are taken.
#pragma once

#include "frame/rwsyncs.h"

namespace zk::ossl {

// The process-wide random generator's instance.
TCriticalSection& OSSLRandomInstanceLock();

// Constructs every process-wide object the exit-time finalisation uses. Called before that
// step is registered, so the objects are destroyed only after it has run.
void PrepareAdapterStatics();

}  // namespace zk::ossl
