// Contexts of the Crypto COM 2.2 stand-in: their settings, the path rules, and the records of
// certificates and secret keys.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "cc_internal.h"

namespace cc {

Context::~Context() {
  tag = kDead;
  block.Wipe();
  feedback.Wipe();
  mac.Wipe();
  gost::Wipe(held, sizeof held);
  gost::Wipe(pending, sizeof pending);
}

Context* ContextOf(HCCCTX handle) {
  Context* ctx = static_cast<Context*>(handle);
  return ctx != nullptr && ctx->tag == Context::kTag ? ctx : nullptr;
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

bool LookUpAuthority(const Context& ctx, int32_t number, AuthorityKey& key) {
  if (ctx.head.AuthorityLookup == nullptr) return false;
  const char* image = ctx.head.AuthorityLookup(ctx.secretPath.c_str(), number);
  return image != nullptr && ParseAuthority(image, key) == kOk && key.number == number;
}

namespace {

// Authority signatures already found good, as (digest, authority key, signature): a certificate
// is checked once per process, not once per operation. Bounded; emptied when full.
class TrustedSignatures {
 public:
  bool Known(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    return known_.count(key) != 0;
  }
  void Add(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    if (known_.size() >= 1024) known_.clear();
    known_.insert(key);
  }

 private:
  std::mutex lock_;
  std::set<std::string> known_;
};

TrustedSignatures& Trusted() {
  static standin::Immortal<TrustedSignatures> trusted;
  return trusted.get();
}

}  // namespace

int32_t CertificateStatus(const Context& ctx, const Certificate& cert) {
  AuthorityKey authority;
  if (!LookUpAuthority(ctx, cert.authority, authority)) return kNoAuthorityKey;
  uint8_t digest[32];
  Digest(cert.signedPart.data(), cert.signedPart.size(), digest);
  std::string key(reinterpret_cast<const char*>(digest), sizeof digest);
  key.append(reinterpret_cast<const char*>(&authority.key), sizeof authority.key);
  key.append(reinterpret_cast<const char*>(cert.signature), sizeof cert.signature);
  if (!Trusted().Known(key)) {
    if (gost::r3410_2001::Verify(kCurve, authority.key, digest, cert.signature) != gost::kSignOk)
      return kBadAuthoritySignature;
    Trusted().Add(key);
  }
  const int64_t now = Now();
  if (now < cert.notBefore) return kCertNotYetValid;
  if (now > cert.notAfter) return kCertExpired;
  return kOk;
}

uint8_t* NewBuffer(size_t len) { return static_cast<uint8_t*>(std::calloc(len == 0 ? 1 : len, 1)); }

}  // namespace cc

using namespace cc;

namespace {

int32_t SetText(HCCCTX handle, const char* value, std::string Context::*field) {
  Context* ctx = ContextOf(handle);
  if (ctx == nullptr) return kNoContext;
  if (value == nullptr) return kBadCommand;
  ctx->*field = value;
  return kOk;
}

const char* PathText(Context* ctx, const std::string& path) {
  if (ctx == nullptr) return nullptr;
  ctx->pathText = path;
  return ctx->pathText.c_str();
}

char* CopyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

extern "C" {

HCCCTX CC_CALL InitCryptCtx(void) {
  CC_HOOK(InitCryptCtx, 0, CC_NULL);
  return new (std::nothrow) Context();
}

int32_t CC_CALL FreeCryptCtx(HCCCTX Ctx) {
  CC_COUNT(FreeCryptCtx, 4);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr) return kNoContext;
  delete ctx;
  return kOk;
}

int32_t CC_CALL SetIdentifier(HCCCTX Ctx, const char* UID) {
  CC_HOOK(SetIdentifier, 8, CC_STATUS);
  return SetText(Ctx, UID, &Context::uid);
}

int32_t CC_CALL SetSecretPath(HCCCTX Ctx, const char* Dir) {
  CC_HOOK(SetSecretPath, 8, CC_STATUS);
  return SetText(Ctx, Dir, &Context::secretPath);
}

int32_t CC_CALL SetPublicPath(HCCCTX Ctx, const char* Dir) {
  CC_HOOK(SetPublicPath, 8, CC_STATUS);
  return SetText(Ctx, Dir, &Context::publicPath);
}

int32_t CC_CALL SetCipherAlgorithm(HCCCTX Ctx, const char* Name) {
  CC_HOOK(SetCipherAlgorithm, 8, CC_STATUS);
  if (Name == nullptr || (std::strcmp(Name, "28147") != 0 && std::strcmp(Name, "28147-ECB") != 0))
    return kUnknownCipher;
  return SetText(Ctx, Name, &Context::cipher);
}

int32_t CC_CALL SetHashAlgorithm(HCCCTX Ctx, const char* Name) {
  CC_HOOK(SetHashAlgorithm, 8, CC_STATUS);
  if (Name == nullptr || std::strcmp(Name, "34.11") != 0) return kUnknownHash;
  return SetText(Ctx, Name, &Context::hash);
}

const char* CC_CALL GetCertPath(HCCCTX Ctx, const char* UID) {
  CC_HOOK(GetCertPath, 8, CC_NULL);
  Context* ctx = ContextOf(Ctx);
  return PathText(ctx, ctx != nullptr && UID != nullptr ? CertPathOf(UID, ctx->publicPath) : std::string());
}

const char* CC_CALL GetSecPath(HCCCTX Ctx, int32_t KeyNumber) {
  CC_HOOK(GetSecPath, 8, CC_NULL);
  Context* ctx = ContextOf(Ctx);
  if (ctx == nullptr || ctx->secretPath.empty()) return PathText(ctx, std::string());
  return PathText(ctx, WithDelimiter(ctx->secretPath) + std::to_string(KeyNumber) + ".sec");
}

int32_t CC_CALL _CertInfo(HCCCTX Ctx, const char* Image, CC_CERT_INFO** Info) {
  CC_HOOK(_CertInfo, 12, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (Info == nullptr) return kBadCommand;
  *Info = nullptr;
  if (ctx == nullptr) return kNoContext;
  Certificate cert;
  if (int32_t s = ParseCertificate(Image, cert)) return s;
  auto* info = static_cast<CC_CERT_INFO*>(std::calloc(1, sizeof(CC_CERT_INFO)));
  if (info == nullptr) return kNoMemory;
  info->KeyNumber = cert.number;
  info->AuthorityNumber = cert.authority;
  info->Version = 1;
  info->Owner = CopyText(cert.owner);
  info->Issuer = CopyText(cert.issuer);
  info->NotBefore = static_cast<uint32_t>(cert.notBefore);
  info->NotAfter = static_cast<uint32_t>(cert.notAfter);
  info->Status = CertificateStatus(*ctx, cert);
  *Info = info;
  return kOk;
}

int32_t CC_CALL _SecInfo(HCCCTX Ctx, const char* Image, CC_SEC_INFO** Info) {
  CC_HOOK(_SecInfo, 12, CC_STATUS);
  Context* ctx = ContextOf(Ctx);
  if (Info == nullptr) return kBadCommand;
  *Info = nullptr;
  if (ctx == nullptr) return kNoContext;
  SecretKey key;
  if (int32_t s = ParseSecret(Image, key)) return s;
  auto* info = static_cast<CC_SEC_INFO*>(std::calloc(1, sizeof(CC_SEC_INFO)));
  if (info == nullptr) return kNoMemory;
  info->KeyNumber = key.number;
  info->NotBefore = static_cast<uint32_t>(key.notBefore);
  info->NotAfter = static_cast<uint32_t>(key.notAfter);
  info->Version = 1;
  const int64_t now = Now();
  info->Status = now < key.notBefore ? kSecretNotYetValid : now > key.notAfter ? kSecretExpired : kOk;
  *Info = info;
  return kOk;
}

int32_t CC_CALL FreeCertInfo(CC_CERT_INFO* Info) {
  CC_COUNT(FreeCertInfo, 4);
  if (Info == nullptr) return kOk;
  std::free(Info->Owner);
  std::free(Info->Issuer);
  std::free(Info);
  return kOk;
}

int32_t CC_CALL FreeSecInfo(CC_SEC_INFO* Info) {
  CC_COUNT(FreeSecInfo, 4);
  std::free(Info);
  return kOk;
}

int32_t CC_CALL BufferFree(void* Buffer) {
  CC_COUNT(BufferFree, 4);
  std::free(Buffer);
  return kOk;
}

int32_t CC_CALL BufferCleanFree(void* Buffer, int32_t Len) {
  CC_COUNT(BufferCleanFree, 8);
  if (Buffer != nullptr && Len > 0) gost::Wipe(Buffer, static_cast<size_t>(Len));
  std::free(Buffer);
  return kOk;
}

}  // extern "C"
