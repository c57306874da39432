// The control entry of a stand-in toolkit, reached in the module the engine itself loads.
#pragma once

#include <string>
#include <vector>

namespace zk::suite {

class StandInControl {
 public:
  // Loads `toolkit` with the library's own toolkit search; a missing module or entry fails the test.
  explicit StandInControl(const std::string& toolkit);
  bool ok() const { return control_ != nullptr; }
  // Sends a command; the stand-in's answer.
  int Send(const std::string& command) const;
  void Reset() const;
  int Calls(const std::string& function) const;
  // Any other export of the module, or null.
  void* Symbol(const char* name) const;

 private:
  void* module_ = nullptr;
  int (*control_)(const char*) = nullptr;
};

// The names a stand-in folder under toolkits/ exports (its exports.txt, read at build time),
// without any stdcall decoration; empty for an unknown folder.
const std::vector<std::string>& StandInExports(const std::string& folder);

}  // namespace zk::suite
