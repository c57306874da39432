// libgcrypt set-up, number conversions, system randomness and wiping.
#include <cerrno>
#include <cstring>

#if defined(__linux__)
#include <sys/random.h>
#endif

#include "gost.h"
#include "gost_internal.h"

namespace gost {

void InitLibgcrypt() {
  // A function-local static runs its initialiser exactly once, even when threads race here.
  static const bool initialised = [] {
    // A host program that finished its own set-up keeps it: libgcrypt refuses a second one.
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      gcry_check_version(nullptr);
      // No locked secure-memory pool: secrets here live in our own buffers and are wiped by us,
      // and a pool would print warnings when the process may not lock memory.
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
    return true;
  }();
  (void)initialised;
}

void SystemRandom(uint8_t* out, size_t len) {
  if (out == nullptr || len == 0) return;
#if defined(__linux__)
  // The kernel's generator serves every thread at once. libgcrypt's strong generator holds one
  // process-wide lock for microseconds per call, so engines on different threads took turns
  // there on every signature and envelope. It remains the fallback.
  while (len > 0) {
    const ssize_t got = getrandom(out, len, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    out += got;
    len -= static_cast<size_t>(got);
  }
  if (len == 0) return;
#endif
  InitLibgcrypt();
  gcry_randomize(out, len, GCRY_STRONG_RANDOM);
}

void Wipe(void* p, size_t len) {
  if (p == nullptr) return;
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (len--) *v++ = 0;
  // Keeps the stores even if the buffer is freed right after.
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

namespace detail {

gcry_mpi_t MpiFromLe(const uint8_t* p, size_t len) {
  InitLibgcrypt();
  uint8_t be[256];
  if (len > sizeof(be)) return nullptr;
  for (size_t i = 0; i < len; ++i) be[i] = p[len - 1 - i];
  gcry_mpi_t v = nullptr;
  if (gcry_mpi_scan(&v, GCRYMPI_FMT_USG, be, len, nullptr) != 0) v = nullptr;
  Wipe(be, len);
  return v;
}

bool MpiToLe(gcry_mpi_t v, uint8_t* out, size_t len) {
  std::memset(out, 0, len);
  uint8_t be[256];
  size_t n = 0;
  if (v == nullptr || len > sizeof(be) || gcry_mpi_cmp_ui(v, 0) < 0) return false;
  if ((gcry_mpi_get_nbits(v) + 7) / 8 > len) return false;
  if (gcry_mpi_print(GCRYMPI_FMT_USG, be, sizeof(be), &n, v) != 0 || n > len) {
    Wipe(be, sizeof(be));
    return false;
  }
  for (size_t i = 0; i < n; ++i) out[i] = be[n - 1 - i];
  Wipe(be, sizeof(be));
  return true;
}

}  // namespace detail
}  // namespace gost
