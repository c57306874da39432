// The adapter's process-wide locks. Order when several are taken: the binding registry's own
// lock, then OSSLStoreLock, then OSSLKeyLock.
#pragma once

#include "frame/rwsyncs.h"

namespace zk::ossl {

// Every binding's certificate model and the directories it mirrors.
TCriticalSection& OSSLStoreLock();
// Every binding's private-key cache.
TCriticalSection& OSSLKeyLock();
// The process-wide random generator's instance.
TCriticalSection& OSSLRandomInstanceLock();

// Constructs every process-wide object the exit-time finalisation uses. Called before that
// step is registered, so the objects are destroyed only after it has run.
void PrepareAdapterStatics();

}  // namespace zk::ossl
