// The certificate stock on disk: correspondents' certificates ("c<N>.cer" in the abonents
// directory) and CRLs ("c<N>.crl" in the CRL directory, superseded ones renamed to ".old").
#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/ossl_dll.h"
#include "engines/openssl/ossl_locks.h"
#include "frame/fileutils.h"
#include "frame/publish.h"
#include "platform/platform.h"

namespace zk::ossl {

namespace {

bool UsableDir(const std::string& Dir) { return !Dir.empty() && DirectoryExists(Dir); }

// One directory however its separators are written; case is ignored, so at worst a list that did
// not need it is reloaded.
std::string DirectoryKey(const std::string& Dir) {
  std::string key;
  for (char c : UpperUID(Dir)) {
    if (c == '\\') c = '/';
    if (c != '/' || key.empty() || key.back() != '/') key += c;
  }
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

std::vector<std::string> FilesOf(const std::string& Dir, const char* Ext) {
  std::vector<std::string> files;
  FindFilesByExtension(Dir, Ext, files, false);
  return files;
}

// Dir + "c<N>." + Ext with the next free N, or empty when the directory cannot be listed.
std::string NextNumberedFile(const std::string& Dir, const std::string& Ext) {
  const int32_t number = NextNumberInMask(Dir, "c*." + Ext);
  if (number <= 0) return std::string();
  return IncludeDirDelimiter(Dir) + "c" + std::to_string(number) + "." + Ext;
}

std::string WithExtension(const std::string& Path, const std::string& Ext) {
  const size_t dot = Path.find_last_of('.');
  const size_t separator = Path.find_last_of("\\/");
  const bool hasExtension = dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return (hasExtension ? Path.substr(0, dot) : Path) + "." + Ext;
}

bool MoveOrCopy(const std::string& From, const std::string& To) {
  if (platform::MoveFileTo(From, To)) return true;
  // Across file systems a move is a copy followed by removal.
  if (!CopyFileByStreams(From, To)) return false;
  platform::RemoveFile(From);
  return true;
}

}  // namespace

std::vector<std::string> TOpenSSL_DLL::AbonentFilesOf(const std::string& UID) {
  std::vector<std::string> files;
  for (const std::string& file : FilesOf(settings_.AbonentsDir, "cer")) {
    X509Ptr cert;
    if (LoadCertFile(file, cert) == kOk && UpperUID(CertUID(cert.get())) == UpperUID(UID)) files.push_back(file);
  }
  return files;
}

bool TOpenSSL_DLL::DeleteAbonentFiles(const std::string& UID) {
  bool all = true;
  for (const std::string& file : AbonentFilesOf(UID)) all = platform::RemoveFile(file) && all;
  return all;
}

int32_t TOpenSSL_DLL::StoreAbonentCert(X509Cert* Cert, const std::string& UID) {
  SectionLock hold(OSSLStoreLock());
  if (!UsableDir(settings_.AbonentsDir)) return kErrBadAbonentsDir;
  const std::vector<uint8_t> der = CertToDer(Cert);
  if (der.empty()) return kErrCertFileFormat;
  model_.DropAbonents();
  const std::string target = NextNumberedFile(settings_.AbonentsDir, "cer");
  if (target.empty()) return kErrBadAbonentsDir;
  // The certificates it replaces serve until the new file is in place.
  std::vector<RetiredFile> retired;
  for (const std::string& file : AbonentFilesOf(UID)) retired.push_back({file, ""});
  return PublishFile(target, der.data(), der.size(), retired, false) ? kOk : kErrWriteFile;
}

int32_t TOpenSSL_DLL::UpdateAbonent(const std::string& UID) {
  SectionLock hold(OSSLStoreLock());
  // The list is complete before one entry is replaced, or the rest of the directory would be lost.
  model_.InitPublicKeyObjects(settings_);
  for (const std::string& file : FilesOf(settings_.AbonentsDir, "cer")) {
    X509Ptr cert;
    if (LoadCertFile(file, cert) != kOk || UpperUID(CertUID(cert.get())) != UpperUID(UID)) continue;
    model_.PutAbonent(UID, std::move(cert));
    return kOk;
  }
  return kErrNoCertForUid;
}

int32_t TOpenSSL_DLL::RemoveAbonent(const std::string& UID) {
  SectionLock hold(OSSLStoreLock());
  if (!UsableDir(settings_.AbonentsDir)) return kErrBadAbonentsDir;
  // A certificate that could not be deleted still serves: the removal failed.
  const bool removed = DeleteAbonentFiles(UID);
  model_.DropAbonents();
  return removed ? kOk : kErrFileIo;
}

void TOpenSSL_DLL::RetireCrlsOfIssuer(X509Crl* Crl, const std::string& Keep) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  for (const std::string& file : FilesOf(settings_.CRLDir, "crl")) {
    CrlPtr old;
    if (UpperUID(file) == UpperUID(Keep) || LoadCrlFile(file, old) != kOk) continue;
    if (api.X509_NAME_cmp(api.X509_CRL_get_issuer(old.get()), api.X509_CRL_get_issuer(Crl)) != 0) continue;
    const std::string retired = WithExtension(file, "old");
    platform::RemoveFile(retired);
    platform::MoveFileTo(file, retired);
  }
}

int32_t TOpenSSL_DLL::IncludeCrlFile(const std::string& FileName, X509Crl* Crl) {
  SectionLock hold(OSSLStoreLock());
  if (!UsableDir(settings_.CRLDir)) return kErrNoCrlDir;
  model_.InitPublicKeyObjects(settings_);
  // A CA directory that exists but holds no issuer of this CRL is the CRL's failure (-57).
  if (!UsableDir(settings_.CADir)) return kErrNoCaDir;
  if (!model_.CrlSignedByCa(Crl)) return kErrCrlSignature;
  RetireCrlsOfIssuer(Crl, FileName);
  const std::string target = NextNumberedFile(settings_.CRLDir, "crl");
  if (target.empty() || !MoveOrCopy(FileName, target)) return kErrWriteFile;
  model_.DropCrls();
  return kOk;
}

void TOpenSSL_DLL::DropAbonentsIfDir(const std::string& Dir) {
  SectionLock hold(OSSLStoreLock());
  if (DirectoryKey(settings_.AbonentsDir) == DirectoryKey(Dir)) model_.DropAbonents();
}

void TOpenSSL_DLL::DropCrlsIfDir(const std::string& Dir) {
  SectionLock hold(OSSLStoreLock());
  if (DirectoryKey(settings_.CRLDir) == DirectoryKey(Dir)) model_.DropCrls();
}

}  // namespace zk::ossl
