// osslkit: RSA keys, X.509 certificates and CRLs for the OpenSSL engine's tests, benchmarks and
// `zkmint demo`, made with OpenSSL 3 at run time, so that no key material is ever committed.
// Linux only. Every failure throws zk::osslkit::Error carrying OpenSSL's error text.
//
// Quick start (a CA, two users, their files laid out as the engine's parameters expect):
//
//   zk::osslkit::SandboxOptions opt;
//   opt.users = {{"alice"}, {"bob"}};
//   zk::osslkit::Sandbox box("/tmp/t1", opt);
//   box.user("alice").key_path    // "User Secret key"   (/tmp/t1/alice.key)
//   box.user("alice").cert_path   // "User Certificate"  (/tmp/t1/alice.cer)
//   box.abonents_dir()            // "Abonents dir": every user's certificate
//   box.ca_dir(), box.crl_dir()   // "CA dir" (ca.cer), "CRL dir" (ca.crl, empty unless opt.revoked)
//   box.user("bob").uid           // the UID the engine derives from bob's certificate
//
// Many correspondents sharing one key (the benchmark's 10,000 certificates):
//   auto key = zk::osslkit::GenerateRsaKey(1024);
//   std::vector<std::string> uids = box.AddAbonents(10000, key.get());
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zk::osslkit {

using Bytes = std::vector<uint8_t>;

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- ownership -------------------------------------------------------------------------------

struct PkeyFree { void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); } };
struct X509Free { void operator()(X509* p) const { X509_free(p); } };
struct CrlFree { void operator()(X509_CRL* p) const { X509_CRL_free(p); } };
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using CrlPtr = std::unique_ptr<X509_CRL, CrlFree>;

// A second owner of the same object (reference count raised).
PkeyPtr Share(EVP_PKEY* key);
X509Ptr Share(X509* cert);

// ---- keys ------------------------------------------------------------------------------------

// A fresh RSA key pair, public exponent 65537. Generation dominates the kit's run time
// (measured: about 10-20 ms at 1024 bits, 250-400 ms at 2048 bits).
PkeyPtr GenerateRsaKey(int bits);

// A key from a process-wide pool: the same (bits, label) gives the same key for the life of the
// process, different labels give different keys. Lets many tests share the cost of generation.
// Thread-safe.
PkeyPtr PooledRsaKey(int bits, const std::string& label);

// ---- certificates ----------------------------------------------------------------------------

struct CertSpec {
  // The DER content bytes of the serial number, exactly as they will appear ({0x2A}, {0x01, 0xA2},
  // {0x00, 0x80}, or a negative number in two's complement such as {0x80}): a minimal DER INTEGER
  // of at most 127 bytes, else MakeCert throws.
  Bytes serial = {0x01};
  std::string common_name = "User";
  // Validity relative to now, in seconds; a negative not_after makes an expired certificate, a
  // positive not_before one that is not yet valid.
  long not_before_offset = -3600;
  long not_after_offset = 365L * 24 * 3600;
  // CA: basicConstraints CA:TRUE (critical) and keyUsage keyCertSign, cRLSign.
  // Otherwise: basicConstraints CA:FALSE, keyUsage digitalSignature, keyEncipherment.
  bool is_ca = false;
};

// Issues a version-3 certificate for subject_key, signed with SHA-256 by signing_key. issuer is the
// issuing CA certificate (its subject becomes the issuer name); null makes the certificate
// self-issued. signing_key need not belong to the issuer: a wrong one gives a bad signature.
X509Ptr MakeCert(const CertSpec& spec, EVP_PKEY* subject_key, const X509* issuer, EVP_PKEY* signing_key);

// A self-signed CA certificate with the given common name and serial.
X509Ptr MakeCaCert(EVP_PKEY* ca_key, const std::string& common_name, const Bytes& serial = {0x01});

// The UID the engine gives a certificate: two upper-case hex digits per content byte of the serial.
std::string SerialUid(const X509* cert);

// ---- CRLs ------------------------------------------------------------------------------------

struct CrlSpec {
  std::vector<Bytes> revoked;  // serial content bytes, as in CertSpec
  long last_update_offset = -3600;
  std::optional<long> next_update_offset = 30L * 24 * 3600;  // nullopt: no nextUpdate field
};

// A version-2 CRL with issuer's subject as issuer name, signed (SHA-256) by signing_key; pass a key
// other than the issuer's to get a CRL whose signature does not verify.
CrlPtr MakeCrl(const CrlSpec& spec, const X509* issuer, EVP_PKEY* signing_key);

// ---- encodings and files ---------------------------------------------------------------------

enum class Eol { kLf, kCrLf };
enum class CertFormat { kDer, kPemLf, kPemCrLf };

Bytes CertToDer(const X509* cert);
std::string CertToPem(const X509* cert, Eol eol = Eol::kLf);
Bytes CrlToDer(const X509_CRL* crl);
std::string CrlToPem(const X509_CRL* crl, Eol eol = Eol::kLf);
X509Ptr CertFromDer(const Bytes& der);
X509Ptr CertFromPem(const std::string& pem);
CrlPtr CrlFromDer(const Bytes& der);
CrlPtr CrlFromPem(const std::string& pem);

// The engine's secret key file: Base64 of the PKCS#1 RSAPrivateKey DER (what
// d2i_PrivateKey(EVP_PKEY_RSA, ...) reads), no password. wrap_width 0 writes one line without a line
// end; otherwise lines of wrap_width characters, each ended by eol.
Bytes PrivateKeyDer(EVP_PKEY* key);
std::string KeyFileText(EVP_PKEY* key, size_t wrap_width = 64, Eol eol = Eol::kLf);
// Reads such a text back the way the engine does: drop CR and LF, Base64-decode, d2i_PrivateKey.
PkeyPtr KeyFromFileText(const std::string& text);

void WriteFile(const std::string& path, const Bytes& data);
void WriteFile(const std::string& path, const std::string& text);
void WriteCert(const std::string& path, const X509* cert, CertFormat format = CertFormat::kDer);
void WriteCrl(const std::string& path, const X509_CRL* crl, CertFormat format = CertFormat::kDer);
void WriteKeyFile(const std::string& path, EVP_PKEY* key, size_t wrap_width = 64, Eol eol = Eol::kLf);

// ---- sandbox ---------------------------------------------------------------------------------

struct SandboxUserSpec {
  std::string name;              // file names <name>.key, <name>.cer; also the common name
  int key_bits = 1024;
  Bytes serial = {};             // empty: the sandbox's next serial (0x1000, 0x1001, ...)
};

struct SandboxOptions {
  std::vector<SandboxUserSpec> users;
  int ca_key_bits = 1024;
  std::string ca_name = "zk_mint Test CA";
  // Keys from PooledRsaKey (labels "ca" and "user:<name>"): distinct within a sandbox, shared with
  // other sandboxes of the process that use the same names. false: fresh keys every time.
  bool pooled_keys = true;
  CertFormat cert_format = CertFormat::kDer;  // user, abonent and CA certificate files
  size_t key_wrap_width = 64;
  Eol key_eol = Eol::kLf;
  bool write_crl = true;          // crl/ca.crl (DER), revoking the serials below
  std::vector<Bytes> revoked;
};

struct SandboxUser {
  std::string name;
  std::string uid;               // SerialUid of the certificate
  Bytes serial;
  std::string key_path;          // <root>/<name>.key
  std::string cert_path;         // <root>/<name>.cer
  std::string abonent_cert_path; // <root>/abonents/<name>.cer
  PkeyPtr key;
  X509Ptr cert;
};

// Lays out <root>/ (created if missing) with one CA and the users:
//   <root>/<name>.key, <root>/<name>.cer   each user's secret key file and certificate
//   <root>/abonents/<name>.cer             every user's certificate
//   <root>/ca/ca.cer                       the CA certificate
//   <root>/crl/ca.crl                      the CA's CRL (when write_crl)
class Sandbox {
 public:
  Sandbox(const std::string& root, const SandboxOptions& options);

  const std::string& root() const { return root_; }
  const std::string& abonents_dir() const { return abonents_dir_; }
  const std::string& ca_dir() const { return ca_dir_; }
  const std::string& crl_dir() const { return crl_dir_; }
  const std::string& ca_cert_path() const { return ca_cert_path_; }
  const std::string& crl_path() const { return crl_path_; }  // empty without a CRL
  EVP_PKEY* ca_key() const { return ca_key_.get(); }
  X509* ca_cert() const { return ca_cert_.get(); }
  const std::vector<SandboxUser>& users() const { return users_; }
  const SandboxUser& user(const std::string& name) const;  // throws Error when unknown

  // The next unused serial of this sandbox (each call consumes one).
  Bytes NextSerial();
  // A certificate for key issued by the sandbox CA with spec (spec.serial used as given).
  X509Ptr Issue(const CertSpec& spec, EVP_PKEY* key) const;
  // count certificates for one shared key, serials from NextSerial, written to
  // <abonents>/a<UID>.cer; returns their UIDs in order. Signing dominates: 10,000 certificates
  // take about 3 s with a 1024-bit CA key, 5 s with a 2048-bit one.
  std::vector<std::string> AddAbonents(size_t count, EVP_PKEY* shared_key);
  // Replaces <root>/crl/ca.crl with a CRL of the sandbox CA; returns its path.
  std::string WriteCrlFile(const CrlSpec& spec);

 private:
  void MakeCa(const SandboxOptions& options);
  void AddUser(const SandboxUserSpec& spec, const SandboxOptions& options);

  std::string root_, abonents_dir_, ca_dir_, crl_dir_, ca_cert_path_, crl_path_;
  CertFormat cert_format_;
  uint32_t next_serial_ = 0x1000;
  PkeyPtr ca_key_;
  X509Ptr ca_cert_;
  std::vector<SandboxUser> users_;
};

}  // namespace zk::osslkit
