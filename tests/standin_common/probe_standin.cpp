// A stand-in of the stdcall kind, built by zk_add_standin like the real ones: one function
// under an undecorated name, two under decorated ones, and the shared device presence.
#include "standin.h"
#include "zk_mint.h"

STANDIN_EXPORT int ZK_STDCALL ProbeSum(int a, int b) { return a + b; }
STANDIN_EXPORT int ZK_STDCALL ProbeMul(int a, int b) { return a * b; }  // "_ProbeMul@8"
STANDIN_EXPORT int ZK_STDCALL _ProbeNeg(int a) { return -a; }           // "__ProbeNeg@4"
STANDIN_EXPORT int ProbeAttached(const char* device) { return standin::DeviceAttached(device) ? 1 : 0; }
STANDIN_EXPORT int ProbeControl(const char* command) { return standin::Control(command); }
