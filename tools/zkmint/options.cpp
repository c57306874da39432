#include "options.h"

#include <fstream>
#include <map>
#include <sstream>

namespace zkmint {
namespace {

// Options that take a value, and where the value goes.
std::string* ValueTarget(Options& options, const std::string& name) {
  static const std::map<std::string, std::string Options::*> kTargets = {
      {"--library", &Options::library},       {"--engine", &Options::engine},
      {"--root", &Options::root},             {"--recipients", &Options::recipients},
      {"--signer", &Options::signer},         {"--out", &Options::out},
      {"--signature", &Options::signature},   {"--password-file", &Options::passwordFile},
      {"--dir", &Options::dir},               {"--format", &Options::format},
  };
  auto found = kTargets.find(name);
  return found == kTargets.end() ? nullptr : &(options.*(found->second));
}

bool ApplyOption(Options& options, const std::string& name, const std::string& value, std::string& error) {
  if (name == "--param") {
    NamedValue pair;
    if (!SplitNamedValue(value, pair)) {
      error = "--param expects NAME=VALUE, got '" + value + "'";
      return false;
    }
    options.params.push_back(pair);
  } else if (name == "--param-file") {
    options.paramFiles.push_back(value);
  } else {
    *ValueTarget(options, name) = value;
  }
  return true;
}

bool TakesValue(Options& options, const std::string& name) {
  return name == "--param" || name == "--param-file" || ValueTarget(options, name) != nullptr;
}

bool ReadTextFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return !file.bad();
}

}  // namespace

bool SplitNamedValue(const std::string& text, NamedValue& pair) {
  size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  pair = {text.substr(0, equals), text.substr(equals + 1)};
  return true;
}

bool ParseArguments(int argc, const char* const* argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--keep") {
      options.keep = true;
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (!TakesValue(options, arg)) {
        error = "unknown option " + arg;
        return false;
      }
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      if (!ApplyOption(options, arg, argv[++i], error)) return false;
    } else if (options.command.empty()) {
      options.command = arg;
    } else {
      options.operands.push_back(arg);
    }
  }
  return true;
}

bool ParseParamText(const std::string& text, std::vector<NamedValue>& params, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    NamedValue pair;
    if (!SplitNamedValue(line, pair)) {
      error = "line " + std::to_string(number) + " is not NAME=VALUE";
      return false;
    }
    params.push_back(pair);
  }
  return true;
}

bool CollectParams(const Options& options, std::vector<NamedValue>& params, std::string& error) {
  params.clear();
  for (const std::string& path : options.paramFiles) {
    std::string text;
    if (!ReadTextFile(path, text)) {
      error = "cannot read parameter file " + path;
      return false;
    }
    if (!ParseParamText(text, params, error)) {
      error = path + ": " + error;
      return false;
    }
  }
  params.insert(params.end(), options.params.begin(), options.params.end());
  return true;
}

const char* UsageText() {
  return R"(usage: zkmint COMMAND [OPTIONS] [OPERAND]

Commands:
  engines                     list the 18 engine types and whether each can be created
  params                      list the engine's parameters: index, name, current value
  uid                         print the current user's UID
  sign FILE                   detached signature of FILE (to --out, default FILE.sig; "-": stdout)
  verify FILE                 verify FILE against --signature (default FILE.sig); prints the signer
  encrypt FILE                encrypt FILE for --recipients (to --out, default standard output)
  decrypt FILE                decrypt FILE (to --out, default standard output); prints the sender
  encode-uid SIGN_UID         the encryption UID of the owner of a signature UID
  include-key FILE            add a correspondent's public key or certificate
  include-crl FILE            add a certificate revocation list
  update-cert UID             refresh the cached certificate or key of UID
  remove-cert UID             remove the certificate or key of UID
  clear-cache                 empty the engine's caches
  demo [--dir DIR] [--keep]   provision a sandbox root and run every working engine end to end
  describe [--engine TYPE] [--format text|markdown|json]
                              every engine's type, parameters with defaults, limits and code texts

Options:
  --engine TYPE               engine type string, e.g. "Emulation/1.0" or "OpenSSL"
  --root DIR                  root directory (SetRootPath), the value of %ZEXRoot% in parameters
  --param NAME=VALUE          set a parameter by name (repeatable; applied after --param-file)
  --param-file FILE           NAME=VALUE lines ('#' starts a comment line)
  --recipients UIDS           ';'-separated recipient UIDs for encrypt (default: the engine's own)
  --signer UID                signing UID for sign (default: the engine's own)
  --out FILE                  output file ('-' for standard output)
  --signature FILE            signature file for verify
  --password-file FILE        read the key password from the first line of FILE
  --library PATH              zk_mint library to load (default: $ZK_MINT_LIBRARY, else the
                              library next to the zkmint executable)

Exit status: 0 success, 1 a library operation failed (its code and text are printed),
2 usage error, 3 the library could not be loaded. --version prints zkmint's version.
)";
}

}  // namespace zkmint
