// zkmint: a command-line host of the zk_mint library. It loads the library by file name, as any
// host does, and reaches it only through the 30 exports.
#include <cstdio>

#include "commands.h"
#include "demo.h"
#include "options.h"
#include "zk_loader.h"

int main(int argc, char** argv) {
  using namespace zkmint;
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, options, error)) {
    std::fprintf(stderr, "zkmint: %s\n%s", error.c_str(), UsageText());
    return kExitUsage;
  }
  if (options.version) {
    std::printf("zkmint %s\n", ZK_MINT_VERSION);
    return kExitOk;
  }
  if (options.help || options.command == "help") {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  if (options.command.empty() || !CheckCommand(options, error)) {
    std::fprintf(stderr, "zkmint: %s\n%s", options.command.empty() ? "no command" : error.c_str(), UsageText());
    return kExitUsage;
  }
  zkhost::ZkLibrary library;
  if (!library.Open(zkhost::LocateLibrary(options.library), error)) {
    std::fprintf(stderr, "zkmint: %s\n", error.c_str());
    return kExitNoLibrary;
  }
  if (options.command == "demo") return RunDemo(library, options);
  return RunCommand(library.Api(), options);
}
