// Loads the zk_mint library at run time by file name, as a host program does, and resolves the
// 30 exports by name. The one place in tools/ that talks to the OS module loader, so that every
// host here (zkmint, the test hosts) resolves the exports the same way.
#pragma once

#include <string>

#include "zk_mint.h"

// The 30 exports in the order of the public header.
#define ZK_MINT_EXPORT_NAMES(X)                                                                        \
  X(GetCryptoEngineTypes) X(InitCryptoEngine) X(DoneCryptoEngine) X(GetCryptoEngineType)               \
  X(GetMaxCryptoEngineTypeLength) X(GetMaxEncodeAddition) X(GetMaxSignatureLength) X(GetMaxUIDLength)  \
  X(GetMaxCryptoParamNameLength) X(GetMaxCryptoParamValueLength) X(GetMaxErrorStringLength)             \
  X(GetCryptoParamNumber) X(GetCryptoParamName) X(GetCryptoParamValue) X(SetCryptoParamValue)          \
  X(GetEncodeUIDBySignUID) X(GetCryptoErrorString) X(EncodeData) X(DecodeData) X(SignData)             \
  X(VerifyData) X(GetCurrentUserUID) X(SetPasswordRequestFunc) X(IncludePublicKey) X(SetRootPath)      \
  X(SetTMRequestFunc) X(ClearCash) X(UpdateCertificateCash) X(RemoveCertificate) X(IncludeCRL)

namespace zkhost {

// One pointer per export, typed from the public header's declarations.
struct ZkApi {
#define ZK_API_POINTER(name) decltype(&::name) name = nullptr;
  ZK_MINT_EXPORT_NAMES(ZK_API_POINTER)
#undef ZK_API_POINTER
};

// The library's file name on this system: "libzk_mint.so" or "zk_mint.dll".
const char* DefaultLibraryFileName();

// Directory of the running executable with a trailing separator; empty when it cannot be found.
std::string ExecutableDirectory();

// Where the demo's stand-in toolkits lie: beside the executable in a build tree, else the
// "zkmint-demo" folder that an install with the demo puts beside an installed zkmint. With a
// trailing separator.
std::string DemoToolkitDirectory();

// Puts `dir` first among the directories where the zk_mint library looks for toolkits by name:
// the process's PATH on Windows, its Windows-style ";"-separated "Path" variable elsewhere.
bool PrependToolkitSearchPath(const std::string& dir);

// Which library file a host should load: `explicitPath` when given, else the ZK_MINT_LIBRARY
// environment variable when set, else DefaultLibraryFileName() next to the executable.
std::string LocateLibrary(const std::string& explicitPath);


// An opened library with all 30 exports resolved. Opening fails, with a readable reason, when
// the file cannot be loaded or any export is missing; the library stays loaded until Close or
// destruction.
class ZkLibrary {
 public:
  ZkLibrary() = default;
  ~ZkLibrary();
  ZkLibrary(const ZkLibrary&) = delete;
  ZkLibrary& operator=(const ZkLibrary&) = delete;

  bool Open(const std::string& fileName, std::string& error);
  void Close();
  bool IsOpen() const { return module_ != nullptr; }
  const ZkApi& Api() const { return api_; }
  const std::string& FileName() const { return fileName_; }

 private:
  void* module_ = nullptr;
  ZkApi api_;
  std::string fileName_;
};

// Any other module a host loads by file name, such as a stand-in toolkit whose provisioning
// exports the demo and the tests call to make keys.
class HostModule {
 public:
  HostModule() = default;
  ~HostModule();
  HostModule(const HostModule&) = delete;
  HostModule& operator=(const HostModule&) = delete;

  bool Open(const std::string& fileName, std::string& error);
  void Close();
  bool IsOpen() const { return module_ != nullptr; }
  // The export's address, or null when the module is not open or lacks it.
  void* Symbol(const char* name) const;
  template <typename Fn>
  Fn Function(const char* name) const {
    return reinterpret_cast<Fn>(Symbol(name));
  }

 private:
  void* module_ = nullptr;
};

}  // namespace zkhost
