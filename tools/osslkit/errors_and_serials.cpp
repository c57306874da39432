#include <openssl/bn.h>
#include <openssl/err.h>

#include "internal.h"

namespace zk::osslkit::detail {

void ThrowOpenSsl(const std::string& what) {
  std::string text = what;
  unsigned long code = ERR_get_error();
  if (code != 0) {
    char buf[256];
    ERR_error_string_n(code, buf, sizeof(buf));
    text += ": ";
    text += buf;
  }
  ERR_clear_error();
  throw Error(text);
}

ASN1_INTEGER* NewSerial(const Bytes& content) {
  // DER allows exactly one encoding per number; anything else could not come back out unchanged.
  // Serials a CA issued carelessly are allowed: a first byte with the top bit set is a negative
  // number in two's complement, as peers meet them.
  const bool minimal = !content.empty() && content.size() < 128 &&
                       !(content.size() > 1 && content[0] == 0x00 && content[1] < 0x80) &&
                       !(content.size() > 1 && content[0] == 0xFF && content[1] >= 0x80);
  if (!minimal) throw Error("serial: content bytes are not a minimal DER INTEGER");
  Bytes der = {0x02, static_cast<uint8_t>(content.size())};
  der.insert(der.end(), content.begin(), content.end());
  const unsigned char* cursor = der.data();
  return Check(d2i_ASN1_INTEGER(nullptr, &cursor, static_cast<long>(der.size())), "d2i_ASN1_INTEGER");
}

Bytes SerialContent(const ASN1_INTEGER* serial) {
  // i2d gives tag, length, content; the content is what the engine's UID is made of.
  unsigned char* der = nullptr;
  const int len = i2d_ASN1_INTEGER(serial, &der);
  if (len <= 0) ThrowOpenSsl("i2d_ASN1_INTEGER");
  size_t header = 2;
  if (der[1] & 0x80) header += der[1] & 0x7F;  // long-form length
  Bytes content(der + header, der + len);
  OPENSSL_free(der);
  return content;
}

std::string WithCrLf(const std::string& lf_text) {
  std::string out;
  out.reserve(lf_text.size() + lf_text.size() / 32);
  for (char c : lf_text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace zk::osslkit::detail
