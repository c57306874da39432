// X.509 v3 certificates of the stand-in: built with libksba's certificate writer and signed
// sha256WithRSAEncryption through libgcrypt; read back with libksba.
#include <ksba.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>

#include "mplug_internal.h"
#include "standin.h"

namespace mplug {
namespace {

constexpr const char* kSha256WithRsa = "1.2.840.113549.1.1.11";

struct KsbaFree {
  void operator()(void* p) const { ksba_free(p); }
};
using KsbaText = std::unique_ptr<char, KsbaFree>;

void HashInto(void* md, const void* data, size_t len) { gcry_md_write(static_cast<gcry_md_hd_t>(md), data, len); }

std::string IsoTime(int64_t seconds) {
  const std::time_t t = std::time_t(seconds);
  const std::tm tm = standin::UtcCalendar(t);
  char buf[20];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%S", &tm);
  return buf;
}

// Seconds since 1970 of a UTC "YYYYMMDDTHHMMSS", computed here: a 32-bit time_t of the C
// library would not reach the dates certificates carry.
int64_t FromIsoTime(const char* iso) {
  if (std::strlen(iso) < 15) return 0;
  auto num = [&](int at, int n) {
    int64_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (iso[at + i] - '0');
    return v;
  };
  int64_t y = num(0, 4);
  const int64_t m = num(4, 2), d = num(6, 2);
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + num(9, 2) * 3600 + num(11, 2) * 60 + num(13, 2);
}

// Splits at unescaped `sep`, keeping escapes in the pieces.
std::vector<std::string> SplitEscaped(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out.back() += s[i];
      out.back() += s[++i];
    } else if (s[i] == sep) {
      out.emplace_back();
    } else {
      out.back() += s[i];
    }
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) ++i;
    out += s[i];
  }
  return out;
}

std::string Escape(const std::string& s, const char* specials) {
  std::string out;
  for (char c : s) {
    if (std::strchr(specials, c) != nullptr) out += '\\';
    out += c;
  }
  return out;
}

std::string SerialSexp() {
  uint8_t serial[8];
  gcry_create_nonce(serial, sizeof serial);
  serial[0] = uint8_t((serial[0] & 0x7f) | 0x01);  // positive and of full length
  return "(8:" + std::string(reinterpret_cast<char*>(serial), sizeof serial) + ")";
}

}  // namespace

std::string OneLineFromRfc2253(const std::string& dn) {
  std::vector<std::string> parts = SplitEscaped(dn, ',');
  std::string line;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    const size_t eq = it->find('=');
    if (eq == std::string::npos) return "";
    line += "/" + it->substr(0, eq) + "=" + Escape(Unescape(it->substr(eq + 1)), "/\\");
  }
  return line;
}

std::string Rfc2253FromOneLine(const std::string& line) {
  if (line.empty() || line[0] != '/') return "";
  std::vector<std::string> parts = SplitEscaped(line.substr(1), '/');
  std::string dn;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    const size_t eq = it->find('=');
    if (eq == std::string::npos) return "";
    dn += (dn.empty() ? "" : ",") + it->substr(0, eq) + "=" + Escape(Unescape(it->substr(eq + 1)), ",+\"\\<>;=#");
  }
  return dn;
}

namespace {

// Certificates parsed before, by their image: every operation reads the authority's and the
// correspondent's again, and libksba's parse costs more than the signature check.
struct ParsedCerts {
  std::mutex lock;
  std::map<std::string, Cert> byImage;
};

ParsedCerts& Parsed() {
  static standin::Immortal<ParsedCerts> parsed;
  return parsed.get();
}

int32_t ParseCertOnce(const std::string& der, Cert& cert);

}  // namespace

int32_t ParseCert(const std::string& der, Cert& cert) {
  constexpr size_t kKept = 512;
  ParsedCerts& parsed = Parsed();
  {
    std::lock_guard<std::mutex> hold(parsed.lock);
    auto it = parsed.byImage.find(der);
    if (it != parsed.byImage.end()) {
      cert = it->second;
      return kOk;
    }
  }
  if (int32_t r = ParseCertOnce(der, cert)) return r;
  std::lock_guard<std::mutex> hold(parsed.lock);
  if (parsed.byImage.size() >= kKept) parsed.byImage.clear();
  parsed.byImage.emplace(der, cert);
  return kOk;
}

namespace {

int32_t ParseCertOnce(const std::string& der, Cert& cert) {
  ksba_cert_t kc = nullptr;
  if (ksba_cert_new(&kc) != 0) return kCryptoFailure;
  std::unique_ptr<ksba_cert_s, void (*)(ksba_cert_t)> hold(kc, ksba_cert_release);
  if (!CertificateShapeValid(der) || ksba_cert_init_from_mem(kc, der.data(), der.size()) != 0) return kBadFormat;
  const char* algo = ksba_cert_get_digest_algo(kc);
  if (algo == nullptr || std::strcmp(algo, kSha256WithRsa) != 0) return kBadFormat;
  KsbaText subject(ksba_cert_get_subject(kc, 0)), issuer(ksba_cert_get_issuer(kc, 0));
  if (!subject || !issuer) return kBadFormat;
  cert.Subject = OneLineFromRfc2253(subject.get());
  cert.Issuer = OneLineFromRfc2253(issuer.get());
  ksba_isotime_t notAfter;
  if (ksba_cert_get_validity(kc, 1, notAfter) != 0) return kBadFormat;
  cert.NotAfter = FromIsoTime(notAfter);
  std::unique_ptr<unsigned char, KsbaFree> key(ksba_cert_get_public_key(kc));
  std::unique_ptr<unsigned char, KsbaFree> sigval(ksba_cert_get_sig_val(kc));
  if (!key || !sigval) return kBadFormat;
  cert.KeyText.assign(reinterpret_cast<char*>(key.get()), gcry_sexp_canon_len(key.get(), 0, nullptr, nullptr));
  Sexp sig;
  const size_t sigLen = gcry_sexp_canon_len(sigval.get(), 0, nullptr, nullptr);
  if (gcry_sexp_new(sig.out(), sigval.get(), sigLen, 1) != 0) return kBadFormat;
  Sexp s(gcry_sexp_find_token(sig.get(), "s", 0));
  size_t n = 0;
  const char* p = s ? gcry_sexp_nth_data(s.get(), 1, &n) : nullptr;
  if (p == nullptr) return kBadFormat;
  cert.Signature.assign(p, p + n);
  gcry_md_hd_t md = nullptr;
  if (gcry_md_open(&md, GCRY_MD_SHA256, 0) != 0) return kCryptoFailure;
  const bool hashed = ksba_cert_hash(kc, 1, HashInto, md) == 0;
  if (hashed) cert.TbsDigest.assign(gcry_md_read(md, 0), gcry_md_read(md, 0) + 32);
  gcry_md_close(md);
  if (!hashed || cert.Subject.empty() || cert.Issuer.empty()) return kBadFormat;
  if (!CertNameAndSerial(der, cert.SubjectDer, cert.SerialDer)) return kBadFormat;
  auto parsedKey = std::make_shared<Sexp>();
  if (!ParseCanonical(cert.KeyText, *parsedKey)) return kBadFormat;
  cert.PublicKey = std::move(parsedKey);
  cert.Image = der;
  return kOk;
}

}  // namespace

namespace {

int32_t ReadCertFile(const std::string& path, Cert& cert) {
  Bytes bytes;
  if (!ReadWholeFile(path, bytes, 64 * 1024)) return kFileNotFound;
  return ParseCert(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), cert);
}

}  // namespace

int32_t ReadCert(const std::string& path, Cert& cert) {
#ifdef _WIN32
  return ReadCertFile(path, cert);
#else
  // Every operation reads the authority's and the correspondents' files again, at four system
  // calls each.
  static standin::Immortal<KeptByState<Cert>> kept(512);
  FileState state;
  if (!StateOf(path, state)) return kFileNotFound;
  if (kept.get().Find(path, state, cert)) return kOk;
  if (int32_t r = ReadCertFile(path, cert)) return r;
  kept.get().Keep(path, state, cert);
  return kOk;
#endif
}

bool CertSignedBy(const Cert& cert, const Cert& issuer) {
  return cert.Issuer == issuer.Subject && VerifyWith(issuer, cert.TbsDigest, cert.Signature);
}

std::string MakeCertText(const std::string& subject, const std::string& issuer, int64_t notAfter,
                         const std::string& keyText, gcry_sexp_t issuerKey, bool authority) {
  InitLibrary();
  const std::string subjectDn = Rfc2253FromOneLine(subject), issuerDn = Rfc2253FromOneLine(issuer);
  if (subjectDn.empty() || issuerDn.empty()) return "";
  ksba_certreq_t cr = nullptr;
  ksba_writer_t w = nullptr;
  gcry_md_hd_t md = nullptr;
  std::string out;
  const int64_t now = int64_t(std::time(nullptr));
  const std::string from = IsoTime(now - 86400), to = notAfter == 0 ? "20991231T235959" : IsoTime(notAfter);
  const std::string serial = SerialSexp();
  const std::string siginfo = std::string("(7:sig-val(21:") + kSha256WithRsa + "(1:s1:\x01)))";
  bool ok = ksba_certreq_new(&cr) == 0 && ksba_writer_new(&w) == 0 && ksba_writer_set_mem(w, 4096) == 0 &&
            gcry_md_open(&md, GCRY_MD_SHA256, 0) == 0 && ksba_certreq_set_writer(cr, w) == 0;
  if (ok) {
    ksba_certreq_set_hash_function(cr, HashInto, md);
    ok = ksba_certreq_add_subject(cr, subjectDn.c_str()) == 0 &&
         ksba_certreq_set_public_key(cr, reinterpret_cast<const unsigned char*>(keyText.data())) == 0 &&
         ksba_certreq_set_serial(cr, reinterpret_cast<const unsigned char*>(serial.data())) == 0 &&
         ksba_certreq_set_issuer(cr, issuerDn.c_str()) == 0 && ksba_certreq_set_validity(cr, 0, from.c_str()) == 0 &&
         ksba_certreq_set_validity(cr, 1, to.c_str()) == 0 &&
         ksba_certreq_set_siginfo(cr, reinterpret_cast<const unsigned char*>(siginfo.data())) == 0;
  }
  if (ok && authority) {
    static const unsigned char kIsCa[] = {0x30, 0x03, 0x01, 0x01, 0xff};
    static const unsigned char kSignsCerts[] = {0x03, 0x02, 0x01, 0x06};
    ok = ksba_certreq_add_extension(cr, "2.5.29.19", 1, kIsCa, sizeof kIsCa) == 0 &&
         ksba_certreq_add_extension(cr, "2.5.29.15", 1, kSignsCerts, sizeof kSignsCerts) == 0;
  }
  ksba_stop_reason_t reason = KSBA_SR_NONE;
  while (ok && reason != KSBA_SR_READY) {
    ok = ksba_certreq_build(cr, &reason) == 0;
    if (ok && reason == KSBA_SR_NEED_SIG) {
      Bytes sig;
      const Bytes digest(gcry_md_read(md, 0), gcry_md_read(md, 0) + 32);
      ok = RsaSignDigest(issuerKey, digest, sig);
      const std::string sigval = std::string("(7:sig-val(21:") + kSha256WithRsa + "(1:s" + std::to_string(sig.size()) +
                                 ":" + std::string(sig.begin(), sig.end()) + ")))";
      ok = ok && ksba_certreq_set_sig_val(cr, reinterpret_cast<const unsigned char*>(sigval.data())) == 0;
    }
  }
  if (ok) {
    size_t len = 0;
    const void* p = ksba_writer_get_mem(w, &len);
    if (p != nullptr) out.assign(static_cast<const char*>(p), len);
  }
  gcry_md_close(md);
  ksba_certreq_release(cr);
  ksba_writer_release(w);
  return out;
}

}  // namespace mplug
