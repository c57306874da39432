#include "platform/faults.h"

#include <atomic>

namespace zk::platform {

namespace {
std::atomic<FileFaultHook> g_hook{nullptr};
}  // namespace

void SetFileFaultHookForTesting(FileFaultHook hook) { g_hook.store(hook); }

bool FileChangeFails(FileChange change, const std::string& path) {
  const FileFaultHook hook = g_hook.load();
  return hook != nullptr && hook(change, path);
}

}  // namespace zk::platform
