// A stand-in toolkit: a module with one function, found only beside the probe module.
#if defined(_WIN32)
#define PROBE_EXPORT extern "C" __declspec(dllexport)
#else
#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PROBE_EXPORT int ZkProbeToolkitAnswer() { return 42; }
