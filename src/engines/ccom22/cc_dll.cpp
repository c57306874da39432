#include "engines/ccom22/cc_dll.h"

#include <cstring>
#include <new>

#include "engines/ccom22/cc_keycache.h"
#include "engines/ccom22/cc_session.h"
#include "frame/errors.h"
#include "frame/fileutils.h"
#include "platform/platform.h"

namespace zk::ccom22 {

TCComDLL::TCComDLL() {
  bool missing = false;
  api_ = ToolkitApi(missing);
  LibLoaded = api_ != nullptr;
  FunctionsPresent = LibLoaded && !missing;
}

TCComDLL::~TCComDLL() = default;

int32_t TCComDLL::Guarded(const std::function<int32_t()>& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  } catch (...) {
    lastException_ = DescribeException(std::current_exception());
    return kErrException;
  }
}

int32_t TCComDLL::CreateContext(const std::string& UID, const TCComSettings& S, const std::string& Cipher,
                                HCCCTX& Ctx) {
  Ctx = api_->InitCryptCtx();
  if (Ctx == nullptr) return kErrNoMemory;
  int32_t status = kOk;
  if (!UID.empty()) {
    status = api_->SetIdentifier(Ctx, UID.c_str());
    if (status == kOk) reinterpret_cast<CC_CTX_HEAD*>(Ctx)->AuthorityLookup = AuthorityLookup();
    if (status == kOk && !S.SecretDir.empty()) status = api_->SetSecretPath(Ctx, S.SecretDir.c_str());
    if (status == kOk && !S.CertDir.empty()) status = api_->SetPublicPath(Ctx, S.CertDir.c_str());
  }
  if (status == kOk) status = api_->SetCipherAlgorithm(Ctx, Cipher.empty() ? "28147" : Cipher.c_str());
  if (status == kOk) status = api_->SetHashAlgorithm(Ctx, S.Hash.empty() ? "34.11" : S.Hash.c_str());
  if (status != kOk) {
    api_->FreeCryptCtx(Ctx);
    Ctx = nullptr;
  }
  return status;
}

int32_t TCComDLL::CheckCertificate(HCCCTX Ctx, const char* Image, bool Verify, int32_t& KeyNumber) {
  CC_CERT_INFO* info = nullptr;
  api_->_CertInfo(Ctx, Image, &info);
  if (info == nullptr) return kErrCertRecord;
  KeyNumber = info->KeyNumber;
  const int32_t status = Verify ? info->Status : kOk;
  api_->FreeCertInfo(info);
  return status;
}

int32_t TCComDLL::SignBuffer(const TCComSettings& S, const uint8_t* Data, size_t Len,
                             std::vector<uint8_t>& Signature) {
  if (int32_t status = RefuseEmpty(S)) return status;
  if (S.UserUID.size() >= kSignerBlockSize) return kErrNullOrLength;
  // The signer block is signed with the data; its bytes after the UID are zeros.
  std::vector<uint8_t> signed_(Len + kSignerBlockSize, 0);
  if (Len > 0) std::memcpy(signed_.data(), Data, Len);
  std::memcpy(signed_.data() + Len, S.UserUID.c_str(), S.UserUID.size());

  TRandomSession random(*this, S.Hardware);
  if (random.Status() != kOk) return random.Status();
  TAuthorityScope authority(S.UserUID);
  TContext ctx(*api_);
  if (int32_t status = CreateContext(S.UserUID, S, S.Cipher, ctx.Handle())) return status;

  SecureBytes cert, secret;
  const char* certPath = api_->GetCertPath(ctx, S.UserUID.c_str());
  if (certPath == nullptr || !FindCachedFile(S.UserUID, certPath, cert)) return kErrNoCertificate;
  int32_t keyNumber = 0;
  if (int32_t status = CheckCertificate(ctx, ImageText(cert), S.VerifyValidity, keyNumber)) return status;
  const char* secretPath = api_->GetSecPath(ctx, keyNumber);
  if (secretPath == nullptr || !FindCachedFile(S.UserUID, secretPath, secret)) return kErrNoSecretKey;
  CC_SEC_INFO* secInfo = nullptr;
  api_->_SecInfo(ctx, ImageText(secret), &secInfo);
  const int32_t secStatus = secInfo != nullptr ? secInfo->Status : kErrCertRecord;
  if (secInfo != nullptr) api_->FreeSecInfo(secInfo);
  if (S.VerifyValidity && secStatus != kOk) return secStatus;

  if (int32_t status = api_->BufferSignInit(ctx, ImageText(secret))) return status;
  for (size_t at = 0; at < signed_.size(); at += kMaxUpdate) {
    const size_t piece = std::min(kMaxUpdate, signed_.size() - at);
    if (int32_t status = api_->BufferSignUpdate(ctx, signed_.data() + at, static_cast<uint16_t>(piece)))
      return status;
  }
  uint8_t* sig = nullptr;
  int32_t sigLen = 0;
  int32_t status = api_->BufferSignFinal(ctx, &sig, &sigLen);
  if (status == kOk && (sig == nullptr || sigLen <= 0 || static_cast<size_t>(sigLen) > kMaxToolkitSignature))
    status = kErrNoMemory;
  if (status == kOk) {
    Signature.assign(signed_.end() - kSignerBlockSize, signed_.end());
    Signature.insert(Signature.end(), sig, sig + sigLen);
  }
  if (sig != nullptr) api_->BufferFree(sig);
  return status;
}

int32_t TCComDLL::VerifyBuffer(const TCComSettings& S, const uint8_t* Data, size_t Len, const uint8_t* Signature,
                               size_t SignatureLen, std::string& SignerUID) {
  if (S.CertDir.empty()) return kErrNoCertDir;
  if (S.SecretDir.empty()) return kErrNoKeyDir;
  if (S.RandomFile.empty()) return kErrNoRandomFile;
  if (SignatureLen <= kSignerBlockSize || SignatureLen > kSignerBlockSize + kMaxToolkitSignature)
    return kErrNullOrLength;
  const size_t uidLen = strnlen(reinterpret_cast<const char*>(Signature), kSignerBlockSize);
  if (uidLen >= kSignerBlockSize) return kErrNullOrLength;
  SignerUID.assign(reinterpret_cast<const char*>(Signature), uidLen);

  std::vector<uint8_t> signed_(Len + kSignerBlockSize);
  if (Len > 0) std::memcpy(signed_.data(), Data, Len);
  std::memcpy(signed_.data() + Len, Signature, kSignerBlockSize);
  // The toolkit is given no length: the signature sits in a zeroed buffer of the largest size.
  std::vector<uint8_t> tail(kMaxToolkitSignature, 0);
  std::memcpy(tail.data(), Signature + kSignerBlockSize, SignatureLen - kSignerBlockSize);

  TRandomSession random(*this, S.Hardware);
  if (random.Status() != kOk) return random.Status();
  TAuthorityScope authority(S.UserUID);
  TContext ctx(*api_);
  if (int32_t status = CreateContext(S.UserUID, S, S.Cipher, ctx.Handle())) return status;
  SecureBytes cert;
  const char* certPath = api_->GetCertPath(ctx, SignerUID.c_str());
  if (certPath == nullptr || certPath[0] == '\0' || !FindCachedFile(S.UserUID, certPath, cert))
    return kErrNoCertificate;
  if (S.VerifyValidity) {
    int32_t keyNumber = 0;
    if (int32_t status = CheckCertificate(ctx, ImageText(cert), true, keyNumber)) return status;
  }
  if (int32_t status = api_->BufferVerifyInit(ctx, ImageText(cert))) return status;
  for (size_t at = 0; at < signed_.size(); at += kMaxUpdate) {
    const size_t piece = std::min(kMaxUpdate, signed_.size() - at);
    if (int32_t status = api_->BufferSignUpdate(ctx, signed_.data() + at, static_cast<uint16_t>(piece)))
      return status;
  }
  return api_->BufferVerifyFinal(ctx, tail.data());
}

std::string TCComDLL::ReadCertificateUID(const std::string& File) {
  SecureBytes image(kMaxKeyFile + 1);
  int32_t size = static_cast<int32_t>(kMaxKeyFile);
  if (!ReadFileToBuffer(File, image.data(), size)) return std::string();
  image.data()[size] = 0;
  TContext ctx(*api_);
  ctx.Handle() = api_->InitCryptCtx();
  if (ctx == nullptr) return std::string();
  CC_CERT_INFO* info = nullptr;
  api_->_CertInfo(ctx, ImageText(image), &info);
  if (info == nullptr) return std::string();
  std::string owner = info->Owner != nullptr ? info->Owner : "";
  api_->FreeCertInfo(info);
  return owner;
}

int32_t TCComDLL::LoadUserKeys(const TCComSettings& S) {
  TKeyCacheLock hold;
  if (DropExpired(S.UserUID, S.KeyTimeout, S.LastOpTimeout).Hit) return kOk;
  // The generator is seeded only when keys are read again, which is when the random file is
  // stirred and written back; a cache hit writes nothing and needs no seeding.
  TRandomPool& pool = RandomPool();
  bool seeded = false;
  if (pool.Loaded) seeded = InitRandom(S.Hardware) == kOk;
  struct FreeAtEnd {
    TCComDLL& binding;
    bool& seeded;
    ~FreeAtEnd() {
      if (seeded) binding.FreeRandom();
    }
  } freeAtEnd{*this, seeded};

  std::vector<std::string> files;
  for (const std::string& dir : {S.CertDir, S.SecretDir}) {
    std::vector<platform::DirEntry> entries;
    if (platform::IsDirectory(dir) && !platform::ListDirectory(dir, entries)) return kErrFileSystem;
  }
  FindFilesByExtension(S.CertDir, "crt", files, true);
  FindFilesByExtension(S.SecretDir, "sec", files, false);
  FindFilesByExtension(S.SecretDir, "aut", files, true);

  if (!pool.Loaded) {
    int32_t size = static_cast<int32_t>(kPoolSize);
    SecureBytes image(kPoolSize);
    if (!ReadFileToBuffer(S.RandomFile, image.data(), size)) return kErrRandomFile;
    pool.Image.Allocate(kPoolSize);
    if (size > 0) std::memcpy(pool.Image.data(), image.data(), static_cast<size_t>(size));
    pool.Used = static_cast<size_t>(size);
    pool.File = S.RandomFile;
    pool.Loaded = true;
  }
  if (seeded) {
    if (int32_t status = RefreshRandom(S.Hardware)) return status;
    if (int32_t status = WriteRandomFile(S.RandomFile)) return status;
  }

  int32_t result = kOk;
  // The user's own certificate stands where the toolkit looks for the user's UID.
  const std::string ownName = CertCachePath(S.UserUID, S.CertDir);
  if (!S.UserCertPath.empty() && !ownName.empty() &&
      !CacheFile(S.UserUID, ownName, S.UserCertPath, S.KeyTimeout, S.LastOpTimeout))
    result = kErrRead;
  for (const std::string& file : files) {
    if (!CacheFile(S.UserUID, file, file, S.KeyTimeout, S.LastOpTimeout)) result = kErrRead;
  }
  MarkLoaded(S.UserUID);
  return result;
}

int32_t TCComDLL::WriteRandomFile(const std::string& File) {
  return api_->RandWriteFile(platform::NativePath(File).c_str()) == kOk ? kOk : kErrRandomFile;
}

void FlushKeyCache(TCComDLL& Binding) {
  TKeyCacheLock hold;
  TRandomPool& pool = RandomPool();
  if (Binding.FunctionsPresent && !pool.File.empty() && pool.SeededHardware >= 0) {
    if (Binding.InitRandom(pool.SeededHardware == 1) == kOk) {
      Binding.WriteRandomFile(pool.File);
      Binding.FreeRandom();
    }
  }
  pool.Loaded = false;
  pool.Used = 0;
  pool.Image.Allocate(kPoolSize);
  ForgetAllFiles();
}

}  // namespace zk::ccom22
