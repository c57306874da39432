// Process-wide state of the Crypto COM 2.2 engines: the operation lock that serialises key
// loading and toolkit work across engines, and the certificate-to-UID cache.
#pragma once

#include "frame/rwsyncs.h"

namespace zk::ccom22 {

TCriticalSection& OperationLock();
void ForgetCertificateUIDs();

}  // namespace zk::ccom22
