// Exports of the stand-in beyond the toolkit's calls, for tests and the demo: an authority,
// a PSE with a certificate it issues, a CRL, and the control entry. C calling convention.
#include <cstdlib>
#include <cstring>

#include "cpki1_internal.h"
#include "cpki1_standin.h"
#include "standin_rsa.h"
#include "standin_files.h"

namespace cpki1 {
namespace {

std::string Join(const std::string& dir, const char* name) {
  std::string d = dir;
  if (!d.empty() && d.back() != '/' && d.back() != '\\') d += '/';
  return d + name;
}

std::string Base64(const Bytes& in) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    const uint32_t v = static_cast<uint32_t>(in[i]) << 16 | (i + 1 < in.size() ? in[i + 1] << 8 : 0) |
                       (i + 2 < in.size() ? in[i + 2] : 0);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < in.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < in.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

bool WriteObject(const std::string& path, const Bytes& der, bool pem, const char* label) {
  Bytes data = der;
  if (pem) {
    std::string text = std::string("-----BEGIN ") + label + "-----\n";
    const std::string b64 = Base64(der);
    for (size_t i = 0; i < b64.size(); i += 64) text += b64.substr(i, 64) + "\n";
    text += std::string("-----END ") + label + "-----\n";
    data.assign(text.begin(), text.end());
  }
  const std::string native = ResolvePath(path);
  return standin::WriteWholeFile(native.c_str(), data.data(), data.size()) == standin::WriteResult::kOk;
}

// The authority of caDir: its key and certificate.
bool LoadAuthority(const std::string& caDir, Bytes& key, Certificate& cert) {
  Records records;
  if (!ReadRecords(Join(caDir, "ca.key"), kPseMagic, records)) return false;
  for (const auto& r : records) {
    if (r.first == kPrivateKey) key = r.second;
    if (r.first == kOwnCert && !ParseCertificate(r.second, cert)) return false;
  }
  return !key.empty() && !cert.der.empty();
}

bool HexBytes(const char* hex, Bytes& out) {
  out.clear();
  std::string digits;
  for (const char* p = hex; p != nullptr && *p != 0; ++p) {
    if (*p != ':') digits += *p;
  }
  if (digits.empty()) return false;
  if (digits.size() % 2) digits.insert(digits.begin(), '0');
  for (size_t i = 0; i < digits.size(); i += 2) {
    char* end = nullptr;
    const std::string two = digits.substr(i, 2);
    out.push_back(static_cast<uint8_t>(std::strtoul(two.c_str(), &end, 16)));
    if (*end != 0) return false;
  }
  return true;
}

}  // namespace
}  // namespace cpki1

using namespace cpki1;

STANDIN_EXPORT int VCERT_StandIn_MakeCa(const char* dir, const char* subject) {
  if (dir == nullptr || subject == nullptr) return kBadArgs;
  Bytes key, n, e, der;
  CertRequest req;
  req.subject = subject;
  req.serial = RandomBytes(8);
  req.serial[0] &= 0x7F;
  req.notBefore = std::time(nullptr) - 86400;
  req.notAfter = req.notBefore + 3650L * 86400;
  req.keyUsage = 0x06;  // keyCertSign, cRLSign
  req.isCa = true;
  if (!GenerateRsa(standin::RsaKeyBits(), key) || !PublicFromPrivate(key, n, e) ||
      !IssueCertificate(req, n, e, EncodeName(subject), key, der))
    return kCryptoError;
  return WriteRecords(Join(dir, "ca.key"), kPseMagic, {{kPrivateKey, key}, {kOwnCert, der}}) &&
                 WriteObject(Join(dir, "ca.cer"), der, false, "CERTIFICATE")
             ? kOk
             : kFileError;
}

STANDIN_EXPORT int VCERT_StandIn_MakePse(const char* caDir, const char* subject, const char* serialHex,
                                         uint32_t keyUsage, const char* ekus, int64_t notBeforeOffset,
                                         int64_t notAfterOffset, const char* psePath, const char* certOut, int32_t pem) {
  if (caDir == nullptr || subject == nullptr || psePath == nullptr) return kBadArgs;
  Bytes caKey, key, n, e, der;
  Certificate ca;
  if (!LoadAuthority(caDir, caKey, ca)) return kFileError;
  CertRequest req;
  req.subject = subject;
  if (!HexBytes(serialHex, req.serial)) return kBadArgs;
  const std::time_t now = std::time(nullptr);
  req.notBefore = now + notBeforeOffset;
  req.notAfter = now + notAfterOffset;
  req.keyUsage = keyUsage;
  req.ekus = ekus != nullptr ? ekus : "";
  if (!GenerateRsa(standin::RsaKeyBits(), key) || !PublicFromPrivate(key, n, e) ||
      !IssueCertificate(req, n, e, ca.subjectDer, caKey, der))
    return kCryptoError;
  if (!WriteRecords(psePath, kPseMagic, {{kPrivateKey, key}, {kOwnCert, der}, {kAnchor, ca.der}})) return kFileError;
  if (certOut != nullptr && *certOut != 0 && !WriteObject(certOut, der, pem != 0, "CERTIFICATE")) return kFileError;
  return kOk;
}

STANDIN_EXPORT int VCERT_StandIn_MakeCrl(const char* caDir, const char* revokedCertFiles, const char* crlFile,
                                         int32_t pem) {
  if (caDir == nullptr || crlFile == nullptr) return kBadArgs;
  Bytes caKey, der;
  Certificate ca;
  if (!LoadAuthority(caDir, caKey, ca)) return kFileError;
  std::vector<Bytes> serials;
  const std::string list = revokedCertFiles != nullptr ? revokedCertFiles : "";
  for (size_t start = 0; start < list.size();) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    Bytes data;
    Certificate cert;
    if (end > start) {
      if (!ReadFileBytes(list.substr(start, end - start), data) || !ParseCertificate(data, cert)) return kBadFormat;
      serials.push_back(cert.serial);
    }
    start = end + 1;
  }
  if (!IssueCrl(ca, caKey, serials, der)) return kCryptoError;
  return WriteObject(crlFile, der, pem != 0, "X509 CRL") ? kOk : kFileError;
}

STANDIN_EXPORT int VCERT_StandIn_ExportKey(const char* psePath, const char* keyFile) {
  // The PSE's key as an unencrypted PKCS#1 RSAPrivateKey (PEM), for independent checks.
  Records records;
  if (psePath == nullptr || keyFile == nullptr || !ReadRecords(psePath, kPseMagic, records)) return kFileError;
  for (const auto& r : records) {
    if (r.first != kPrivateKey) continue;
    Sexp key;
    if (gcry_sexp_sscan(&key.s, nullptr, reinterpret_cast<const char*>(r.second.data()), r.second.size()) != 0)
      return kBadFormat;
    const std::string pem = standin::RsaPrivateKeyPem(key.s);
    if (pem.empty()) return kBadFormat;
    return standin::WriteWholeFile(ResolvePath(keyFile).c_str(), pem.data(), pem.size()) == standin::WriteResult::kOk
               ? kOk
               : kFileError;
  }
  return kBadFormat;
}

STANDIN_EXPORT int StandIn_Control(const char* command) { return standin::Control(command); }

STANDIN_EXPORT int VCERT_StandIn_AddToStore(const char* storePath, const char* certFile) {
  // A certificate put into a local store as a correspondent's, without a context.
  Bytes der;
  Certificate cert;
  if (storePath == nullptr || certFile == nullptr || !ReadFileBytes(certFile, der) || !ParseCertificate(der, cert))
    return kBadFormat;
  Records records;
  Bytes probe;
  if (ReadFileBytes(storePath, probe) && !ReadRecords(storePath, kStoreMagic, records)) return kFileError;
  records.emplace_back(kStoreCert, der);
  return WriteRecords(storePath, kStoreMagic, records) ? kOk : kFileError;
}

STANDIN_EXPORT int VCERT_StandIn_FillStore(const char* caDir, const char* storePath, const char* keyCertFile,
                                           const char* subjectPrefix, int32_t count) {
  // count certificates of caDir's authority for the key of keyCertFile, named subjectPrefix + 0, 1, ...,
  // added to a local store in one write (a store of thousands is set up in seconds, not hours).
  if (caDir == nullptr || storePath == nullptr || keyCertFile == nullptr || subjectPrefix == nullptr || count < 0)
    return kBadArgs;
  Bytes caKey, der;
  Certificate ca, holder;
  if (!LoadAuthority(caDir, caKey, ca)) return kFileError;
  if (!ReadFileBytes(keyCertFile, der) || !ParseCertificate(der, holder)) return kBadFormat;
  Records records;
  Bytes probe;
  if (ReadFileBytes(storePath, probe) && !ReadRecords(storePath, kStoreMagic, records)) return kFileError;
  CertRequest req;
  req.notBefore = holder.notBefore;
  req.notAfter = holder.notAfter;
  req.keyUsage = holder.keyUsage;
  req.ekus = holder.ekus;
  for (int32_t i = 0; i < count; ++i) {
    req.subject = subjectPrefix + std::to_string(i);
    req.serial = RandomBytes(8);
    req.serial[0] &= 0x7F;
    Bytes issued;
    if (!IssueCertificate(req, holder.n, holder.e, ca.subjectDer, caKey, issued)) return kCryptoError;
    records.emplace_back(kStoreCert, std::move(issued));
  }
  return WriteRecords(storePath, kStoreMagic, records) ? kOk : kFileError;
}
