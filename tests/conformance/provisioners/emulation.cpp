// The emulation engine: no keys, no cryptography; every user is anonymous.
#include "support/provisioner.h"

namespace {

class EmulationProvisioner : public zk::suite::Provisioner {
 public:
  std::string EngineType() const override { return "Emulation/1.0"; }
  zk::suite::Capabilities Caps() const override {
    zk::suite::Capabilities caps;
    caps.signatures = false;
    caps.encryption = false;
    caps.maxRecipients = 100;
    caps.authenticatedEnvelope = false;
    caps.sender = zk::suite::SenderReport::kEmpty;
    return caps;
  }
  void Provision(const std::string& root) override { root_ = root; }
  void Configure(ZkEngine, const std::string&) const override {}
  std::string Uid(const std::string&) const override { return std::string(); }
  std::vector<std::string> AddLargestCorrespondents(int count) override {
    std::vector<std::string> uids;
    for (int i = 0; i < count; ++i) uids.push_back(std::string(250, 'E') + std::to_string(1000 + i));
    return uids;
  }
  std::vector<std::string> UserFiles(const std::string&) const override { return {}; }
};

}  // namespace

ZK_SUITE_PROVISIONER(Emulation, EmulationProvisioner);
