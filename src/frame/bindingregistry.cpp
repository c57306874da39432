#include "frame/bindingregistry.h"

namespace zk {

std::string BindingKey(std::initializer_list<std::string> Parts) {
  std::string key;
  for (const std::string& part : Parts) {
    key += std::to_string(part.size());
    key += ':';
    key += part;
  }
  return key;
}

}  // namespace zk
