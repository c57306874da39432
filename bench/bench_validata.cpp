// The Validata engine over the stand-in cpki1.dll, against libgcrypt doing the same work
// (bench_cms_engine.h). Contexts are kept (both time-outs 600 s); besides the cryptography each
// operation of the toolkit finds certificates in its store and builds or parses CMS.
// For the steady cases alice's store is filled with distinct certificates of the authority (for
// bob's key, under other names), written in one go by the stand-in's provisioning export.
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>

#include "bench_cms_engine.h"
#include "engines/validata/vldt_engine.h"
#include "frame/zexroot.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// alice (1) and bob (2) of one authority, each with a PSE and a store holding the other's certificate.
class ValidataWorld : public zkbench::CmsWorld {
 public:
  ValidataWorld() {
    const zk::platform::ModuleHandle module = zk::LoadToolkitLibrary("cpki1.dll");
    Check(module != nullptr, "cpki1.dll is not beside the benchmark");
    using MakeCaFn = int (*)(const char*, const char*);
    using MakePseFn = int (*)(const char*, const char*, const char*, uint32_t, const char*, int64_t, int64_t,
                              const char*, const char*, int32_t);
    using AddToStoreFn = int (*)(const char*, const char*);
    using FillStoreFn = int (*)(const char*, const char*, const char*, const char*, int32_t);
    const auto makeCa = reinterpret_cast<MakeCaFn>(zk::platform::FindSymbol(module, "VCERT_StandIn_MakeCa"));
    const auto makePse = reinterpret_cast<MakePseFn>(zk::platform::FindSymbol(module, "VCERT_StandIn_MakePse"));
    const auto addToStore = reinterpret_cast<AddToStoreFn>(zk::platform::FindSymbol(module, "VCERT_StandIn_AddToStore"));
    fillStore_ = reinterpret_cast<FillStoreFn>(zk::platform::FindSymbol(module, "VCERT_StandIn_FillStore"));
    Check(makeCa != nullptr && makePse != nullptr && addToStore != nullptr && fillStore_ != nullptr, "not the stand-in");
    root_ = fs::temp_directory_path() / ("zk_bench_vldt_" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    Check(makeCa(Path("ca").c_str(), "C=RU,O=Bench,CN=Root") == 0, "authority");
    for (int n : {1, 2}) {
      Check(makePse(Path("ca").c_str(), ("C=RU,O=Bench,CN=" + Uid(n)).c_str(), std::to_string(100 + n).c_str(), 0xA0,
                    "", -86400, 365 * 86400, Path(Uid(n) + ".pse").c_str(), Path(Uid(n) + ".cer").c_str(), 0) == 0,
            "user");
    }
    for (int n : {1, 2}) {
      Check(addToStore(Path(Uid(n) + ".store").c_str(), Path(Uid(3 - n) + ".cer").c_str()) == 0, "store");
      auto engine = std::make_unique<zk::TValidataEngine>();
      const std::pair<int32_t, std::string> params[] = {
          {2, Path(Uid(n) + ".pse")}, {3, Path(Uid(n) + ".store")}, {6, "600"}, {7, "600"}};
      for (const auto& [index, value] : params) Check(engine->SetCryptoParamValue(index, value.c_str()) == 0, "param");
      engines_.push_back(std::move(engine));
    }
  }
  ~ValidataWorld() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  zk::TCryptoEngine& Engine(int n) override { return *engines_[size_t(n - 1)]; }
  std::string Uid(int n) const override { return n == 1 ? "alice" : "bob"; }
  // alice's store: bob's certificate and count - 1 others; her context is made again to read it.
  bool FillCertificates(int count) override {
    const int more = count - 1 - filled_;
    if (more > 0) {
      const std::string prefix = "C=RU,O=Bench,CN=correspondent" + std::to_string(count) + "-";
      if (fillStore_(Path("ca").c_str(), Path("alice.store").c_str(), Path("bob.cer").c_str(), prefix.c_str(), more) != 0)
        return false;
      filled_ += more;
    }
    engines_[0]->ClearCash();
    char uid[4096];
    return engines_[0]->GetCurrentUID(uid) == 0;  // the store is read here, not in the first timed call
  }

 private:
  int (*fillStore_)(const char*, const char*, const char*, const char*, int32_t) = nullptr;
  int filled_ = 0;
  std::string Path(const std::string& name) const { return (root_ / name).string(); }

  fs::path root_;
  std::vector<std::unique_ptr<zk::TValidataEngine>> engines_;
};

zkbench::CmsWorld& TheWorld() {
  static ValidataWorld world;
  return world;
}

}  // namespace

int main(int argc, char** argv) { return zkbench::RunCmsEngineBenchmarks(argc, argv, TheWorld, "Validata"); }
