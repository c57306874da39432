#include "support/provisioner.h"

#include <filesystem>

namespace zk::suite {

std::vector<std::string> Provisioner::KeptFiles() const {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path().string());
  }
  return files;
}

std::vector<ProvisionerEntry>& Provisioners() {
  static std::vector<ProvisionerEntry> entries;
  return entries;
}

bool RegisterProvisioner(const std::string& name, ProvisionerFactory make) {
  Provisioners().push_back({name, std::move(make)});
  return true;
}

}  // namespace zk::suite
