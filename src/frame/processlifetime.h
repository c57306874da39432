// Objects made once and kept for the life of the process, never destroyed: locks that bindings
// released during unload still take, and bindings whose release at process exit would call into
// system libraries that may already be gone.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define ZK_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define ZK_LEAK_CHECKER 1
#endif
#endif
#if defined(ZK_LEAK_CHECKER)
#include <sanitizer/lsan_interface.h>
#endif

namespace zk {

// Takes `object` (made with new) for the process. A leak checker counts it, and whatever it points
// to, as live, also after this module is unloaded and the last pointer to it goes with the module.
template <typename T>
T* KeepForProcess(T* object) {
#if defined(ZK_LEAK_CHECKER)
  __lsan_ignore_object(object);
#endif
  return object;
}

}  // namespace zk
