#include <openssl/bio.h>
#include <openssl/pem.h>

#include <fstream>

#include "internal.h"

namespace zk::osslkit {
namespace {

using detail::Check;

struct BioFree { void operator()(BIO* b) const { BIO_free(b); } };
using BioPtr = std::unique_ptr<BIO, BioFree>;

void WriteRaw(const std::string& path, const void* data, size_t len) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(len));
  out.close();
  if (!out) throw Error("cannot write " + path);
}

template <typename T>
Bytes ToDer(const T* object, int (*i2d)(const T*, unsigned char**), const char* what) {
  unsigned char* der = nullptr;
  const int len = i2d(object, &der);
  if (len <= 0) detail::ThrowOpenSsl(what);
  Bytes out(der, der + len);
  OPENSSL_free(der);
  return out;
}

template <typename T>
std::string ToPem(const T* object, int (*write)(BIO*, const T*), Eol eol, const char* what) {
  BioPtr bio(Check(BIO_new(BIO_s_mem()), "BIO_new"));
  Check(write(bio.get(), object), what);
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  std::string text(data, size_t(len));
  return eol == Eol::kCrLf ? detail::WithCrLf(text) : text;
}

template <typename T>
T* FromPem(const std::string& pem, T* (*read)(BIO*, T**, pem_password_cb*, void*), const char* what) {
  BioPtr bio(Check(BIO_new_mem_buf(pem.data(), int(pem.size())), "BIO_new_mem_buf"));
  return Check(read(bio.get(), nullptr, nullptr, nullptr), what);
}

}  // namespace

Bytes CertToDer(const X509* cert) { return ToDer(cert, i2d_X509, "i2d_X509"); }
Bytes CrlToDer(const X509_CRL* crl) { return ToDer(crl, i2d_X509_CRL, "i2d_X509_CRL"); }

std::string CertToPem(const X509* cert, Eol eol) {
  return ToPem(cert, PEM_write_bio_X509, eol, "PEM_write_bio_X509");
}

std::string CrlToPem(const X509_CRL* crl, Eol eol) {
  return ToPem(crl, PEM_write_bio_X509_CRL, eol, "PEM_write_bio_X509_CRL");
}

X509Ptr CertFromDer(const Bytes& der) {
  const unsigned char* p = der.data();
  return X509Ptr(Check(d2i_X509(nullptr, &p, long(der.size())), "d2i_X509"));
}

CrlPtr CrlFromDer(const Bytes& der) {
  const unsigned char* p = der.data();
  return CrlPtr(Check(d2i_X509_CRL(nullptr, &p, long(der.size())), "d2i_X509_CRL"));
}

X509Ptr CertFromPem(const std::string& pem) { return X509Ptr(FromPem(pem, PEM_read_bio_X509, "PEM_read_bio_X509")); }

CrlPtr CrlFromPem(const std::string& pem) {
  return CrlPtr(FromPem(pem, PEM_read_bio_X509_CRL, "PEM_read_bio_X509_CRL"));
}

void WriteFile(const std::string& path, const Bytes& data) { WriteRaw(path, data.data(), data.size()); }
void WriteFile(const std::string& path, const std::string& text) { WriteRaw(path, text.data(), text.size()); }

void WriteCert(const std::string& path, const X509* cert, CertFormat format) {
  if (format == CertFormat::kDer) return WriteFile(path, CertToDer(cert));
  WriteFile(path, CertToPem(cert, format == CertFormat::kPemCrLf ? Eol::kCrLf : Eol::kLf));
}

void WriteCrl(const std::string& path, const X509_CRL* crl, CertFormat format) {
  if (format == CertFormat::kDer) return WriteFile(path, CrlToDer(crl));
  WriteFile(path, CrlToPem(crl, format == CertFormat::kPemCrLf ? Eol::kCrLf : Eol::kLf));
}

void WriteKeyFile(const std::string& path, EVP_PKEY* key, size_t wrap_width, Eol eol) {
  std::string text = KeyFileText(key, wrap_width, eol);
  WriteFile(path, text);
  OPENSSL_cleanse(&text[0], text.size());
}

}  // namespace zk::osslkit
