// A libgcrypt RSA private key as the PKCS#1 RSAPrivateKey PEM that OpenSSL reads: stand-ins
// export their keys with it for independent checks in tests.
#pragma once

#include <gcrypt.h>

#include <string>

namespace standin {

// "" when the key is not a complete RSA private key.
std::string RsaPrivateKeyPem(gcry_sexp_t key);

// The size of the RSA keys a stand-in generates: 2048 bits, unless ZK_STANDIN_RSA_BITS names a
// multiple of 256 from 1024 to 4096. The fuzz targets ask for 1024, since a 2048-bit private-key
// operation in libgcrypt costs milliseconds and a fuzzed envelope brings a new wrapped key now
// and then; tests, benchmarks and the demo keep 2048.
unsigned RsaKeyBits();

}  // namespace standin
