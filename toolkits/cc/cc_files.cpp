// The stand-in's key-file texts (certificates, authority keys, secret keys) and its certificate
// path rule. Formats: README.md.
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "cc_internal.h"

namespace cc {
namespace {

constexpr size_t kMaxImage = 2048;

struct KeywordText {
  std::map<std::string, std::string> fields;
  size_t sealAt = 0;  // offset of the last line (the signature or check), which seals the rest
};

// "MAGIC <version>" then Name=Value lines; the last named line seals everything before it.
int32_t SplitText(const char* image, const char* magic, const std::vector<std::string>& names,
                  const std::string& seal, int32_t formatError, KeywordText& out) {
  if (image == nullptr) return formatError;
  const size_t len = strnlen(image, kMaxImage + 1);
  if (len > kMaxImage) return formatError;
  const std::string text(image, len);
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t lineAt = at;
    at = end + 1;
    if (first) {
      const std::string head = std::string(magic) + " ";
      if (line.compare(0, head.size(), head) != 0) return formatError;
      if (line.substr(head.size()) != "1") return kUnknownVersion;
      first = false;
      continue;
    }
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return formatError;
    const std::string name = line.substr(0, eq);
    bool known = false;
    for (const std::string& n : names) known = known || n == name;
    if (!known) return kUnknownKeyword;
    if (out.fields.count(name) != 0) return formatError;
    out.fields[name] = line.substr(eq + 1);
    if (name == seal) out.sealAt = lineAt;
  }
  if (first || out.fields.size() != names.size()) return formatError;
  return kOk;
}

bool ToInt64(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 18) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  value = text[0] == '-' ? -v : v;
  return true;
}

bool ToInt32(const std::string& text, int32_t& value) {
  int64_t v = 0;
  if (!ToInt64(text, v) || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool FromHex(const std::string& hex, uint8_t* out, size_t len) {
  if (hex.size() != 2 * len) return false;
  for (size_t i = 0; i < len; ++i) {
    int v = 0;
    for (int k = 0; k < 2; ++k) {
      const char c = hex[2 * i + k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out[i] = static_cast<uint8_t>(v);
  }
  return true;
}

std::string ToHex(const uint8_t* data, size_t len) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (size_t i = 0; i < len; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 15];
  }
  return hex;
}

bool PointFromHex(const std::string& hex, gost::r3410_2001::Point& p) {
  uint8_t raw[64];
  if (!FromHex(hex, raw, sizeof raw)) return false;
  std::memcpy(p.x, raw, 32);
  std::memcpy(p.y, raw + 32, 32);
  return true;
}

std::string PointHex(const gost::r3410_2001::Point& p) { return ToHex(p.x, 32) + ToHex(p.y, 32); }

bool CheckMatches(const std::string& signedPart, const std::string& checkHex) {
  uint8_t want[32], got[32];
  if (!FromHex(checkHex, want, sizeof want)) return false;
  Digest(signedPart.data(), signedPart.size(), got);
  return std::memcmp(want, got, sizeof got) == 0;
}

std::string Sealed(const std::string& body, const std::string& sealName) {
  uint8_t digest[32];
  Digest(body.data(), body.size(), digest);
  return body + sealName + "=" + ToHex(digest, sizeof digest) + "\n";
}

}  // namespace

int32_t ParseCertificate(const char* image, Certificate& cert) {
  KeywordText t;
  const std::vector<std::string> names = {"Number", "Owner",    "Issuer", "Authority",
                                          "NotBefore", "NotAfter", "Key",    "Sign"};
  if (int32_t s = SplitText(image, "ZKCC CERT", names, "Sign", kCertFormat, t)) return s;
  cert.owner = t.fields["Owner"];
  cert.issuer = t.fields["Issuer"];
  cert.signedPart.assign(image, t.sealAt);
  if (!ToInt32(t.fields["Number"], cert.number) || !ToInt32(t.fields["Authority"], cert.authority) ||
      !ToInt64(t.fields["NotBefore"], cert.notBefore) || !ToInt64(t.fields["NotAfter"], cert.notAfter) ||
      !PointFromHex(t.fields["Key"], cert.key) || !FromHex(t.fields["Sign"], cert.signature, 64) ||
      cert.owner.empty())
    return kCertFormat;
  return kOk;
}

int32_t ParseAuthority(const char* image, AuthorityKey& key) {
  KeywordText t;
  if (int32_t s = SplitText(image, "ZKCC AUTHORITY", {"Number", "Key", "Check"}, "Check", kAuthFormat, t)) return s;
  if (!ToInt32(t.fields["Number"], key.number) || !PointFromHex(t.fields["Key"], key.key) ||
      !CheckMatches(std::string(image, t.sealAt), t.fields["Check"]))
    return kAuthFormat;
  return kOk;
}

int32_t ParseSecret(const char* image, SecretKey& key) {
  KeywordText t;
  const std::vector<std::string> names = {"Number", "Owner", "NotBefore", "NotAfter", "Secret", "Check"};
  if (int32_t s = SplitText(image, "ZKCC SECRET", names, "Check", kSecretFormat, t)) return s;
  key.owner = t.fields["Owner"];
  if (!ToInt32(t.fields["Number"], key.number) || !ToInt64(t.fields["NotBefore"], key.notBefore) ||
      !ToInt64(t.fields["NotAfter"], key.notAfter) || !FromHex(t.fields["Secret"], key.d, 32))
    return kSecretFormat;
  if (!CheckMatches(std::string(image, t.sealAt), t.fields["Check"])) return kSecretIntegrity;
  return kOk;
}

std::string CertificateText(const Certificate& cert, const uint8_t authoritySecret[32]) {
  const std::string body = "ZKCC CERT 1\nNumber=" + std::to_string(cert.number) + "\nOwner=" + cert.owner +
                           "\nIssuer=" + cert.issuer + "\nAuthority=" + std::to_string(cert.authority) +
                           "\nNotBefore=" + std::to_string(cert.notBefore) +
                           "\nNotAfter=" + std::to_string(cert.notAfter) + "\nKey=" + PointHex(cert.key) + "\n";
  uint8_t digest[32], signature[64];
  Digest(body.data(), body.size(), digest);
  if (gost::r3410_2001::Sign(kCurve, authoritySecret, digest, signature) != gost::kSignOk) return std::string();
  return body + "Sign=" + ToHex(signature, sizeof signature) + "\n";
}

std::string AuthorityText(const AuthorityKey& key) {
  return Sealed("ZKCC AUTHORITY 1\nNumber=" + std::to_string(key.number) + "\nKey=" + PointHex(key.key) + "\n",
                "Check");
}

std::string SecretText(const SecretKey& key) {
  const std::string body = "ZKCC SECRET 1\nNumber=" + std::to_string(key.number) + "\nOwner=" + key.owner +
                           "\nNotBefore=" + std::to_string(key.notBefore) +
                           "\nNotAfter=" + std::to_string(key.notAfter) + "\nSecret=" + ToHex(key.d, 32) + "\n";
  return Sealed(body, "Check");
}

std::string WithDelimiter(const std::string& dir) {
  if (dir.empty() || dir.back() == '\\' || dir.back() == '/') return dir;
  return dir + "\\";
}

std::string CertPathOf(const std::string& uid, const std::string& dir) {
  const size_t dot = uid.find('.');
  if (dir.empty() || dot == std::string::npos || dot == 0 || dot + 1 == uid.size()) return std::string();
  std::string path = WithDelimiter(dir) + uid.substr(0, dot) + "\\@";
  for (size_t i = dot + 1; i < uid.size(); ++i) {
    path += '\\';
    path += uid[i];
  }
  return path + ".crt";
}

void Digest(const void* data, size_t len, uint8_t out[32]) {
  gost::R3411Hash hash;
  hash.InitCryptoPro();
  hash.Update(static_cast<const uint8_t*>(data), len);
  hash.Final(out);
}

}  // namespace cc
