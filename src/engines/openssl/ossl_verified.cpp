#include "engines/openssl/ossl_verified.h"

#include <ctime>

#include "platform/calendar.h"

namespace zk::ossl {

namespace {

bool UnixTimeOf(const Asn1Time* Time, int64_t& Seconds) {
  // A null time would make libcrypto report the current time instead.
  struct tm parts {};
  if (Time == nullptr || TOpenSSLLibrary::Api().ASN1_TIME_to_tm(Time, &parts) != 1) return false;
  Seconds = platform::DaysFromCivil(parts.tm_year + 1900LL, static_cast<unsigned>(parts.tm_mon + 1),
                                    static_cast<unsigned>(parts.tm_mday)) * 86400 +
            parts.tm_hour * 3600LL + parts.tm_min * 60LL + parts.tm_sec;
  return true;
}

}  // namespace

bool ChainValidity(const X509StoreCtx* Ctx, int64_t& From, int64_t& Until) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const X509Stack* chain = api.X509_STORE_CTX_get0_chain(Ctx);
  const int count = chain != nullptr ? api.OPENSSL_sk_num(chain) : 0;
  if (count <= 0) return false;
  for (int i = 0; i < count; ++i) {
    const auto* cert = static_cast<const X509Cert*>(api.OPENSSL_sk_value(chain, i));
    int64_t notBefore = 0, notAfter = 0;
    if (cert == nullptr || !UnixTimeOf(api.X509_get0_notBefore(cert), notBefore) ||
        !UnixTimeOf(api.X509_get0_notAfter(cert), notAfter)) {
      return false;
    }
    if (i == 0 || notBefore > From) From = notBefore;
    if (i == 0 || notAfter < Until) Until = notAfter;
  }
  return true;
}

int64_t UnixNow() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace zk::ossl
