// A remembered successful chain verification of one certificate of the model. A chain check costs
// more than the RSA operation it guards, so its success is reused while nothing it depended on has
// changed: the trusted lists (a generation number the model raises whenever they change), the
// entry itself (a replaced entry starts unverified), and time: every certificate of the chain
// must still be within its validity dates, and the result is never older than kMaxAgeMs, so
// whatever else depends on time is checked again soon. Failures are never remembered.
#pragma once

#include <cstdint>

#include "engines/openssl/ossl_api.h"

namespace zk::ossl {

struct VerifiedChain {
  static constexpr uint64_t kMaxAgeMs = 60 * 1000;

  bool known = false;
  uint64_t generation = 0;   // of the model's trusted lists at verification
  uint64_t checkedAtMs = 0;  // monotonic clock
  int64_t validFrom = 0;     // latest notBefore over the chain, seconds since 1970-01-01 UTC
  int64_t validUntil = 0;    // earliest notAfter over the chain (exclusive)

  // True when the remembered success still stands at these times for this generation.
  bool Holds(uint64_t Generation, uint64_t NowMs, int64_t NowUnix) const {
    return known && generation == Generation && NowMs >= checkedAtMs && NowMs - checkedAtMs < kMaxAgeMs &&
           validFrom <= NowUnix && NowUnix < validUntil;
  }
};

// The validity window every certificate of the context's verified chain shares; false when the
// chain is empty or a date cannot be read (the result is then not remembered).
bool ChainValidity(const X509StoreCtx* Ctx, int64_t& From, int64_t& Until);

// The current time as libcrypto's verification sees it, in seconds since 1970-01-01 UTC.
int64_t UnixNow();

}  // namespace zk::ossl
