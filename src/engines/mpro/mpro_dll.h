// The Message-PRO plug-in binding: "mplug.dll", "mplugf.dll" and "mplug2.dll" (kinds 0, 1, 2),
// each loaded once per process, and the process-wide cache of plug-in contexts that every
// forwarded call goes through.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engines/mpro/mplug_api.h"
#include "frame/zexroot.h"

namespace zk::mpro {

constexpr int32_t kNoContext = -6;
constexpr size_t kTimeoutPosition = 21;  // 0-based position of the context time-out

// The plug-in's functions, typed by the shared declarations.
struct MPlugApi {
#define ZK_MPLUG_MEMBER(name) mpapi::name name = nullptr;
  ZK_MPLUG_REQUIRED(ZK_MPLUG_MEMBER)
  ZK_MPLUG_OPTIONAL(ZK_MPLUG_MEMBER)
#undef ZK_MPLUG_MEMBER
};

class TMProDLL : public TCrypto_DLL {
 public:
  // Loads (or reuses) the plug-in of the kind; LibLoaded and FunctionsPresent tell the outcome.
  explicit TMProDLL(int Kind);
  TMProDLL(const TMProDLL&) = delete;
  TMProDLL& operator=(const TMProDLL&) = delete;

  int Kind() const { return kind_; }
  const MPlugApi& Api() const { return *api_; }
  // True while calls into this kind's plug-in must not overlap.
  bool Serialised() const;

  // Runs Operation with a plug-in context made for these parameter values (missing values count
  // as empty): a cached one while its time-out allows, else a new one. -6 when no context can be
  // made.
  int32_t Call(const std::vector<std::string>& Values, const std::function<int32_t(MPHANDLE)>& Operation);

  // The text of a plug-in-level code: the binding's own, else the plug-in's (cut to Limit - 1).
  std::string ErrorText(int32_t Code, const std::string& LastException);

 private:
  int kind_;
  const MPlugApi* api_ = nullptr;
};

// Destroys every cached context of every kind (each is finished with DoneCrypto), when the
// plug-in of Kind is loaded.
void ClearContexts(int Kind);
// The number of cached contexts (for tests).
size_t CachedContexts();

}  // namespace zk::mpro
