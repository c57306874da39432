#include "demo.h"
#include "demo_cryptoc.h"
#include "demo_ccom22.h"
#include "demo_mpro.h"
#include "demo_capi.h"
#include "demo_validata.h"
#include "demo_lancrypto.h"
#include "demo_ccom3x.h"
#include "demo_excellence.h"
#include "demo_verbaow.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <system_error>


namespace zkmint {
namespace fs = std::filesystem;
namespace {

// The sandbox root: --dir (created when missing, refused when not empty, never removed) or a
// fresh directory under the system's temporary directory.
class Sandbox {
 public:
  bool Prepare(const Options& options, std::string& error) {
    std::error_code ec;
    if (!options.dir.empty()) {
      fs::path dir = fs::absolute(options.dir, ec);
      if (!ec && fs::exists(dir, ec) && !fs::is_empty(dir, ec)) {
        error = dir.string() + " is not empty; the demo needs an empty or new directory";
        return false;
      }
      fs::create_directories(dir, ec);
      root_ = dir.string();
    } else {
      temporary_ = CreateTemporary(ec);
    }
    if (ec || root_.empty()) {
      error = "cannot create the sandbox directory: " + ec.message();
      return false;
    }
    return true;
  }

  const std::string& Root() const { return root_; }

  void Finish(bool keep) {
    if (!temporary_ || keep) {
      std::printf("Sandbox root kept: %s\n", root_.c_str());
      return;
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

 private:
  bool CreateTemporary(std::error_code& ec) {
    fs::path base = fs::temp_directory_path(ec);
    if (ec) return false;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "zkmint-demo-%08x", static_cast<unsigned>(random()));
      fs::path candidate = base / name;
      if (fs::create_directory(candidate, ec)) {
        root_ = candidate.string();
        return true;
      }
      if (ec) return false;
    }
    return false;
  }

  std::string root_;
  bool temporary_ = false;
};

// How the user started this zkmint, for the commands printed at the end.
std::string ZkmintPath() {
  std::string dir = zkhost::ExecutableDirectory();
#if defined(_WIN32)
  return dir + "zkmint.exe";
#else
  return dir + "zkmint";
#endif
}

bool IsEmulationType(const std::string& type) {
  return type == "Emulation/1.0" || type == "Emulation/2.0" || type == "Vove Darav" ||
         type == "Domain-K (c) Infotecs JSC.";
}

void RunGenericRow(const DemoContext& context, const std::string& type) {
  DemoSteps steps(context.table, type);
  std::unique_ptr<Engine> engine = Engine::Create(context.api, type);
  if (!engine)
    steps.NotAvailable("InitCryptoEngine", "the library builds no engine of this type");
  else
    steps.Done("InitCryptoEngine", "created; the demo has no provisioning for this engine yet");
}

// A file-name form of an engine type: "CryptoCom 32x" -> "CryptoCom_32x".
std::string Slug(const std::string& type) {
  std::string slug;
  for (char c : type) slug += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return slug;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string DemoHandoff::WriteParamFile(const std::string& engineType, const std::string& letter,
                                        const std::vector<NamedValue>& params) {
  std::error_code ec;
  fs::path dir = fs::path(root_) / "PARAMS";
  fs::create_directories(dir, ec);
  fs::path file = dir / (Slug(engineType) + "-" + letter + ".params");
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "# " << engineType << ", user " << letter << ": zkmint ... --root " << root_ << " --param-file "
      << file.string() << "\n";
  for (const NamedValue& param : params) out << param.first << "=" << param.second << "\n";
  out.close();
  if (!out) return "";
  entries_.push_back({engineType, letter, file.string()});
  return file.string();
}

void DemoHandoff::PrintCommands(const std::string& zkmintPath) const {
  std::map<std::string, std::map<std::string, std::string>> files;  // engine -> letter -> file
  for (const Entry& entry : entries_) files[entry.engineType][entry.letter] = entry.file;
  const std::string document = (fs::path(root_) / "hello.txt").string();
  std::ofstream(document, std::ios::binary) << "Payment order 1: 100.00 to account 40702810900000000001\n";
  std::printf("\nGo on by hand: sign with user A, verify as user B (parameter files in %s):\n",
              (fs::path(root_) / "PARAMS").string().c_str());
  for (const auto& [type, letters] : files) {
    if (!letters.count("A") || !letters.count("B")) continue;
    std::string common = " --engine " + ShellQuoted(type) + " --root " + ShellQuoted(root_);
    const auto password = passwordFiles_.find(type);
    if (password != passwordFiles_.end()) common += " --password-file " + ShellQuoted(password->second);
    std::printf("  %s sign %s%s --param-file %s && \\\n    %s verify %s%s --param-file %s\n",
                zkmintPath.c_str(), ShellQuoted(document).c_str(), common.c_str(),
                ShellQuoted(letters.at("A")).c_str(), zkmintPath.c_str(), ShellQuoted(document).c_str(),
                common.c_str(), ShellQuoted(letters.at("B")).c_str());
  }
}

bool SetParamsByName(Engine& engine, DemoSteps& steps, const std::vector<NamedValue>& params,
                     const std::string& summary) {
  const std::string operation = "SetCryptoParamValue (by name)";
  for (const NamedValue& param : params) {
    int32_t index = engine.FindParam(param.first);
    if (index == 0) {
      steps.Unexpected(operation, "the engine has no parameter '" + param.first + "'");
      return false;
    }
    int32_t code = engine.SetParam(index, param.second);
    if (code != 0) return steps.Succeeds(engine, operation + " '" + param.first + "'", code, "");
    std::string readBack = engine.Params()[static_cast<size_t>(index - 1)].value;
    if (readBack != param.second)
      return steps.Succeeds(engine, operation, 0, "", "'" + param.first + "' reads back as '" + readBack + "'");
  }
  return steps.Succeeds(engine, operation, 0, summary);
}

int RunDemo(zkhost::ZkLibrary& library, const Options& options) {
  Sandbox sandbox;
  std::string error;
  if (!sandbox.Prepare(options, error)) {
    std::fprintf(stderr, "zkmint: %s\n", error.c_str());
    return 1;
  }
  // An installed demo folder is not where the library looks for toolkits by itself.
  const std::string toolkits = zkhost::DemoToolkitDirectory();
  if (toolkits != zkhost::ExecutableDirectory()) zkhost::PrependToolkitSearchPath(toolkits);
  std::printf("Sandbox root: %s\nLibrary: %s\nToolkits: %s\n\n", sandbox.Root().c_str(), library.FileName().c_str(),
              toolkits.c_str());
  DemoTable table(stdout);
  table.PrintHeader();
  DemoHandoff handoff(sandbox.Root());
  DemoContext context{library.Api(), sandbox.Root(), table, &handoff};
  std::vector<std::string> types = ListEngineTypes(library.Api());
  if (types.empty()) DemoSteps(table, "-").Unexpected("GetCryptoEngineTypes", "the library lists no engine type");
  for (const std::string& type : types) {
    if (IsEmulationType(type))
      RunEmulationDemo(context, type);
    else if (type == "OpenSSL")
      RunOpenSSLDemo(context);
    else if (type == "Crypto-C")
      RunCryptoCDemo(context);
    else if (type == "Crypto COM/2.2")
      RunCCom22Demo(context);
    else if (type == "LAN Crypto/2.35")
      RunLanCryptoDemo(context);
    else if (type == "CryptoCom 32x")
      RunCCom3xDemo(context);
    else if (IsMProType(type))
      RunMProDemo(context, type);
    else if (type == "Excellence/4.0")
      RunExcellenceDemo(context);
    else if (type == "Verba-OW/4")
      RunVerbaOWDemo(context);
    else if (type == "Ms Crypto API 2.0" || type == "CryptoPro CSP/1.1")
      RunCapiDemo(context, type);
    else if (type == "Validata Crypto Engine")
      RunValidataDemo(context);
    else
      RunGenericRow(context, type);
  }
  library.Close();
  std::printf("\n%s\n", table.AllAsExpected()
                            ? "Every operation gave the expected result."
                            : (std::to_string(table.UnexpectedCount()) + " operation(s) gave an unexpected result.").c_str());
  if (options.keep || !options.dir.empty()) handoff.PrintCommands(ZkmintPath());
  sandbox.Finish(options.keep);
  return table.AllAsExpected() ? 0 : 1;
}

}  // namespace zkmint
