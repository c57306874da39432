#include "frame/strpair.h"

namespace zk {

TStringPair& TStringPairList::Add() {
  items_.push_back(std::make_unique<TStringPair>());
  return *items_.back();
}

int TStringPairList::IndexOf(const std::string& key) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i]->Second == key) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace zk
