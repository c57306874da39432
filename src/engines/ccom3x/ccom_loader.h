// The toolkit module ("ccom.dll"), loaded once per process, and the table of its functions that a
// binding resolves from it.
#pragma once

#include <cstddef>

#include "engines/ccom3x/ccom_api.h"
#include "frame/zexroot.h"

// The calls this adapter makes, with the types of their declarations; the other names of
// ZK_CCOM_FUNCTION_NAMES are only required to be present.
#define ZK_CCOM_CALLED_NAMES(X)                                                                        \
  X(ECGOST_generate_public_key) X(ECGOST_SIGN_new) X(ECGOST_SIGN_free) X(ECGOST_sign_init)             \
  X(ECGOST_verify_init) X(ECGOST_update) X(ECGOST_sign_final) X(ECGOST_verify_final) X(ECGOST_DH_new)  \
  X(ECGOST_DH_free) X(ECGOST_DH_generate_key) X(ECGOST_DH_compute_key) X(GOSTE_new) X(GOSTE_free)     \
  X(GOSTE_init) X(GOSTE_update) X(GOSTE_mac_update) X(GOSTE_mac_final) X(RAND_bytes) X(GOSTH_new)     \
  X(GOSTH_free) X(GOSTH_hash_init) X(GOSTH_update) X(GOSTH_final) X(ERR_set_last_error)               \
  X(ERR_get_last_error) X(PSE_CTX_new) X(PSE_CTX_free) X(PSE_CTX_set_path) X(PSE_CTX_read)            \
  X(PSE_CTX_get_pse) X(PSE_CTX_get_mkey) X(PSE_CTX_get_masks) X(PSE_CTX_get_kek) X(PSE_CTX_get_rand)  \
  X(PSE_CTX_set_mkey) X(PSE_CTX_set_masks) X(PSE_CTX_set_kek) X(PSE_CTX_set_rand) X(PSE_rand_inited)

namespace zk::ccom3x {

#define ZK_CCOM_COUNT_ONE(name) +1
constexpr size_t kToolkitFunctionCount = 0 ZK_CCOM_FUNCTION_NAMES(ZK_CCOM_COUNT_ONE);
static_assert(kToolkitFunctionCount == 158, "the binding resolves 158 names");
#undef ZK_CCOM_COUNT_ONE

struct CComApi {
#define ZK_CCOM_TYPED_MEMBER(name) decltype(&::name) name = nullptr;
  ZK_CCOM_CALLED_NAMES(ZK_CCOM_TYPED_MEMBER)
#undef ZK_CCOM_TYPED_MEMBER
  // Every name of ZK_CCOM_FUNCTION_NAMES in its order, untyped (null when absent).
  void* All[kToolkitFunctionCount] = {};
};

// Resolves the whole list from the module in its order; false when a required name is missing
// (GOSTH_file_digest is optional).
bool ResolveToolkitFunctions(platform::ModuleHandle module, CComApi& api);

class TCCom3xDll_loader {
 public:
  // The process-wide loader, loading the module when it is not loaded yet; a failed load is
  // tried again on the next call, so that a root directory set later still counts.
  static TCCom3xDll_loader& Acquire();
  // The unload step: CADB_close, then the module is given back.
  static void Finalize();

  bool Loaded() const { return module_ != nullptr; }
  platform::ModuleHandle Module() const { return module_; }

 private:
  void Load();

  platform::ModuleHandle module_ = nullptr;
  decltype(&::CADB_close) close_ = nullptr;
};

// Arranges, once, for the adapter's unload step (bindings first, then the loader) to run at exit.
void PrepareUnloadOnce();

}  // namespace zk::ccom3x
