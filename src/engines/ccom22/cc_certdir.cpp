// The certificate directory: one level per character of a UID after its dot ("AB.123" lives in
// AB\@\1\2\3.crt), and the caches that follow it.
#include "engines/ccom22/cc_codes.h"
#include "engines/ccom22/cc_engine.h"
#include "engines/ccom22/cc_keycache.h"
#include "engines/ccom22/cc_state.h"
#include "frame/fileutils.h"
#include "frame/publish.h"
#include "platform/platform.h"

namespace zk {

using namespace ccom22;

namespace {

// The directories a certificate path needs, outermost first: everything up to its last "\".
bool MakeDirectories(const std::string& CertDir, const std::string& Target) {
  for (size_t at = Target.find('\\', CertDir.size()); at != std::string::npos; at = Target.find('\\', at + 1)) {
    const std::string dir = Target.substr(0, at);
    if (!platform::IsDirectory(dir) && !platform::MakeDirectory(dir)) return false;
  }
  return true;
}

std::string WithExtension(const std::string& Path, const char* Ext) { return Path.substr(0, Path.size() - 3) + Ext; }

}  // namespace

// The file becomes the certificate at Target, and the certificate it replaces is kept as ".old".
// Each file is published whole before anything else changes, so a failure at any step leaves a
// serving certificate and the file to include in place.
int32_t TCcom22Engine::PlaceCertificate(const std::string& File, const std::string& Target) {
  std::vector<uint8_t> fresh, old;
  if (!platform::ReadWholeFile(File, fresh, kMaxKeyFile)) return kErrFiles;
  if (platform::IsFile(Target)) {
    if (!platform::ReadWholeFile(Target, old, kMaxKeyFile)) return kErrFiles;
    if (!PublishFile(WithExtension(Target, "old"), old.data(), old.size(), {}, true)) return kErrFiles;
  }
  if (!PublishFile(Target, fresh.data(), fresh.size(), {}, true)) return kErrFiles;
  // Included means moved: the file leaves the place it came from.
  platform::RemoveFile(File);
  return kOk;
}

int32_t TCcom22Engine::IncludePublicKey(const char* FileName) {
  return Capture("TCcom22Engine.IncludePublicKey ", kErrEngineException, [&]() -> int32_t {
    Settings s;
    if (int32_t code = ReadSettings(std::string(), s)) return code;
    std::string uid;
    if (int32_t code = FindCurrentUID(uid)) return code;
    if (FileName == nullptr) return kErrNullOrLength;
    SectionLock hold(OperationLock());
    const std::string file = ExpandRootMacro(FileName);
    const std::string owner = binding_->ReadCertificateUID(file);
    if (owner.empty()) return kErrNoOwnerUID;
    const std::string target = CertPathOf(owner);
    if (target.empty()) return kErrNoCertPath;
    if (!MakeDirectories(s.CertDir, target)) return kErrFiles;
    if (int32_t code = PlaceCertificate(file, target)) return code;
    return CacheCertificate(uid, target, target, s.KeyTimeout, s.LastOpTimeout) ? kOk : kErrFiles;
  });
}

int32_t TCcom22Engine::UpdateCertificateCash(const char* UID) {
  return Capture("TCcom22Engine.UpdateCertificateCash: ", kErrEngineException, [&]() -> int32_t {
    Settings s;
    if (int32_t code = ReadSettings(std::string(), s)) return code;
    std::string uid;
    if (int32_t code = FindCurrentUID(uid)) return code;
    if (UID == nullptr) return kErrNullOrLength;
    const std::string path = CertPathOf(UID);
    if (path.empty()) return kErrNoCertPath;
    if (!platform::IsFile(path)) return kErrNoCertFile;
    SectionLock hold(OperationLock());
    return CacheCertificate(uid, path, path, s.KeyTimeout, s.LastOpTimeout) ? kOk : kErrNoCertificate;
  });
}

int32_t TCcom22Engine::RemoveCertificate(const char* UID) {
  return Capture("TCcom22Engine.RemoveCertificate: ", kErrEngineException, [&]() -> int32_t {
    if (UID == nullptr || UID[0] == '\0') return kErrNullOrLength;
    std::string uid;
    if (int32_t code = FindCurrentUID(uid)) return code;
    if (uid == UID) return kErrOwnCertificate;
    const std::string path = CertPathOf(UID);
    if (path.empty()) return kErrNoCertPath;
    SectionLock hold(OperationLock());
    if (!platform::RemoveFile(path)) return kErrDeleteFile;
    UncacheFile(uid, path);
    return kOk;
  });
}

void TCcom22Engine::ClearCash() {
  Capture("TCcom22Engine.ClearCash ", kErrEngineException, [&]() -> int32_t {
    // Secret keys go even when the current user cannot be found any more.
    SectionLock hold(OperationLock());
    ForgetCertificateUIDs();
    if (binding_) {
      FlushKeyCache(*binding_);
    } else {
      TCComDLL binding;
      FlushKeyCache(binding);
    }
    return kOk;
  });
}

}  // namespace zk
