// Helpers shared by the GOST primitive sources: libgcrypt set-up and conversions between our
// little-endian byte strings and libgcrypt's numbers.
#pragma once

#include <gcrypt.h>

#include <cstddef>
#include <cstdint>

namespace gost {
namespace detail {

// Little-endian bytes to a number (nullptr only if libgcrypt runs out of memory).
gcry_mpi_t MpiFromLe(const uint8_t* p, size_t len);
// A number to exactly len little-endian bytes; false (out zeroed) if it does not fit.
bool MpiToLe(gcry_mpi_t v, uint8_t* out, size_t len);

// Releases a number when it goes out of scope; libgcrypt clears the limbs of a released number.
class Mpi {
 public:
  Mpi() : v_(gcry_mpi_new(0)) {}
  explicit Mpi(gcry_mpi_t v) : v_(v) {}
  ~Mpi() { gcry_mpi_release(v_); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
  gcry_mpi_t get() const { return v_; }
  operator gcry_mpi_t() const { return v_; }

 private:
  gcry_mpi_t v_;
};

}  // namespace detail
}  // namespace gost
