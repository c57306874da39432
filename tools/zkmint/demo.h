// `zkmint demo`: provisions a sandbox root and runs every operation of every engine type that
// works today through the exports, printing one table line per operation.
#pragma once

#include <map>
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

// The parameter files the demo leaves in the sandbox, one per user and engine, so that a user
// can go on by hand with the CLI against a kept sandbox.
class DemoHandoff {
 public:
  explicit DemoHandoff(std::string root) : root_(std::move(root)) {}
  // Writes PARAMS/<engine>-<letter>.params under the root; returns its path ("" on failure).
  std::string WriteParamFile(const std::string& engineType, const std::string& letter,
                             const std::vector<NamedValue>& params);
  // The password file the engine's keys need, given to the printed commands.
  void SetPasswordFile(const std::string& engineType, const std::string& file) { passwordFiles_[engineType] = file; }
  // One ready command per engine that has users A and B: sign with A, verify with B.
  void PrintCommands(const std::string& zkmintPath) const;

 private:
  struct Entry {
    std::string engineType, letter, file;
  };
  std::string root_;
  std::vector<Entry> entries_;
  std::map<std::string, std::string> passwordFiles_;
};

// What the scenarios share.
struct DemoContext {
  const zkhost::ZkApi& api;
  std::string root;  // the sandbox root, also given to SetRootPath
  DemoTable& table;
  DemoHandoff* handoff = nullptr;
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
