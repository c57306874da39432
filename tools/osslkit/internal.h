// Helpers shared by the kit's source files; not part of the kit's interface.
#pragma once

#include <openssl/asn1.h>

#include "osslkit.h"

namespace zk::osslkit::detail {

// Throws Error with what, followed by the text of OpenSSL's oldest queued error; empties the queue.
[[noreturn]] void ThrowOpenSsl(const std::string& what);

// Checks a pointer or status returned by OpenSSL.
template <typename T>
T Check(T result, const char* what) {
  if (!result) ThrowOpenSsl(what);
  return result;
}

// The ASN1_INTEGER whose DER content bytes are exactly content (minimal, non-negative), else throws.
ASN1_INTEGER* NewSerial(const Bytes& content);
// The DER content bytes of an INTEGER.
Bytes SerialContent(const ASN1_INTEGER* serial);

// MakeCert with the subject public key copied from key_source. Setting a key through OpenSSL 3's
// encoders costs more than signing; copying its bits lets thousands of certificates share one key.
// The result has no decoded key object (X509_get0_pubkey gives null): write it out, parse it again
// for anything else.
X509Ptr MakeCertCopyingKey(const CertSpec& spec, const X509* key_source, const X509* issuer, EVP_PKEY* signing_key);

std::string WithCrLf(const std::string& lf_text);

}  // namespace zk::osslkit::detail
