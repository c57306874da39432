// The stand-in's exports, its variants, the scripting entry and the last error.
#include <cstdint>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ccom_fixture.h"

namespace ccomtest {
namespace {

std::vector<std::string> BindingNames() {
  std::vector<std::string> names;
#define CCOM_NAME(name) names.push_back(#name);
  ZK_CCOM_FUNCTION_NAMES(CCOM_NAME)
#undef CCOM_NAME
  return names;
}

// Loader calls and test entries, exported beside the binding's names.
const char* const kExtraNames[] = {"CADB_init", "CADB_close", "StandIn_Control", "CCOM_StandIn_MakeUser"};

// The binding's names that do real work; every other one answers "not supported".
const std::set<std::string> kImplemented = {
    "ECGOST_generate_public_key", "ECGOST_SIGN_new", "ECGOST_SIGN_free", "ECGOST_sign_init",
    "ECGOST_verify_init", "ECGOST_update", "ECGOST_sign_final", "ECGOST_verify_final", "ECGOST_DH_new",
    "ECGOST_DH_free", "ECGOST_DH_generate_key", "ECGOST_DH_compute_key", "GOSTE_new", "GOSTE_free", "GOSTE_init",
    "GOSTE_update", "GOSTE_mac_update", "GOSTE_mac_final", "GOSTE_mac", "RAND_bytes", "GOSTH_new", "GOSTH_free",
    "GOSTH_hash_init", "GOSTH_update", "GOSTH_final", "GOSTH", "ERR_set_last_error", "ERR_get_last_error",
    "PSE_CTX_new", "PSE_CTX_free", "PSE_CTX_set_path", "PSE_CTX_read", "PSE_CTX_get_pse", "PSE_CTX_get_mkey",
    "PSE_CTX_get_masks", "PSE_CTX_get_kek", "PSE_CTX_get_rand", "PSE_CTX_set_mkey", "PSE_CTX_set_masks",
    "PSE_CTX_set_kek", "PSE_CTX_set_rand", "PSE_rand_inited"};

// Names of a module that are present / absent among `names`.
std::vector<std::string> Absent(zk::platform::ModuleHandle module, const std::vector<std::string>& names) {
  std::vector<std::string> absent;
  for (const std::string& name : names)
    if (zk::platform::FindSymbol(module, name.c_str()) == nullptr) absent.push_back(name);
  return absent;
}

std::vector<std::string> AllNames() {
  std::vector<std::string> names = BindingNames();
  names.insert(names.end(), std::begin(kExtraNames), std::end(kExtraNames));
  return names;
}

TEST(CcomExports, EveryBindingNameAndTheLoaderCallsAreExported) {
  Toolkit& kit = Ccom();
  ASSERT_NE(kit.module, nullptr);
  EXPECT_EQ(BindingNames().size(), 158u);
  EXPECT_EQ(Absent(kit.module, AllNames()), std::vector<std::string>{});
  // Internal names stay internal.
  EXPECT_EQ(zk::platform::FindSymbol(kit.module, "_ZN7standin4HookEPKc"), nullptr);
}

TEST(CcomExports, EachVariantLacksExactlyItsFunction) {
  struct Variant {
    const char* path;
    const char* omitted;
  };
  const Variant variants[] = {{ZK_CCOM_MISSING, "ECGOST_SIGN_clean"},
                              {ZK_CCOM_NO_CADB, "CADB_init"},
                              {ZK_CCOM_NO_FILE_DIGEST, "GOSTH_file_digest"}};
  for (const Variant& v : variants) {
    zk::platform::ModuleHandle module = zk::platform::LoadModule(v.path);
    ASSERT_NE(module, nullptr) << v.path;
    ASSERT_NE(module, Ccom().module) << v.path << " is the main build";
    EXPECT_EQ(Absent(module, AllNames()), std::vector<std::string>{v.omitted}) << v.path;
    zk::platform::FreeModule(module);
  }
}

TEST(CcomExports, UnimplementedNamesAnswerNotSupported) {
  Toolkit& kit = Ccom();
  int count = 0;
  for (const std::string& name : BindingNames()) {
    if (kImplemented.count(name) != 0) continue;
    auto call = reinterpret_cast<intptr_t (*)()>(zk::platform::FindSymbol(kit.module, name.c_str()));
    ASSERT_NE(call, nullptr) << name;
    kit.ERR_set_last_error(0);
    EXPECT_EQ(call(), intptr_t{0}) << name;
    EXPECT_EQ(kit.ERR_get_last_error(), zk::ccom3x::kErrNotSupported) << name;
    ++count;
  }
  EXPECT_EQ(count, 158 - static_cast<int>(kImplemented.size()));
}

TEST(CcomControl, ScriptsAnswersFailuresAndCountsCalls) {
  Toolkit& kit = Ccom();
  ASSERT_EQ(kit.StandIn_Control("reset"), 0);

  // The loader's call: counted, and scriptable to fail.
  EXPECT_EQ(kit.CADB_init(), 1);
  EXPECT_EQ(kit.CADB_init(), 1);
  EXPECT_EQ(kit.StandIn_Control("calls CADB_init"), 2);
  kit.CADB_close();
  EXPECT_EQ(kit.StandIn_Control("calls CADB_close"), 1);
  ASSERT_EQ(kit.StandIn_Control("answer CADB_init 12 1"), 0);
  EXPECT_EQ(kit.CADB_init(), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 12);
  EXPECT_EQ(kit.CADB_init(), 1);

  // An object-creating call answers null with the scripted code, then works again.
  ASSERT_EQ(kit.StandIn_Control("answer GOSTH_new 11 2"), 0);
  EXPECT_EQ(kit.GOSTH_new(), nullptr);
  EXPECT_EQ(kit.ERR_get_last_error(), 11);
  EXPECT_EQ(kit.GOSTH_new(), nullptr);
  CCOM_GOSTH_CTX* hash = kit.GOSTH_new();
  ASSERT_NE(hash, nullptr);

  // The k-th call from now fails, the others go on.
  ASSERT_EQ(kit.StandIn_Control("fail GOSTH_update 2 22"), 0);
  ASSERT_EQ(kit.GOSTH_hash_init(hash, 21), 1);
  EXPECT_EQ(kit.GOSTH_update(hash, "a", 1), 1);
  EXPECT_EQ(kit.GOSTH_update(hash, "b", 1), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 22);
  EXPECT_EQ(kit.GOSTH_update(hash, "c", 1), 1);
  EXPECT_EQ(kit.StandIn_Control("calls GOSTH_update"), 3);
  kit.GOSTH_free(hash);

  // A scripted code replaces "not supported" on an unimplemented name.
  auto keyMesh = reinterpret_cast<intptr_t (*)()>(zk::platform::FindSymbol(kit.module, "CP_GOSTE_key_mesh"));
  ASSERT_NE(keyMesh, nullptr);
  ASSERT_EQ(kit.StandIn_Control("answer CP_GOSTE_key_mesh 28 1"), 0);
  EXPECT_EQ(keyMesh(), intptr_t{0});
  EXPECT_EQ(kit.ERR_get_last_error(), 28);
  EXPECT_EQ(keyMesh(), intptr_t{0});
  EXPECT_EQ(kit.ERR_get_last_error(), 30);

  EXPECT_EQ(kit.StandIn_Control("version 1"), -1);
  EXPECT_EQ(kit.StandIn_Control(nullptr), -1);
  EXPECT_EQ(kit.StandIn_Control("reset"), 0);
  EXPECT_EQ(kit.StandIn_Control("calls CADB_init"), 0);
}

// Every implemented call asks the hook before anything else: called with nothing valid, it still
// answers the scripted code rather than its own complaint about the arguments.
TEST(CcomControl, EveryCallAnswersItsScriptedCodeFirst) {
  Toolkit& kit = Ccom();
  ASSERT_EQ(kit.StandIn_Control("reset"), 0);
  struct Call {
    const char* name;
    std::function<bool()> failed;  // true when the call answered its failure value
  };
  unsigned char buf[64] = {};
  const Call calls[] = {
      {"ECGOST_generate_public_key", [&] { return kit.ECGOST_generate_public_key(nullptr, buf) == 0; }},
      {"ECGOST_SIGN_new", [&] { return kit.ECGOST_SIGN_new() == nullptr; }},
      {"ECGOST_sign_init", [&] { return kit.ECGOST_sign_init(nullptr, nullptr) == 0; }},
      {"ECGOST_verify_init", [&] { return kit.ECGOST_verify_init(nullptr, nullptr, 0) == 0; }},
      {"ECGOST_update", [&] { return kit.ECGOST_update(nullptr, nullptr, 0) == 0; }},
      {"ECGOST_sign_final", [&] { return kit.ECGOST_sign_final(nullptr, nullptr) == 0; }},
      {"ECGOST_verify_final", [&] { return kit.ECGOST_verify_final(nullptr, nullptr, 0) == 0; }},
      {"ECGOST_DH_new", [&] { return kit.ECGOST_DH_new() == nullptr; }},
      {"ECGOST_DH_generate_key", [&] { return kit.ECGOST_DH_generate_key(nullptr, nullptr, nullptr) == 0; }},
      {"ECGOST_DH_compute_key", [&] { return kit.ECGOST_DH_compute_key(nullptr, nullptr, nullptr) == 0; }},
      {"GOSTE_new", [&] { return kit.GOSTE_new() == nullptr; }},
      {"GOSTE_init", [&] { return kit.GOSTE_init(nullptr, 0, 0, nullptr, nullptr) == 0; }},
      {"GOSTE_update", [&] { return kit.GOSTE_update(nullptr, nullptr, nullptr, 0) == 0; }},
      {"GOSTE_mac_update", [&] { return kit.GOSTE_mac_update(nullptr, nullptr, 0) == 0; }},
      {"GOSTE_mac_final", [&] { return kit.GOSTE_mac_final(nullptr, nullptr) == 0; }},
      {"GOSTE_mac", [&] { return kit.GOSTE_mac(nullptr, nullptr, 0, nullptr) == 0; }},
      {"RAND_bytes", [&] { return kit.RAND_bytes(nullptr, -1) == 0; }},
      {"GOSTH_new", [&] { return kit.GOSTH_new() == nullptr; }},
      {"GOSTH_hash_init", [&] { return kit.GOSTH_hash_init(nullptr, 0) == 0; }},
      {"GOSTH_update", [&] { return kit.GOSTH_update(nullptr, nullptr, 0) == 0; }},
      {"GOSTH_final", [&] { return kit.GOSTH_final(nullptr, nullptr) == 0; }},
      {"GOSTH", [&] { return kit.GOSTH(0, nullptr, 0, nullptr) == 0; }},
      {"PSE_CTX_new", [&] { return kit.PSE_CTX_new() == nullptr; }},
      {"PSE_CTX_set_path", [&] { return kit.PSE_CTX_set_path(nullptr, nullptr) == 0; }},
      {"PSE_CTX_read", [&] { return kit.PSE_CTX_read(nullptr) == 0; }},
      {"PSE_CTX_get_pse", [&] { return kit.PSE_CTX_get_pse(nullptr) == nullptr; }},
      {"PSE_CTX_get_mkey", [&] { return kit.PSE_CTX_get_mkey(nullptr, nullptr) == 0; }},
      {"PSE_CTX_get_masks", [&] { return kit.PSE_CTX_get_masks(nullptr, nullptr) == 0; }},
      {"PSE_CTX_get_kek", [&] { return kit.PSE_CTX_get_kek(nullptr, nullptr) == 0; }},
      {"PSE_CTX_get_rand", [&] { return kit.PSE_CTX_get_rand(nullptr, nullptr) == 0; }},
      {"PSE_CTX_set_mkey", [&] { return kit.PSE_CTX_set_mkey(nullptr, nullptr) == 0; }},
      {"PSE_CTX_set_masks", [&] { return kit.PSE_CTX_set_masks(nullptr, nullptr) == 0; }},
      {"PSE_CTX_set_kek", [&] { return kit.PSE_CTX_set_kek(nullptr, nullptr) == 0; }},
      {"PSE_CTX_set_rand", [&] { return kit.PSE_CTX_set_rand(nullptr, nullptr) == 0; }},
      {"PSE_rand_inited", [&] { return kit.PSE_rand_inited() == 0; }},
      {"CCOM_StandIn_MakeUser", [&] { return kit.CCOM_StandIn_MakeUser(nullptr, nullptr, nullptr, nullptr) == 0; }},
      {"CADB_init", [&] { return kit.CADB_init() == 0; }},
  };
  for (const Call& call : calls) {
    ASSERT_EQ(kit.StandIn_Control(("answer " + std::string(call.name) + " 29 1").c_str()), 0);
    kit.ERR_set_last_error(0);
    EXPECT_TRUE(call.failed()) << call.name;
    EXPECT_EQ(kit.ERR_get_last_error(), 29) << call.name;
    EXPECT_EQ(kit.StandIn_Control(("calls " + std::string(call.name)).c_str()), 1) << call.name;
  }
  // Nothing implemented is left out of this test.
  std::set<std::string> covered = {"GOSTE_free",     "GOSTH_free",         "ECGOST_SIGN_free",  "ECGOST_DH_free",
                                   "PSE_CTX_free",   "ERR_get_last_error", "ERR_set_last_error"};
  for (const Call& call : calls) covered.insert(call.name);
  for (const std::string& name : kImplemented) EXPECT_EQ(covered.count(name), 1u) << name;

  // Release calls and the last-error calls are counted too; a scripted code on them is the error.
  kit.GOSTE_free(nullptr);
  kit.GOSTH_free(nullptr);
  kit.ECGOST_SIGN_free(nullptr);
  kit.ECGOST_DH_free(nullptr);
  kit.PSE_CTX_free(nullptr);
  for (const char* name : {"GOSTE_free", "GOSTH_free", "ECGOST_SIGN_free", "ECGOST_DH_free", "PSE_CTX_free"})
    EXPECT_EQ(kit.StandIn_Control(("calls " + std::string(name)).c_str()), 1) << name;
  ASSERT_EQ(kit.StandIn_Control("answer ERR_get_last_error 27 1"), 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 27);
  ASSERT_EQ(kit.StandIn_Control("answer ERR_set_last_error 26 1"), 0);
  kit.ERR_set_last_error(3);
  EXPECT_EQ(kit.ERR_get_last_error(), 26);
  kit.ERR_set_last_error(3);
  EXPECT_EQ(kit.ERR_get_last_error(), 3);
}

TEST(CcomLastError, IsKeptPerThread) {
  Toolkit& kit = Ccom();
  kit.ERR_set_last_error(9);
  int seenByOther = -1;
  std::thread other([&] {
    seenByOther = kit.ERR_get_last_error();
    kit.ERR_set_last_error(21);
  });
  other.join();
  EXPECT_EQ(seenByOther, 0);
  EXPECT_EQ(kit.ERR_get_last_error(), 9);
}

}  // namespace
}  // namespace ccomtest
