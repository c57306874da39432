#include "demo.h"
#include "demo_cryptoc.h"
#include "demo_ccom3x.h"
#include "demo_excellence.h"

#include <filesystem>
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

}  // namespace

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
  std::printf("Sandbox root: %s\nLibrary: %s\n\n", sandbox.Root().c_str(), library.FileName().c_str());
  DemoTable table(stdout);
  table.PrintHeader();
  DemoContext context{library.Api(), sandbox.Root(), table};
  std::vector<std::string> types = ListEngineTypes(library.Api());
  if (types.empty()) DemoSteps(table, "-").Unexpected("GetCryptoEngineTypes", "the library lists no engine type");
  for (const std::string& type : types) {
    if (IsEmulationType(type))
      RunEmulationDemo(context, type);
    else if (type == "OpenSSL")
      RunOpenSSLDemo(context);
    else if (type == "Crypto-C")
      RunCryptoCDemo(context);
    else if (type == "CryptoCom 32x")
      RunCCom3xDemo(context);
    else if (type == "Excellence/4.0")
      RunExcellenceDemo(context);
    else
      RunGenericRow(context, type);
  }
  library.Close();
  std::printf("\n%s\n", table.AllAsExpected()
                            ? "Every operation gave the expected result."
                            : (std::to_string(table.UnexpectedCount()) + " operation(s) gave an unexpected result.").c_str());
  sandbox.Finish(options.keep);
  return table.AllAsExpected() ? 0 : 1;
}

}  // namespace zkmint
