// The command line of zkmint: a command, its operands and the options, parsed without touching
// the library, so that usage errors are reported before anything is loaded.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zkmint {

using NamedValue = std::pair<std::string, std::string>;

struct Options {
  std::string command;
  std::vector<std::string> operands;
  std::string library;       // --library: the zk_mint library file to load
  std::string engine;        // --engine: the engine type string
  std::string root;          // --root: SetRootPath
  std::vector<std::string> paramFiles;  // --param-file, in order
  std::vector<NamedValue> params;       // --param NAME=VALUE, in order
  std::string recipients;    // --recipients for encrypt
  std::string signer;        // --signer: SignUID for sign
  std::string out;           // --out
  std::string signature;     // --signature for verify
  std::string passwordFile;  // --password-file
  std::string dir;           // --dir for demo
  std::string format;        // --format for describe: text, markdown or json
  bool keep = false;         // --keep: demo leaves its temporary sandbox
  bool help = false;
  bool version = false;      // --version
};

// Parses argv[1..]; false with a message on a usage error.
bool ParseArguments(int argc, const char* const* argv, Options& options, std::string& error);

// Splits "NAME=VALUE" at the first '='; false when there is no '=' or the name is empty.
bool SplitNamedValue(const std::string& text, NamedValue& pair);

// Reads NAME=VALUE lines (blank lines and lines starting with '#' are skipped, CR LF accepted).
bool ParseParamText(const std::string& text, std::vector<NamedValue>& params, std::string& error);

// The parameters to set, in the order they apply: every --param-file, then every --param, so
// that the command line overrides a file.
bool CollectParams(const Options& options, std::vector<NamedValue>& params, std::string& error);

const char* UsageText();

}  // namespace zkmint
