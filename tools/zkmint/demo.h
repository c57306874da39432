// `zkmint demo`: provisions a sandbox root and runs every operation of every engine type that
// works today through the exports, printing one table line per operation.
#pragma once

#include <string>
#include <vector>

#include "demo_table.h"
#include "options.h"
#include "zk_loader.h"

namespace zkmint {

// Exit status: 0 when every operation gave the result its scenario expects, 1 otherwise.
// Closes `library` before removing a temporary sandbox, so that files the library writes at
// unload (the OpenSSL engine's random seed) land in a directory that still exists.
int RunDemo(zkhost::ZkLibrary& library, const Options& options);

// What the scenarios share.
struct DemoContext {
  const zkhost::ZkApi& api;
  std::string root;  // the sandbox root, also given to SetRootPath
  DemoTable& table;
};

// Sets parameters by their names (the GetCryptoParamName loop) and reads each back; one table
// row for them all. False when any could not be set.
bool SetParamsByName(Engine& engine, DemoSteps& steps, const std::vector<NamedValue>& params,
                     const std::string& summary);

void RunEmulationDemo(const DemoContext& context, const std::string& type);
// The OpenSSL engine between three users of one CA; prints "not available" rows when the
// library has no OpenSSL engine or this build has no provisioning kit.
void RunOpenSSLDemo(const DemoContext& context);

}  // namespace zkmint
