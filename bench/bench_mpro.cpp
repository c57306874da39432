// A Message-PRO engine over its plug-in stand-in, against libgcrypt doing the same work
// (bench_cms_engine.h): "M-Pro v2.x" (mplug2.dll, whose calls run concurrently) unless
// --mpro_kind=0 ("Message-PRO 1.1", mplug.dll) or --mpro_kind=1 ("M-Pro v1.34 (GOST PSE)",
// mplugf.dll) comes first on the command line. Besides the
// cryptography, each operation of the plug-in builds CMS with libksba or reads it, reads the
// certificates and the authority from their files and lists the CRL directory.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>

#include "bench_cms_engine.h"
#include "engines/mpro/mpro_engine.h"
#include "frame/zexroot.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

const char* const kFiles[3] = {"mplug.dll", "mplugf.dll", "mplug2.dll"};
const char* const kTypes[3] = {"Message-PRO 1.1", "M-Pro v1.34 (GOST PSE)", "M-Pro v2.x"};
int g_kind = 2;

std::unique_ptr<zk::TCryptoEngine> MakeEngine() {
  if (g_kind == 0) return std::make_unique<zk::TMPro1CryptoEngine>();
  if (g_kind == 1) return std::make_unique<zk::TMProWinCryptoEngine>();
  return std::make_unique<zk::TMPro2xCryptoEngine>();
}

// alice (1) and bob (2) of one authority, their certificates in one directory, an engine each.
class MProWorld : public zkbench::CmsWorld {
 public:
  MProWorld() {
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary(kFiles[g_kind]);
    Check(module != nullptr, std::string(kFiles[g_kind]) + " is not beside the benchmark");
    using MakeCaFn = int (*)(const char*, const char*, const char*);
    using MakeUserFn = int (*)(const char*, const char*, const char*, int64_t, const char*, const char*);
    const auto makeCa = reinterpret_cast<MakeCaFn>(zk::platform::FindSymbol(module, "MPro_StandIn_MakeCa"));
    const auto makeUser = reinterpret_cast<MakeUserFn>(zk::platform::FindSymbol(module, "MPro_StandIn_MakeUser"));
    Check(makeCa != nullptr && makeUser != nullptr, "not the stand-in");
    root_ = fs::temp_directory_path() / ("zk_bench_mpro_" + std::to_string(std::random_device()()));
    fs::create_directories(root_ / "certs");
    fs::create_directories(root_ / "work" / "CRL");
    Check(makeCa("/C=RU/O=Bench/CN=Root", Path("ca.key").c_str(), Path("ca.pem").c_str()) == 0, "authority");
    for (int n : {1, 2}) {
      Check(makeUser(Path("ca.key").c_str(), Path("ca.pem").c_str(), ("/C=RU/O=Bench/CN=" + Uid(n)).c_str(), 0,
                     Pse(n).c_str(), Cert(n).c_str()) == 0,
            "user");
      auto engine = MakeEngine();
      const std::pair<int32_t, std::string> params[] = {{1, Cert(n)}, {2, Path("certs")},  {3, Path("work")},
                                                        {7, Pse(n)},  {8, Path("ca.pem")}, {22, "600"}};
      for (const auto& [index, value] : params) Check(engine->SetCryptoParamValue(index, value.c_str()) == 0, "param");
      engines_.push_back(std::move(engine));
    }
    Backdate();
  }
  ~MProWorld() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  zk::TCryptoEngine& Engine(int n) override { return *engines_[size_t(n - 1)]; }
  std::string Uid(int n) const override { return n == 1 ? "alice" : "bob"; }
  // Copies of bob's certificate under other names: the engine opens only the file of the UID.
  bool FillCertificates(int count) override {
    for (int i = filler_; i < count - 2; ++i) fs::copy_file(Cert(2), Path("certs/filler" + std::to_string(i) + ".pem"));
    filler_ = std::max(filler_, count - 2);
    return true;
  }

 private:
  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  // The files and directories a minute old, as a deployment's are when its operations run (and as
  // they are when these cases run after the others): the plug-in keeps what it read from a file or
  // listed from a directory only once its time has settled, some seconds after a change.
  void Backdate() {
    const auto then = fs::file_time_type::clock::now() - std::chrono::minutes(1);
    for (const auto& entry : fs::recursive_directory_iterator(root_)) fs::last_write_time(entry.path(), then);
    fs::last_write_time(root_, then);
  }
  std::string Pse(int n) const { return Path(Uid(n) + ".pse"); }
  std::string Cert(int n) const { return Path("certs/" + Uid(n) + ".pem"); }

  fs::path root_;
  std::vector<std::unique_ptr<zk::TCryptoEngine>> engines_;
  int filler_ = 0;
};

zkbench::CmsWorld& TheWorld() {
  static MProWorld world;
  return world;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--mpro_kind=", 12) == 0) {
    g_kind = std::atoi(argv[1] + 12);
    if (g_kind < 0 || g_kind > 2) return 1;
    argv[1] = argv[0];
    --argc;
    ++argv;
  }
  return zkbench::RunCmsEngineBenchmarks(argc, argv, TheWorld, kTypes[g_kind]);
}
