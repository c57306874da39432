// Compiled into both modules: failures through the one last error of advapi32.
#include "capi_standin.h"

namespace capistandin {

BOOL Fail(DWORD code) {
  SetLastError(code);
  return 0;
}

bool Scripted(const char* function) {
  const int code = standin::Hook(function);
  if (code == 0) return false;
  SetLastError(static_cast<DWORD>(code));
  return true;
}

}  // namespace capistandin
