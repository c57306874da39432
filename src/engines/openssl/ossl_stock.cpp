// The certificate stock on disk: correspondents' certificates ("c<N>.cer" in the abonents
// directory) and CRLs ("c<N>.crl" in the CRL directory, superseded ones renamed to ".old").
//
// Every change is published all or nothing (frame/publish.h), so a failure leaves the previous
// certificates and lists serving. Directories are read without the binding's store lock, which
// guards only the in-memory model; one change of the stock at a time.
#include <mutex>

#include "engines/openssl/ossl_codes.h"
#include "engines/openssl/ossl_dll.h"
#include "engines/openssl/ossl_locks.h"
#include "frame/fileutils.h"
#include "frame/keydirectory.h"
#include "frame/publish.h"
#include "platform/platform.h"

namespace zk::ossl {

namespace {

// The bound the CRL reader applies: a larger file was never taken as a list.
constexpr size_t kMaxCrlFileBytes = 64u << 20;

std::mutex& StockChangeLock() {
  static std::mutex lock;
  return lock;
}

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

// The abonents directory: "c<N>.cer" files, UIDs compared ignoring case.
const TKeyDirectoryFiles& AbonentFiles() {
  static const TKeyDirectoryFiles files([] {
    KeyDirectoryLayout layout;
    layout.Ext = "cer";
    layout.NumberedPrefix = "c";
    layout.IgnoreCase = true;
    return layout;
  }());
  return files;
}

std::vector<std::string> CertFilesOf(const std::string& Dir, const std::string& UID) {
  std::vector<std::string> found;
  for (const std::string& file : AbonentFiles().ListFiles(Dir)) {
    X509Ptr cert;
    if (LoadCertFile(file, cert) == kOk && UpperUID(CertUID(cert.get())) == UpperUID(UID)) found.push_back(file);
  }
  return found;
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

// True when a CA certificate of the directory whose subject is the CRL's issuer verifies it.
bool SignedByCaIn(const std::string& CADir, X509Crl* Crl) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  const X509Name* issuer = api.X509_CRL_get_issuer(Crl);
  bool signedByCa = false;
  for (const std::string& file : FilesOf(CADir, "cer")) {
    X509Ptr ca;
    if (issuer == nullptr || LoadCertFile(file, ca) != kOk) continue;
    if (api.X509_NAME_cmp(api.X509_get_subject_name(ca.get()), issuer) != 0) continue;
    PkeyPtr key(api.X509_get_pubkey(ca.get()));
    if (key && api.X509_CRL_verify(Crl, key.get()) > 0) {
      signedByCa = true;
      break;
    }
  }
  api.ERR_clear_error();
  return signedByCa;
}

// The CRLs of the directory by the same issuer, each to be renamed to ".old".
std::vector<RetiredFile> ListsOfIssuer(const std::string& CRLDir, X509Crl* Crl, const std::string& Keep) {
  const OpenSSLApi& api = TOpenSSLLibrary::Api();
  std::vector<RetiredFile> retired;
  for (const std::string& file : FilesOf(CRLDir, "crl")) {
    CrlPtr old;
    if (UpperUID(file) == UpperUID(Keep) || LoadCrlFile(file, old) != kOk) continue;
    if (api.X509_NAME_cmp(api.X509_CRL_get_issuer(old.get()), api.X509_CRL_get_issuer(Crl)) != 0) continue;
    retired.push_back(RetiredFile{file, WithExtension(file, "old")});
  }
  return retired;
}

}  // namespace

int32_t TOpenSSL_DLL::StoreAbonentCert(X509Cert* Cert, const std::string& UID) {
  std::lock_guard<std::mutex> change(StockChangeLock());
  const std::string& dir = settings_.AbonentsDir;
  if (!UsableDir(dir)) return kErrBadAbonentsDir;
  const std::vector<uint8_t> der = CertToDer(Cert);
  if (der.empty()) return kErrCertFileFormat;
  std::string written;
  const KeyDirResult result = AbonentFiles().Publish(dir, UID, der.data(), der.size(), CertFilesOf(dir, UID), written);
  if (result != KeyDirResult::Ok) return result == KeyDirResult::NoDirectory ? kErrBadAbonentsDir : kErrWriteFile;
  SectionLock hold(storeLock_);
  model_.DropAbonents();
  return kOk;
}

int32_t TOpenSSL_DLL::UpdateAbonent(const std::string& UID) {
  std::vector<std::string> files;
  {
    std::lock_guard<std::mutex> change(StockChangeLock());
    files = CertFilesOf(settings_.AbonentsDir, UID);
  }
  X509Ptr cert;
  if (files.empty() || LoadCertFile(files.front(), cert) != kOk) return kErrNoCertForUid;
  SectionLock hold(storeLock_);
  // The list is complete before one entry is replaced, or the rest of the directory would be lost.
  model_.InitPublicKeyObjects(settings_);
  model_.PutAbonent(UID, std::move(cert));
  return kOk;
}

int32_t TOpenSSL_DLL::RemoveAbonent(const std::string& UID) {
  std::lock_guard<std::mutex> change(StockChangeLock());
  if (!UsableDir(settings_.AbonentsDir)) return kErrBadAbonentsDir;
  if (!RemoveFilesTogether(CertFilesOf(settings_.AbonentsDir, UID))) return kErrWriteFile;
  SectionLock hold(storeLock_);
  model_.DropAbonents();
  return kOk;
}

int32_t TOpenSSL_DLL::IncludeCrlFile(const std::string& FileName, X509Crl* Crl) {
  std::lock_guard<std::mutex> change(StockChangeLock());
  if (!UsableDir(settings_.CRLDir)) return kErrNoCrlDir;
  // A CA directory that exists but holds no issuer of this CRL is the CRL's failure (-57).
  if (!UsableDir(settings_.CADir)) return kErrNoCaDir;
  if (!SignedByCaIn(settings_.CADir, Crl)) return kErrCrlSignature;
  std::vector<uint8_t> content;
  if (!platform::ReadWholeFile(FileName, content, kMaxCrlFileBytes)) return kErrCrlIo;
  const std::string target = NextNumberedFile(settings_.CRLDir, "crl");
  if (target.empty() ||
      !PublishFile(target, content.data(), content.size(), ListsOfIssuer(settings_.CRLDir, Crl, FileName), false)) {
    return kErrWriteFile;
  }
  // The list was moved into the directory: the given file goes, unless it was the published one.
  if (UpperUID(FileName) != UpperUID(target)) platform::RemoveFile(FileName);
  SectionLock hold(storeLock_);
  model_.DropCrls();
  return kOk;
}

void TOpenSSL_DLL::DropAbonentsIfDir(const std::string& Dir) {
  SectionLock hold(storeLock_);
  if (DirectoryKey(settings_.AbonentsDir) == DirectoryKey(Dir)) model_.DropAbonents();
}

void TOpenSSL_DLL::DropCrlsIfDir(const std::string& Dir) {
  SectionLock hold(storeLock_);
  if (DirectoryKey(settings_.CRLDir) == DirectoryKey(Dir)) model_.DropCrls();
}

}  // namespace zk::ossl
