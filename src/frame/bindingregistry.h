// The process-wide registry of toolkit bindings: one binding per set of settings, shared by every
// engine with those settings, alive until the library unloads.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/rwsyncs.h"

namespace zk {

// The registry key of a list of settings. Each part is written with its length before it, so
// two different lists never give one key (plain concatenation would let "A\" + "B" and
// "A\B" + "" share a binding).
std::string BindingKey(std::initializer_list<std::string> Parts);

template <typename TBinding>
class TBindingRegistry {
 public:
  using Pointer = std::shared_ptr<TBinding>;
  // Creates a binding, answering 0 or the engine's code for why it cannot exist.
  using Factory = std::function<int32_t(Pointer&)>;

  // The binding under Key; on first need the one Create makes, registered only when Create
  // answers 0 (otherwise its code is returned and nothing is kept).
  int32_t Fetch(const std::string& Key, const Factory& Create, Pointer& Binding) {
    SectionLock hold(lock_);
    auto found = bindings_.find(Key);
    if (found == bindings_.end()) {
      Pointer created;
      const int32_t code = Create(created);
      if (code != 0) return code;
      found = bindings_.emplace(Key, std::move(created)).first;
    }
    Binding = found->second;
    return 0;
  }

  std::vector<Pointer> All() {
    SectionLock hold(lock_);
    std::vector<Pointer> all;
    all.reserve(bindings_.size());
    for (const auto& entry : bindings_) all.push_back(entry.second);
    return all;
  }

  // The unload step: the bindings go outside the lock, since releasing one may take others.
  void Release() {
    std::map<std::string, Pointer> released;
    SectionLock hold(lock_);
    released.swap(bindings_);
  }

 private:
  TCriticalSection lock_;
  std::map<std::string, Pointer> bindings_;
};

}  // namespace zk
