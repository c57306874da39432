// Scoped toolkit resources of one binding operation: a context, and the seeded generator.
#pragma once

#include "engines/ccom22/cc_dll.h"

namespace zk::ccom22 {

// A toolkit context that is freed when it goes.
class TContext {
 public:
  explicit TContext(const CcApi& api) : api_(api) {}
  ~TContext() {
    if (ctx_ != nullptr) api_.FreeCryptCtx(ctx_);
  }
  TContext(const TContext&) = delete;
  TContext& operator=(const TContext&) = delete;
  HCCCTX& Handle() { return ctx_; }
  operator HCCCTX() const { return ctx_; }

 private:
  const CcApi& api_;
  HCCCTX ctx_ = nullptr;
};

// The toolkit's generator seeded for one operation and released after it.
class TRandomSession {
 public:
  TRandomSession(TCComDLL& binding, bool hardware) : binding_(binding), status_(binding.InitRandom(hardware)) {}
  ~TRandomSession() {
    if (status_ == kOk) binding_.FreeRandom();
  }
  TRandomSession(const TRandomSession&) = delete;
  TRandomSession& operator=(const TRandomSession&) = delete;
  int32_t Status() const { return status_; }

 private:
  TCComDLL& binding_;
  int32_t status_;
};

inline const char* ImageText(const SecureBytes& image) { return reinterpret_cast<const char*>(image.data()); }

// The empty settings an operation refuses before any toolkit call.
inline int32_t RefuseEmpty(const TCComSettings& S) {
  if (S.UserUID.empty()) return kErrNoUID;
  if (S.CertDir.empty()) return kErrNoKeyDir;
  if (S.SecretDir.empty()) return kErrNoSecretDir;
  if (S.RandomFile.empty()) return kErrNoRandomFile;
  return kOk;
}

}  // namespace zk::ccom22
