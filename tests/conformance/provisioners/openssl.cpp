// The OpenSSL engine over the real libcrypto: RSA keys and certificates of one CA made with
// osslkit; alice, bob and carol find each other's certificates in the correspondents' directory,
// the stranger's certificate is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "osslkit.h"
#include "support/calls.h"
#include "support/provisioner.h"

namespace {

namespace fs = std::filesystem;
namespace kit = zk::osslkit;
using zk::suite::Capabilities;

class OpenSSLProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "OpenSSL"; }
  Capabilities Caps() const override {
    Capabilities caps;
    // Room for one recipient with the largest key beside another: GetMaxEncodeAddition bounds it.
    caps.maxRecipients = 2;
    caps.sender = zk::suite::SenderReport::kEmpty;
    caps.keyManagement = true;
    caps.crls = true;
    caps.methodParam = "Encrypt Method";
    caps.methods = {"RC4", "RC2_ECB", "RC2_CBC", "RC5_ECB", "RC5_CBC"};
    // A cut-short signature: unknown or broken structure, or OpenSSL's own code for a part that
    // does not decrypt.
    caps.truncatedSignatureCode = [](int32_t code) {
      return code == -24 || code == -30 || code == -31 || code == -32 || code == -59 || code == -60 || code > 0;
    };
    caps.truncatedEnvelopeCode = [](int32_t code) {
      return code == -11 || code == -12 || (code >= -39 && code <= -35);
    };
    return caps;
  }

  void Provision(const std::string& root) override {
    root_ = root;
    kit::SandboxOptions options;
    options.users = {{"alice", 1024}, {"bob", 2048}, {"carol", 1024}, {"stranger", 1024}};
    box_ = std::make_unique<kit::Sandbox>(root, options);
    fs::remove(box_->user("stranger").abonent_cert_path);
    fs::create_directories(fs::path(root) / "stranger_certs");
  }

  void Configure(ZkEngine engine, const std::string& user) const override {
    const kit::SandboxUser& who = box_->user(user);
    zk::suite::ConfigureByName(engine, "User Secret key", who.key_path);
    zk::suite::ConfigureByName(engine, "User Certificate", who.cert_path);
    zk::suite::ConfigureByName(engine, "Abonents dir", box_->abonents_dir());
    zk::suite::ConfigureByName(engine, "CA dir", box_->ca_dir());
    zk::suite::ConfigureByName(engine, "CRL dir", box_->crl_dir());
    zk::suite::ConfigureByName(engine, "RND file", RandFile());
  }

  std::string Uid(const std::string& user) const override { return box_->user(user).uid; }

  // 4096-bit keys (an 8192-bit one takes too long to make per run) and 15-byte serials, whose
  // 30 hexadecimal digits are the longest UID the engine names.
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) {
      kit::CertSpec spec;
      spec.serial = kit::Bytes(15, static_cast<uint8_t>(0x71 + i));
      spec.common_name = "Largest " + std::to_string(i);
      kit::PkeyPtr key = kit::PooledRsaKey(4096, "largest");
      kit::X509Ptr cert = box_->Issue(spec, key.get());
      uids.push_back(kit::SerialUid(cert.get()));
      kit::WriteCert((fs::path(box_->abonents_dir()) / ("big" + std::to_string(i) + ".cer")).string(), cert.get());
    }
    return uids;
  }

  std::string PublicKeyFile(const std::string& user) const override { return box_->user(user).cert_path; }
  std::string CrlFile() const override {
    const std::string path = (fs::path(root_) / "fresh.crl").string();
    kit::WriteCrl(path, kit::MakeCrl(kit::CrlSpec(), box_->ca_cert(), box_->ca_key()).get());
    return path;
  }

  // The random seed file is rewritten by design.
  std::vector<std::string> KeptFiles() const override {
    std::vector<std::string> files = Provisioner::KeptFiles();
    files.erase(std::remove(files.begin(), files.end(), RandFile()), files.end());
    return files;
  }
  std::vector<std::string> UserFiles(const std::string& user) const override {
    return {box_->user(user).key_path, box_->user(user).cert_path};
  }

 private:
  std::string RandFile() const { return (fs::path(root_) / "rand.seed").string(); }
  std::unique_ptr<kit::Sandbox> box_;
};

}  // namespace

ZK_SUITE_PROVISIONER(OpenSSL, OpenSSLProvisioner);
