#include "support/standin.h"

#include <gtest/gtest.h>

#include <map>

#include "frame/zexroot.h"
#include "platform/platform.h"

namespace zk::suite {

// Generated from toolkits/*/exports.txt (standin_exports.cpp).
extern const std::map<std::string, std::vector<std::string>>& GeneratedStandInExports();

StandInControl::StandInControl(const std::string& toolkit) {
  module_ = zk::LoadToolkitLibrary(toolkit);
  if (module_ != nullptr) {
    control_ = reinterpret_cast<int (*)(const char*)>(zk::platform::FindSymbol(module_, "StandIn_Control"));
  }
  if (control_ == nullptr) ADD_FAILURE() << toolkit << " is not a stand-in with a control entry";
}

int StandInControl::Send(const std::string& command) const { return control_ ? control_(command.c_str()) : -1; }

void StandInControl::Reset() const { EXPECT_EQ(Send("reset"), 0); }

int StandInControl::Calls(const std::string& function) const { return Send("calls " + function); }

void* StandInControl::Symbol(const char* name) const {
  return module_ ? zk::platform::FindSymbol(module_, name) : nullptr;
}

const std::vector<std::string>& StandInExports(const std::string& folder) {
  static const std::vector<std::string> none;
  const auto& all = GeneratedStandInExports();
  const auto it = all.find(folder);
  return it == all.end() ? none : it->second;
}

}  // namespace zk::suite
