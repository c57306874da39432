// An owning list of string pairs searched by the second string, and the public-key description
// record passed between the certificate functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zk {

struct TStringPair {
  std::string First;   // the identifier
  std::string Second;  // the search key
};

class TStringPairList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TStringPair& Items(int index) { return *items_.at(static_cast<size_t>(index)); }
  const TStringPair& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  // Appends a pair with both strings empty; the caller fills it.
  TStringPair& Add();
  // First pair whose Second equals key exactly, or -1.
  int IndexOf(const std::string& key) const;
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TStringPair>> items_;
};

struct TPubKeyIdentifiers {
  std::string Strings[6];
  int32_t Values[2] = {0, 0};
};

}  // namespace zk
