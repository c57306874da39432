// RSA key transport with the padding's random bytes from a context's own generator
// (standin_random.h), for a public key as the plug-in keeps it.
#include "mplug_internal.h"

namespace mplug {

bool RsaEncrypt(const std::string& publicText, const Bytes& plain, KeySource& random, Bytes& out) {
  InitLibrary();
  Sexp pub;
  return ParseCanonical(publicText, pub) && standin::RsaEncryptPkcs1(pub.get(), plain.data(), plain.size(), random, out);
}

}  // namespace mplug
