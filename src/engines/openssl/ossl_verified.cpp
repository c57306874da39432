#include "engines/openssl/ossl_verified.h"

#include <ctime>

namespace zk::ossl {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12): timegm is not portable.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool UnixTimeOf(const Asn1Time* Time, int64_t& Seconds) {
  // A null time would make libcrypto report the current time instead.
  struct tm parts {};
  if (Time == nullptr || TOpenSSLLibrary::Api().ASN1_TIME_to_tm(Time, &parts) != 1) return false;
  Seconds = DaysFromCivil(parts.tm_year + 1900LL, parts.tm_mon + 1LL, parts.tm_mday) * 86400 +
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
