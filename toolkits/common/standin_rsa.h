// A libgcrypt RSA private key as the PKCS#1 RSAPrivateKey PEM that OpenSSL reads: stand-ins
// export their keys with it for independent checks in tests.
#pragma once

#include <gcrypt.h>

#include <string>

namespace standin {

// "" when the key is not a complete RSA private key.
std::string RsaPrivateKeyPem(gcry_sexp_t key);

}  // namespace standin
