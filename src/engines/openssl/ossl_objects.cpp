#include "engines/openssl/ossl_objects.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#include "engines/openssl/ossl_codes.h"
#include "frame/fileutils.h"
#include "frame/mimecode.h"
#include "platform/platform.h"

namespace zk::ossl {

namespace {

// Certificates beyond this size are refused; CRLs of large CAs may be much bigger.
constexpr int64_t kMaxCertFileBytes = 1 << 20;
constexpr int64_t kMaxCrlFileBytes = 64 << 20;

const char kCertBegin[] = "-----BEGIN CERTIFICATE-----";
const char kCertEnd[] = "-----END CERTIFICATE-----";
const char kCrlBegin[] = "-----BEGIN X509 CRL-----";
const char kCrlEnd[] = "-----END X509 CRL-----";

template <typename Object>
Object* ParseDer(Object* (*d2i)(Object**, const unsigned char**, long), const std::vector<uint8_t>& der) {
  if (der.empty() || der.size() > static_cast<size_t>(kMaxCrlFileBytes)) return nullptr;
  const unsigned char* cursor = der.data();
  return d2i(nullptr, &cursor, static_cast<long>(der.size()));
}

// DER first, else the PEM block between the given armour lines.
template <typename Object>
Object* ParseDerOrPem(Object* (*d2i)(Object**, const unsigned char**, long), const std::vector<uint8_t>& file,
                      const char* begin, const char* end) {
  Object* object = ParseDer(d2i, file);
  std::vector<uint8_t> der;
  if (object == nullptr && DecodePemBlock(file, begin, end, der)) object = ParseDer(d2i, der);
  // Failed attempts leave entries in the thread's error queue; they must not be reported later.
  TOpenSSLLibrary::Api().ERR_clear_error();
  return object;
}

}  // namespace

X509Ptr ShareCert(X509Cert* cert) {
  if (cert == nullptr || TOpenSSLLibrary::Api().X509_up_ref(cert) != 1) return nullptr;
  return X509Ptr(cert);
}

RsaPtr CertRsaKey(X509Cert* cert) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  PkeyPtr key(api.X509_get_pubkey(cert));
  if (!key) return nullptr;
  return RsaPtr(api.EVP_PKEY_get1_RSA(key.get()));
}

std::string CertUID(X509Cert* cert) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const Asn1Integer* serial = cert ? api.X509_get_serialNumber(cert) : nullptr;
  if (serial == nullptr) return std::string();
  // The content octets of the DER INTEGER, as i2c_ASN1_INTEGER writes them: a leading 00 stays
  // before a first byte with its top bit set, and a negative serial is in two's complement.
  const int length = api.i2d_ASN1_INTEGER(serial, nullptr);
  if (length <= 2 || length > 1 << 16) return std::string();
  std::vector<uint8_t> der(static_cast<size_t>(length));
  unsigned char* cursor = der.data();
  if (api.i2d_ASN1_INTEGER(serial, &cursor) != length) return std::string();
  const size_t lengthBytes = (der[1] & 0x80) != 0 ? 1 + (der[1] & 0x7F) : 1;
  if (der[0] != 0x02 || 1 + lengthBytes >= der.size()) return std::string();
  const uint8_t* content = der.data() + 1 + lengthBytes;
  return BytesToHex(content, static_cast<int32_t>(der.size() - 1 - lengthBytes), 0, 0);
}

bool DecodePemBlock(const std::vector<uint8_t>& file, const char* begin, const char* end,
                    std::vector<uint8_t>& der) {
  const auto from = std::search(file.begin(), file.end(), begin, begin + std::strlen(begin));
  if (from == file.end()) return false;
  const auto textStart = from + static_cast<std::ptrdiff_t>(std::strlen(begin));
  const auto to = std::search(textStart, file.end(), end, end + std::strlen(end));
  if (to == file.end()) return false;
  std::vector<uint8_t> text;
  std::copy_if(textStart, to, std::back_inserter(text), [](uint8_t c) { return c != '\r' && c != '\n'; });
  uint8_t* decoded = nullptr;
  int32_t decodedLen = 0;
  if (text.size() > static_cast<size_t>(INT32_MAX)) return false;
  MimeDecode(text.data(), static_cast<int32_t>(text.size()), &decoded, &decodedLen);
  if (decoded == nullptr) return false;
  der.assign(decoded, decoded + decodedLen);
  MimeFree(decoded);
  return true;
}

int32_t LoadCertFile(const std::string& FileName, X509Ptr& cert) {
  const int64_t size = platform::FileSize(FileName);
  if (size < 0) return kErrCertFileAccess;
  if (size > kMaxCertFileBytes) return kErrCertTooLarge;
  std::vector<uint8_t> file;
  if (!platform::ReadWholeFile(FileName, file, static_cast<size_t>(kMaxCertFileBytes))) return kErrCertFileAccess;
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  cert.reset(ParseDerOrPem(api.d2i_X509, file, kCertBegin, kCertEnd));
  if (!cert) return kErrCertFileFormat;
  // The certificate's extensions are decoded and kept now, while only this thread sees it:
  // libcrypto does it on first use otherwise, perhaps in two chain checks on two threads at once,
  // and publishes the result in a way that race detectors cannot follow.
  api.X509_check_purpose(cert.get(), -1, 0);
  api.ERR_clear_error();
  return kOk;
}

int32_t LoadCrlFile(const std::string& FileName, CrlPtr& crl) {
  const int64_t size = platform::FileSize(FileName);
  if (size < 0) return kErrCrlIo;
  if (size > kMaxCrlFileBytes) return kErrUnsupportedCrl;
  std::vector<uint8_t> file;
  if (!platform::ReadWholeFile(FileName, file, static_cast<size_t>(kMaxCrlFileBytes))) return kErrCrlIo;
  crl.reset(ParseDerOrPem(TOpenSSLLibrary::Api().d2i_X509_CRL, file, kCrlBegin, kCrlEnd));
  return crl ? kOk : kErrUnsupportedCrl;
}

bool ReadFileHead(const std::string& FileName, size_t MaxBytes, std::vector<uint8_t>& Data) {
  Data.clear();
  if (!platform::IsFile(FileName)) return false;
  std::ifstream in;
  in.rdbuf()->pubsetbuf(nullptr, 0);
  in.open(platform::NativePath(FileName), std::ios::binary);
  if (!in.is_open()) return false;
  Data.resize(MaxBytes);
  in.read(reinterpret_cast<char*>(Data.data()), static_cast<std::streamsize>(MaxBytes));
  Data.resize(static_cast<size_t>(in.gcount()));
  return !in.bad();
}

std::vector<uint8_t> CertToDer(X509Cert* cert) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const int length = api.i2d_X509(cert, nullptr);
  if (length <= 0) return {};
  std::vector<uint8_t> der(static_cast<size_t>(length));
  unsigned char* cursor = der.data();
  if (api.i2d_X509(cert, &cursor) != length) return {};
  return der;
}

}  // namespace zk::ossl
