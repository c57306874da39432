// libFuzzer target over the string-pair lists and the algorithm-name lookup the CryptoAPI engines
// build on them. The input is lines: the first is the name asked about, each later one an
// "OID<TAB>name" pair of the system's OID information. The answer must be the name itself, the
// text of its last parentheses, or the OID of the first pair with exactly that name.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engines/capi/capi_dll.h"
#include "engines/capi/capi_engine.h"
#include "frame/strpair.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

// Seeds: names as a host sets them, against a list as the system's OID information fills it.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  const char* const kSeeds[] = {
      "sha1\n1.3.14.3.2.26\tsha1\n1.2.840.113549.2.5\tmd5\n1.2.3\tsha1",
      "Secure Hash (1.3.14.3.2.26)\n1.3.14.3.2.26\tsha1",
      "GOST_R3411\n1.2.643.2.2.9\tGOST R 34.11-94",
  };
  for (int i = 1; i < *argc; ++i) {
    const std::filesystem::path dir = (*argv)[i];
    if ((*argv)[i][0] == '-' || !std::filesystem::is_directory(dir)) continue;
    for (size_t n = 0; n < sizeof kSeeds / sizeof kSeeds[0]; ++n)
      std::ofstream(dir / ("valid_" + std::to_string(n)), std::ios::binary) << kSeeds[n];
    break;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t end = text.find('\n');
  const std::string name = text.substr(0, end);
  zk::TStringPairList info;
  while (end != std::string::npos) {
    const size_t start = end + 1;
    end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t tab = line.find('\t');
    zk::TStringPair& pair = info.Add();
    pair.First = line.substr(0, tab);
    if (tab != std::string::npos) pair.Second = line.substr(tab + 1);
  }
  const int index = info.IndexOf(name);
  Check(index >= -1 && index < info.Count());
  for (int i = 0; i < (index < 0 ? info.Count() : index); ++i) Check(info.Items(i).Second != name);

  const std::string oid = zk::capi::NamedOID(info, name);
  const size_t open = name.rfind('(');
  if (!name.empty() && name.back() == ')' && open != std::string::npos)
    Check(oid == name.substr(open + 1, name.size() - open - 2));
  else
    Check(oid == (index < 0 ? name : info.Items(index).First));
  // The engines' own fixed names go first; whatever else is asked falls to the same lookup.
  using zk::TCryptoAPI20Engine;
  for (const std::string& fixed : {TCryptoAPI20Engine::HashOID(name), TCryptoAPI20Engine::EncryptOID(name)})
    Check(fixed == zk::capi::NamedOID(zk::TStringPairList(), name) || fixed.find('.') != std::string::npos);
  TCryptoAPI20Engine::LocationOID(name);
  info.Clear();
  Check(info.Count() == 0 && info.IndexOf(name) == -1);
  return 0;
}
