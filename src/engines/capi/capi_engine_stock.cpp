// The correspondents' certificates as files of the abonents directory: include, update from the
// directory, remove. A certificate is checked before any file or the model changes, and files
// are replaced through the frame's publish helper, so a failure leaves everything as it was.
#include <cstring>
#include <string>
#include <vector>

#include "engines/capi/capi_engine.h"
#include "frame/fileutils.h"
#include "frame/publish.h"
#include "frame/textrules.h"
#include "platform/platform.h"

namespace zk {

using namespace capi;

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) { return UpperCase(a) == UpperCase(b); }

// The .cer files of the directory (recursive) whose certificate's UID satisfies Match; files that
// are no certificate are passed over, a failure of the toolkit ends the search with its code.
template <class Match>
int32_t CertificateFiles(TCryptoAPI20_DLL& Binding, const TVerificationSettings& S, Match&& match,
                         std::vector<std::string>& Matching) {
  std::vector<std::string> files;
  FindFilesByExtension(S.AbonentDir, "cer", files, true);
  for (const auto& file : files) {
    TCertRef cert;
    const int32_t status = Binding.ReadCertificateFile(file, cert);
    if (status != 0 && status != kErrReadCertificate) return status;
    if (cert && match(Binding.GetUIDFromCertContext(cert.Get(), S.UIDLocationOID))) Matching.push_back(file);
  }
  return 0;
}

// UID.cer, or UID<N>.cer with the smallest free N.
std::string FreeCertificateName(const std::string& Dir, const std::string& UID) {
  std::string name = Dir + UID + ".cer";
  for (int n = 0; platform::PathExists(name); ++n) name = Dir + UID + std::to_string(n) + ".cer";
  return name;
}

}  // namespace

int32_t TCryptoAPI20Engine::OwnUID(std::string& UID) {
  char own[256] = {};
  const int32_t status = GetCurrentUID(own);
  UID = own;
  return status;
}

int32_t TCryptoAPI20Engine::InternalIncludePublicKey(TCryptoAPI20_DLL& Binding, TCertRef& Cert,
                                                     const std::string& Name, const TVerificationSettings& S) {
  return Capture("TCryptoCEngine.InternalIncludePublicKey: ", kErrException, [&]() -> int32_t {
    if (int32_t status = Binding.CheckNewCertificate(Cert.Get(), S)) return status;
    return Binding.IncludeCertificate(Cert.Get(), Name, S);
  });
}

int32_t TCryptoAPI20Engine::IncludePublicKey(const char* FileName) {
  return Capture("TCryptoCEngine.IncludePublicKey: ", kErrException, [&]() -> int32_t {
    if (ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trim(ReadSetting(kUserCertFile)).empty()) return kErrNoUserCert;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    const std::string file = ExpandRootMacro(FileName != nullptr ? FileName : "");
    std::vector<uint8_t> bytes;
    if (file.empty() || !platform::IsFile(file) || !platform::ReadWholeFile(file, bytes, kMaxCertificateFile))
      return kErrReadCertificate;
    TCertRef cert;
    if (int32_t status = binding->ReadCertificate(bytes, cert)) return status;
    const TVerificationSettings s = Settings();
    const std::string uid = binding->GetUIDFromCertContext(cert.Get(), s.UIDLocationOID);
    if (uid.empty()) return kErrNoOwnUID;
    std::string own;
    if (int32_t status = OwnUID(own)) return status;
    // Taking a namesake of the user in would put a foreign certificate in place of the user's own.
    if (SameIgnoringCase(uid, own)) return kErrOwnUIDIncluded;
    if (int32_t status = binding->CheckNewCertificate(cert.Get(), s)) return status;
    if (s.AbonentDir == "MY") return binding->IncludeCertificate(cert.Get(), file, s);
    // The UID comes from the certificate: it names a file only when it cannot leave the directory.
    if (!IsPlainFileName(uid) || !DirectoryExists(s.AbonentDir)) return kErrWriteCertificate;
    const std::string dir = IncludeDirDelimiter(s.AbonentDir);
    const std::string target = FreeCertificateName(dir, uid);
    std::vector<std::string> olds;
    const auto sameUid = [&](const std::string& u) { return SameIgnoringCase(u, uid); };
    if (int32_t status = CertificateFiles(*binding, s, sameUid, olds)) return status;
    std::vector<RetiredFile> retired;
    for (const auto& old : olds) retired.push_back({old, old.substr(0, old.size() - 4) + ".old"});
    // The model first: a toolkit failure there leaves the files untouched; a failed publish
    // drops the changed model, which the next operation builds again from the files.
    if (int32_t status = binding->IncludeCertificate(cert.Get(), target, s)) return status;
    if (!PublishFile(target, bytes.data(), bytes.size(), retired, false)) {
      binding->DropStores();
      return kErrWriteCertificate;
    }
    return 0;
  });
}

int32_t TCryptoAPI20Engine::UpdateCertificateCash(const char* UID) {
  return Capture("TCryptoCEngine.UpdateCertificateCash: ", kErrException, [&]() -> int32_t {
    if (UID == nullptr || *UID == '\0' || ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trim(ReadSetting(kUserCertFile)).empty()) return kErrNoUserCertFile;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    const std::string uid(UID, strnlen(UID, static_cast<size_t>(GetMaxUIDLength())));
    std::string own;
    if (int32_t status = OwnUID(own)) return status;
    if (SameIgnoringCase(uid, own)) {
      ClearCash();
      return 0;
    }
    const TVerificationSettings s = Settings();
    if (s.AbonentDir == "MY") return 0;
    if (!DirectoryExists(s.AbonentDir)) return kErrFile;
    // UID.cer first (only when the UID is a plain file name), then every file of the directory.
    std::vector<std::string> candidates;
    if (IsPlainFileName(uid)) candidates.push_back(IncludeDirDelimiter(s.AbonentDir) + uid + ".cer");
    FindFilesByExtension(s.AbonentDir, "cer", candidates, true);
    for (const auto& file : candidates) {
      TCertRef cert;
      const int32_t status = binding->ReadCertificateFile(file, cert);
      if (status != 0 && status != kErrReadCertificate) return status;
      if (cert && binding->GetUIDFromCertContext(cert.Get(), s.UIDLocationOID) == uid)
        return InternalIncludePublicKey(*binding, cert, file, s);
    }
    return kErrUnknownUID;
  });
}

int32_t TCryptoAPI20Engine::RemoveCertificate(const char* UID) {
  return Capture("TCryptoCEngine.RemoveCertificate: ", kErrException, [&]() -> int32_t {
    if (UID == nullptr || *UID == '\0') return kErrBadArgument;
    if (ReadSetting(kUIDLocation).empty()) return kErrNoUIDLocation;
    if (Trim(ReadSetting(kUserCertFile)).empty()) return kErrNoUserCertFile;
    TCryptoAPI20_DLL* binding = nullptr;
    if (int32_t status = GetCryptoAPI(binding)) return status;
    const std::string uid(UID, strnlen(UID, static_cast<size_t>(GetMaxUIDLength())));
    std::string own;
    if (int32_t status = OwnUID(own)) return status;
    if (SameIgnoringCase(uid, own)) return kErrRemoveOwn;
    const TVerificationSettings s = Settings();
    if (s.AbonentDir != "MY") {
      std::vector<std::string> files;
      if (int32_t status = CertificateFiles(*binding, s, [&](const std::string& u) { return u == uid; }, files))
        return status;
      if (!RemoveFilesTogether(files)) return kErrFile;
    }
    return binding->RemoveAbonentFromStore(uid, s);
  });
}

}  // namespace zk
