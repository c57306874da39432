// The file and key-management commands of zkmint, each a few export calls on one engine.
#pragma once

#include <string>

#include "options.h"
#include "zk_loader.h"

namespace zkmint {

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitNoLibrary = 3 };

// Checks the command name and its operand count before the library is loaded.
bool CheckCommand(const Options& options, std::string& error);

// Runs every command but `demo`; returns the exit status.
int RunCommand(const zkhost::ZkApi& api, const Options& options);

}  // namespace zkmint
