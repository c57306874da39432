// The test hook of the file functions, shared by both implementations of the platform layer.
#pragma once

#include <string>

#include "platform/platform.h"

namespace zk::platform {

// True when a test asked this change to fail.
bool FileChangeFails(FileChange change, const std::string& path);

}  // namespace zk::platform
