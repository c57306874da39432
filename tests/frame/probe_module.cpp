// A module with its own copy of the frame, loaded by the tests from a directory of its own, so
// that "beside this library" differs from "beside the host program".
#include "frame/zexroot.h"

#if defined(_WIN32)
#define PROBE_EXPORT extern "C" __declspec(dllexport)
#else
#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using ToolkitAnswer = int (*)();

// The answer of the toolkit's function when LoadToolkitLibrary finds it, else -1.
PROBE_EXPORT int ZkProbeLoadToolkit(const char* name) {
  zk::platform::ModuleHandle module = zk::LoadToolkitLibrary(name);
  if (module == nullptr) return -1;
  auto answer = reinterpret_cast<ToolkitAnswer>(zk::platform::FindSymbol(module, "ZkProbeToolkitAnswer"));
  const int result = answer ? answer() : -1;
  zk::platform::FreeModule(module);
  return result;
}
