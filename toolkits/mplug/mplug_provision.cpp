// Provisioning exports: authorities, users and CRLs for tests and the demo, made fresh each time.
#include <ctime>

#include "mplug_internal.h"
#include "mplug_standin.h"
#include "standin_rsa.h"

using namespace mplug;

namespace {

int LoadAuthority(const char* keyFile, const char* certFile, Sexp& key, Cert& cert) {
  if (keyFile == nullptr || certFile == nullptr) return kBadParameters;
  if (int r = ReadPrivateKey(keyFile, key)) return r;
  return ReadCert(certFile, cert);
}

}  // namespace

STANDIN_EXPORT int MPro_StandIn_MakeCa(const char* subject, const char* caKeyFile, const char* caCertFile) {
  if (subject == nullptr || caKeyFile == nullptr || caCertFile == nullptr) return kBadParameters;
  Sexp key;
  std::string pub;
  if (!GenerateKey(key, pub)) return kCryptoFailure;
  const std::string cert = MakeCertText(subject, subject, 0, pub, key.get(), true);
  if (cert.empty()) return kCryptoFailure;
  return WritePrivateKey(caKeyFile, key.get()) && WriteWhole(caCertFile, cert) ? kOk : kFileNotFound;
}

STANDIN_EXPORT int MPro_StandIn_MakeUser(const char* caKeyFile, const char* caCertFile, const char* subject,
                                         int64_t validSeconds, const char* pseFile, const char* certFile) {
  if (subject == nullptr || pseFile == nullptr || certFile == nullptr) return kBadParameters;
  Sexp caKey;
  Cert ca;
  if (int r = LoadAuthority(caKeyFile, caCertFile, caKey, ca)) return r;
  Sexp key;
  std::string pub;
  if (!GenerateKey(key, pub)) return kCryptoFailure;
  const int64_t notAfter = validSeconds == 0 ? 0 : int64_t(std::time(nullptr)) + validSeconds;
  const std::string cert = MakeCertText(subject, ca.Subject, notAfter, pub, caKey.get());
  if (cert.empty()) return kCryptoFailure;
  return WritePrivateKey(pseFile, key.get()) && WriteWhole(certFile, cert) ? kOk : kFileNotFound;
}

STANDIN_EXPORT int MPro_StandIn_MakeCrl(const char* caKeyFile, const char* caCertFile, const char* revokedCertFiles,
                                        const char* crlFile) {
  if (revokedCertFiles == nullptr || crlFile == nullptr) return kBadParameters;
  Sexp caKey;
  Cert ca;
  if (int r = LoadAuthority(caKeyFile, caCertFile, caKey, ca)) return r;
  std::vector<Cert> revoked;
  const std::string list = revokedCertFiles;
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find(';', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) {
      Cert cert;
      if (int r = ReadCert(list.substr(at, end - at), cert)) return r;
      revoked.push_back(std::move(cert));
    }
    at = end + 1;
  }
  const std::string text = MakeCrlDer(ca, caKey.get(), revoked);
  return !text.empty() && WriteWhole(crlFile, text) ? kOk : kFileNotFound;
}

STANDIN_EXPORT int MPro_StandIn_ExportKey(const char* pseFile, const char* pemFile) {
  if (pseFile == nullptr || pemFile == nullptr) return kBadParameters;
  Sexp key;
  if (int r = ReadPrivateKey(pseFile, key)) return r;
  const std::string pem = standin::RsaPrivateKeyPem(key.get());
  if (pem.empty()) return kBadFormat;
  return WriteWhole(pemFile, pem) ? kOk : kFileNotFound;
}

STANDIN_EXPORT int StandIn_Control(const char* command) { return standin::Control(command); }
