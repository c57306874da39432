#include <filesystem>

#include "internal.h"

namespace zk::osslkit {
namespace {

std::string Join(const std::string& dir, const std::string& name) {
  return (std::filesystem::path(dir) / name).string();
}

std::string MakeDir(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) throw Error("cannot create directory " + path + ": " + ec.message());
  return path;
}

PkeyPtr SandboxKey(const SandboxOptions& options, int bits, const std::string& label) {
  return options.pooled_keys ? PooledRsaKey(bits, label) : GenerateRsaKey(bits);
}

}  // namespace

Sandbox::Sandbox(const std::string& root, const SandboxOptions& options)
    : root_(MakeDir(root)),
      abonents_dir_(MakeDir(Join(root, "abonents"))),
      ca_dir_(MakeDir(Join(root, "ca"))),
      crl_dir_(MakeDir(Join(root, "crl"))),
      cert_format_(options.cert_format) {
  MakeCa(options);
  for (const SandboxUserSpec& spec : options.users) AddUser(spec, options);
  if (options.write_crl) {
    CrlSpec crl;
    crl.revoked = options.revoked;
    WriteCrlFile(crl);
  }
}

void Sandbox::MakeCa(const SandboxOptions& options) {
  ca_key_ = SandboxKey(options, options.ca_key_bits, "ca");
  ca_cert_ = MakeCaCert(ca_key_.get(), options.ca_name);
  ca_cert_path_ = Join(ca_dir_, "ca.cer");
  WriteCert(ca_cert_path_, ca_cert_.get(), cert_format_);
}

void Sandbox::AddUser(const SandboxUserSpec& spec, const SandboxOptions& options) {
  SandboxUser user;
  user.name = spec.name;
  user.serial = spec.serial.empty() ? NextSerial() : spec.serial;
  user.key = SandboxKey(options, spec.key_bits, "user:" + spec.name);
  CertSpec cert;
  cert.serial = user.serial;
  cert.common_name = spec.name;
  user.cert = Issue(cert, user.key.get());
  user.uid = SerialUid(user.cert.get());
  user.key_path = Join(root_, spec.name + ".key");
  user.cert_path = Join(root_, spec.name + ".cer");
  user.abonent_cert_path = Join(abonents_dir_, spec.name + ".cer");
  WriteKeyFile(user.key_path, user.key.get(), options.key_wrap_width, options.key_eol);
  WriteCert(user.cert_path, user.cert.get(), cert_format_);
  WriteCert(user.abonent_cert_path, user.cert.get(), cert_format_);
  users_.push_back(std::move(user));
}

const SandboxUser& Sandbox::user(const std::string& name) const {
  for (const SandboxUser& u : users_)
    if (u.name == name) return u;
  throw Error("sandbox has no user " + name);
}

Bytes Sandbox::NextSerial() {
  Bytes serial;
  for (uint32_t v = next_serial_++; v != 0; v >>= 8) serial.insert(serial.begin(), uint8_t(v));
  if (serial[0] >= 0x80) serial.insert(serial.begin(), 0);  // keep the number positive
  return serial;
}

X509Ptr Sandbox::Issue(const CertSpec& spec, EVP_PKEY* key) const {
  return MakeCert(spec, key, ca_cert_.get(), ca_key_.get());
}

std::vector<std::string> Sandbox::AddAbonents(size_t count, EVP_PKEY* shared_key) {
  std::vector<std::string> uids;
  uids.reserve(count);
  X509Ptr first;
  for (size_t i = 0; i < count; ++i) {
    CertSpec spec;
    spec.serial = NextSerial();
    spec.common_name = "Abonent " + std::to_string(i + 1);
    X509Ptr cert = first ? detail::MakeCertCopyingKey(spec, first.get(), ca_cert_.get(), ca_key_.get())
                         : Issue(spec, shared_key);
    uids.push_back(SerialUid(cert.get()));
    WriteCert(Join(abonents_dir_, "a" + uids.back() + ".cer"), cert.get(), cert_format_);
    if (!first) first = std::move(cert);
  }
  return uids;
}

std::string Sandbox::WriteCrlFile(const CrlSpec& spec) {
  crl_path_ = Join(crl_dir_, "ca.crl");
  WriteCrl(crl_path_, MakeCrl(spec, ca_cert_.get(), ca_key_.get()).get(), CertFormat::kDer);
  return crl_path_;
}

}  // namespace zk::osslkit
