// The process-wide root directory (ZEXRoot), the search for toolkit libraries beneath it, and the
// common base of the toolkit bindings.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace zk {

// Fixes the root directory on the first call; a later different value raises
// "Could not set ZEXRoot to '<Path>'. Already set to '<ZEXRoot>'.". The first call also puts the
// root's USER\, SYSTEM\ and EXE\ in front of the process "Path". An empty Path sets nothing.
void SetZEXRoot(const std::string& Path);
std::string GetZEXRoot();
std::vector<std::string> GetToolkitSearchDirs();
// Tests only: forget the root directory and its search list, as a fresh process would have it.
void ResetZEXRootForTesting();

std::string FindLibraryFile(const std::string& Name);
platform::ModuleHandle LoadLibraryWithSearch(const std::string& Name);
// The one way toolkit libraries are loaded: the host's directory, the root's EXE\, SYSTEM\, USER\,
// the system search, then the directory of this library's own module.
platform::ModuleHandle LoadToolkitLibrary(const std::string& Name);

// Base of every toolkit binding: engines test both flags and report a missing library and
// missing functions with two codes of their own.
class TCrypto_DLL {
 public:
  virtual ~TCrypto_DLL() = default;
  bool LibLoaded = false;
  bool FunctionsPresent = false;

 protected:
  // Resolves a symbol into a typed function pointer; a missing one clears FunctionsPresent.
  template <typename Fn>
  void Resolve(platform::ModuleHandle module, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(platform::FindSymbol(module, name));
    if (target == nullptr) FunctionsPresent = false;
  }
};

}  // namespace zk
