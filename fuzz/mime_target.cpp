// libFuzzer target over MimeDecode: any text decodes or is refused, never read or written past
// its buffers; whatever decodes encodes back to the same bytes' Base64.
#include <cstdlib>
#include <cstring>

#include "frame/mimecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  uint8_t* out = nullptr;
  int32_t outLen = -1;
  zk::MimeDecode(data, static_cast<int32_t>(size), &out, &outLen);
  if (out == nullptr) {
    if (outLen != 0) std::abort();
    return 0;
  }
  uint8_t* again = nullptr;
  int32_t againLen = 0;
  zk::MimeEncode(out, outLen, &again, &againLen);
  uint8_t* back = nullptr;
  int32_t backLen = 0;
  if (again != nullptr) zk::MimeDecode(again, againLen, &back, &backLen);
  // Re-encoding what was decoded must decode to the same bytes.
  if (outLen > 0 && (back == nullptr || backLen != outLen || std::memcmp(back, out, static_cast<size_t>(outLen)) != 0))
    std::abort();
  zk::MimeFree(back);
  zk::MimeFree(again);
  zk::MimeFree(out);
  return 0;
}
