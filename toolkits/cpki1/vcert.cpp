// The VCERT_ calls: contexts (a PSE with its key, own certificates and trust anchors, and a local
// store of certificates and CRLs), certificate search, signing, verification, encryption.
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "cpki1_internal.h"
#include "engines/validata/vldt_api.h"
#include "standin.h"

namespace cpki1 {

namespace {

struct Context {
  std::mutex lock;
  uint32_t flags = 0;
  Bytes key;
  std::vector<Certificate> own, anchors, store;
  std::vector<Crl> crls;
  std::string storePath;
};

// A certificate record handed out, with the storage its pointers refer to.
struct CertBlock {
  VCERT_CERT pub{};
  Certificate cert;
  std::string keyAlgorithm = "rsaEncryption";
};

struct State {
  std::mutex lock;
  uint32_t nextId = 1;
  std::map<uint32_t, std::shared_ptr<Context>> contexts;
  std::map<const VCERT_CERT*, std::unique_ptr<CertBlock>> certs;
};

State& Global() {
  static standin::Immortal<State> state;
  return state.get();
}

std::shared_ptr<Context> Find(uint32_t id) {
  State& s = Global();
  std::lock_guard<std::mutex> hold(s.lock);
  auto it = s.contexts.find(id);
  return it == s.contexts.end() ? nullptr : it->second;
}

VCERT_CERT* HandOut(const Certificate& cert) {
  auto block = std::make_unique<CertBlock>();
  block->cert = cert;
  const Certificate& c = block->cert;
  VCERT_CERT& p = block->pub;
  p.Der = c.der.data();
  p.DerLen = static_cast<uint32_t>(c.der.size());
  p.Subject = c.subject.c_str();
  p.Issuer = c.issuer.c_str();
  p.CommonName = c.commonNames == 1 ? c.commonName.c_str() : nullptr;
  p.Serial = c.serialText.c_str();
  p.KeyAlgorithm = block->keyAlgorithm.c_str();
  p.NotBefore = p.SecNotBefore = c.notBefore;
  p.NotAfter = p.SecNotAfter = c.notAfter;
  p.KeyUsage = c.keyUsage;
  p.Ekus = c.ekus.c_str();
  VCERT_CERT* out = &block->pub;
  State& s = Global();
  std::lock_guard<std::mutex> hold(s.lock);
  s.certs[out] = std::move(block);
  return out;
}

bool FreeCertRecord(const VCERT_CERT* cert) {
  State& s = Global();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.certs.erase(cert) == 1;
}

bool HasEku(const Certificate& cert, const std::string& oid) {
  const std::string list = ";" + cert.ekus + ";";
  return list.find(";" + oid + ";") != std::string::npos;
}

bool Current(const Certificate& cert) {
  const std::time_t now = std::time(nullptr);
  return cert.notBefore <= now && now <= cert.notAfter;
}

// 0, kUntrusted, kExpired or kRevoked.
int32_t Trust(const Context& ctx, const Certificate& cert) {
  const Certificate* issuer = nullptr;
  for (const Certificate& a : ctx.anchors) {
    if (a.subjectDer == cert.issuerDer && SignedBy(cert.tbs, cert.signature, a)) issuer = &a;
  }
  if (issuer == nullptr) return kUntrusted;
  if (!Current(cert)) return kExpired;
  for (const Crl& crl : ctx.crls) {
    if (crl.issuerDer != cert.issuerDer) continue;
    for (const Bytes& serial : crl.revoked) {
      if (serial == cert.serial) return kRevoked;
    }
  }
  return kOk;
}

bool SaveStore(const Context& ctx) {
  if (ctx.storePath.empty()) return false;
  Records records;
  for (const Certificate& c : ctx.store) records.emplace_back(kStoreCert, c.der);
  for (const Crl& c : ctx.crls) records.emplace_back(kStoreCrl, c.der);
  return WriteRecords(ctx.storePath, kStoreMagic, records);
}

bool LoadPse(const std::string& path, Context& ctx) {
  Records records;
  if (!ReadRecords(path, kPseMagic, records)) return false;
  for (const auto& r : records) {
    Certificate cert;
    if (r.first == kPrivateKey) {
      ctx.key = r.second;
    } else if ((r.first == kOwnCert || r.first == kAnchor) && ParseCertificate(r.second, cert)) {
      (r.first == kOwnCert ? ctx.own : ctx.anchors).push_back(cert);
    } else {
      return false;
    }
  }
  Bytes n, e;
  if (!PublicFromPrivate(ctx.key, n, e)) return false;
  for (const Certificate& c : ctx.own) {
    if (c.n != n || c.e != e) return false;  // every own certificate carries the PSE's key
  }
  return true;
}

bool LoadStore(Context& ctx) {
  Records records;
  if (!ReadRecords(ctx.storePath, kStoreMagic, records)) return false;
  for (const auto& r : records) {
    Certificate cert;
    Crl crl;
    if (r.first == kStoreCert && ParseCertificate(r.second, cert)) {
      ctx.store.push_back(cert);
    } else if (r.first == kStoreCrl && ParseCrl(r.second, crl)) {
      ctx.crls.push_back(crl);
    }
  }
  return true;
}

std::string After(const char* text, const char* prefix) {
  if (text == nullptr) return "";
  const size_t n = std::strlen(prefix);
  return std::strncmp(text, prefix, n) == 0 ? std::string(text + n) : std::string();
}

int32_t Open(uint32_t flags, const std::string& pse, const std::string& store, uint32_t* id) {
  if (id == nullptr || pse.empty()) return kBadArgs;
  auto ctx = std::make_shared<Context>();
  ctx->flags = flags;
  if (!LoadPse(pse, *ctx)) return kFileError;
  ctx->storePath = store;
  Bytes probe;
  if (!store.empty() && ReadFileBytes(store, probe) && !LoadStore(*ctx)) return kFileError;
  State& s = Global();
  std::lock_guard<std::mutex> hold(s.lock);
  *id = s.nextId++;
  s.contexts[*id] = ctx;
  return kOk;
}

const Certificate* FindKnown(const Context& ctx, const Bytes& issuer, const Bytes& serial,
                             const std::vector<Certificate>& extra) {
  for (const auto* list : {&extra, &ctx.own, &ctx.store}) {
    for (const Certificate& c : *list) {
      if (c.issuerDer == issuer && c.serial == serial) return &c;
    }
  }
  return nullptr;
}

bool OwnKeyCert(const Context& ctx, const VCERT_CERT* chosen, Certificate& cert) {
  if (chosen == nullptr) {
    if (ctx.own.size() != 1) return false;
    cert = ctx.own[0];
    return true;
  }
  if (!ParseCertificate(Bytes(chosen->Der, chosen->Der + chosen->DerLen), cert)) return false;
  for (const Certificate& c : ctx.own) {
    if (c.der == cert.der) return true;
  }
  return false;
}

uint8_t* Copy(const Bytes& b) {
  uint8_t* p = static_cast<uint8_t*>(std::malloc(b.empty() ? 1 : b.size()));
  if (p != nullptr && !b.empty()) std::memcpy(p, b.data(), b.size());
  return p;
}

}  // namespace

}  // namespace cpki1

using namespace cpki1;

#define CPKI1_EXPORT(ret, name, args) STANDIN_EXPORT ret VCERT_CALL name args
#define CPKI1_HOOK(name)                          \
  if (int hooked = standin::Hook(#name)) return hooked

CPKI1_EXPORT(int32_t, VCERT_Initialize, (const char* Profile, uint32_t* Ctx)) {
  CPKI1_HOOK(VCERT_Initialize);
  // A profile names a PSE file (without a store).
  return Profile == nullptr ? kBadArgs : Open(0, Profile, "", Ctx);
}

CPKI1_EXPORT(int32_t, VCERT_InitializeEx, (uint32_t Version, const VCERT_INIT_PARAMS* Params, uint32_t* Ctx)) {
  CPKI1_HOOK(VCERT_InitializeEx);
  if (Version != 1 || Params == nullptr || Params->Size != sizeof(VCERT_INIT_PARAMS)) return kBadArgs;
  return Open(Params->Flags, After(Params->Pse, "pse://signed/"), After(Params->Store, "file://"), Ctx);
}

CPKI1_EXPORT(int32_t, VCERT_Uninitialize, (uint32_t Ctx)) {
  standin::Hook("VCERT_Uninitialize");  // counted; a release always releases
  State& s = Global();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.contexts.erase(Ctx) == 1 ? kOk : kBadContext;
}

CPKI1_EXPORT(int32_t, VCERT_FindCert, (uint32_t Ctx, const VCERT_SEARCH* Search, VCERT_FIND_RESULT** Result)) {
  CPKI1_HOOK(VCERT_FindCert);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  if (Search == nullptr || Result == nullptr) return kBadArgs;
  std::lock_guard<std::mutex> hold(ctx->lock);
  std::vector<const Certificate*> found;
  auto consider = [&](const Certificate& c) {
    if (Search->CommonName != nullptr && *Search->CommonName != 0 &&
        (c.commonNames != 1 || c.commonName != Search->CommonName))
      return;
    if (Search->Serial != nullptr && *Search->Serial != 0 && !SerialMatches(c.serial, Search->Serial)) return;
    if (Search->Issuer != nullptr && *Search->Issuer != 0 && c.issuer != Search->Issuer) return;
    if (Search->EkuOid != nullptr && *Search->EkuOid != 0 && !HasEku(c, Search->EkuOid)) return;
    if ((ctx->flags & VCERT_FLAG_CHECKEXPIRED) && !Current(c)) return;
    for (const Certificate* f : found) {
      if (f->der == c.der) return;
    }
    found.push_back(&c);
  };
  for (const Certificate& c : ctx->own) consider(c);
  if ((Search->Flags & VCERT_SEARCH_OWN) == 0) {
    for (const Certificate& c : ctx->store) consider(c);
  }
  auto* result = static_cast<VCERT_FIND_RESULT*>(std::calloc(1, sizeof(VCERT_FIND_RESULT)));
  if (result == nullptr) return kCryptoError;
  result->Certs = static_cast<VCERT_CERT**>(std::calloc(found.size() + 1, sizeof(VCERT_CERT*)));
  for (const Certificate* c : found) result->Certs[result->Count++] = HandOut(*c);
  *Result = result;
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_FreeFindResult, (VCERT_FIND_RESULT * Result)) {
  standin::Hook("VCERT_FreeFindResult");  // counted; a release always releases
  if (Result == nullptr) return kBadArgs;
  for (uint32_t i = 0; i < Result->Count; ++i) FreeCertRecord(Result->Certs[i]);
  std::free(Result->Certs);
  std::free(Result);
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_SignMem, (uint32_t Ctx, const VCERT_SIGN_PARAMS* Params, const uint8_t* Data,
                                      uint32_t Len, uint8_t** Sig, uint32_t* SigLen)) {
  CPKI1_HOOK(VCERT_SignMem);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  if (Data == nullptr || Sig == nullptr || SigLen == nullptr) return kBadArgs;
  std::lock_guard<std::mutex> hold(ctx->lock);
  Certificate cert;
  if (!OwnKeyCert(*ctx, Params != nullptr ? Params->Cert : nullptr, cert)) return kNotFound;
  Bytes out;
  if (!SignDetached(cert, ctx->key, Data, Len, out)) return kCryptoError;
  *Sig = Copy(out);
  *SigLen = static_cast<uint32_t>(out.size());
  return *Sig == nullptr ? kCryptoError : kOk;
}

CPKI1_EXPORT(int32_t, VCERT_VerifyMem, (uint32_t Ctx, const VCERT_BLOB* Data, const VCERT_BLOB* Sig,
                                        VCERT_VERIFY_RESULT** Result)) {
  CPKI1_HOOK(VCERT_VerifyMem);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  if (Data == nullptr || Sig == nullptr || Result == nullptr || Sig->Data == nullptr) return kBadArgs;
  std::lock_guard<std::mutex> hold(ctx->lock);
  std::vector<Bytes> embedded;
  std::vector<SignerFound> signers;
  if (!ParseSignedData(Bytes(Sig->Data, Sig->Data + Sig->Length), embedded, signers)) return kBadFormat;
  if (signers.empty()) return kNoSigner;
  std::vector<Certificate> certs;
  for (const Bytes& der : embedded) {
    Certificate c;
    // A damaged or foreign certificate damages the signature, whatever else it holds.
    if (!ParseCertificate(der, c)) return kBadFormat;
    if (int32_t r = Trust(*ctx, c)) return r;
    certs.push_back(c);
  }
  const Certificate* first = nullptr;
  for (const SignerFound& s : signers) {
    const Certificate* cert = FindKnown(*ctx, s.issuerDer, s.serial, certs);
    if (cert == nullptr) return kNotFound;
    if (!CheckSigner(s, *cert, Data->Data, Data->Length)) return kBadSignature;
    if (int32_t r = Trust(*ctx, *cert)) return r;
    if (first == nullptr) first = cert;
  }
  auto* result = static_cast<VCERT_VERIFY_RESULT*>(std::calloc(1, sizeof(VCERT_VERIFY_RESULT)));
  if (result == nullptr) return kCryptoError;
  result->SignerCount = static_cast<uint32_t>(signers.size());
  result->Cert = HandOut(*first);
  *Result = result;
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_FreeVerifyResult, (VCERT_VERIFY_RESULT * Result)) {
  standin::Hook("VCERT_FreeVerifyResult");  // counted; a release always releases
  if (Result == nullptr) return kBadArgs;
  FreeCertRecord(Result->Cert);
  std::free(Result);
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_EncryptMem, (uint32_t Ctx, const VCERT_CERT* const* Certs, uint32_t Count,
                                         const VCERT_BLOB* In, uint8_t** Out, uint32_t* OutLen)) {
  CPKI1_HOOK(VCERT_EncryptMem);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  if (Certs == nullptr || Count == 0 || In == nullptr || Out == nullptr || OutLen == nullptr) return kBadArgs;
  std::lock_guard<std::mutex> hold(ctx->lock);
  std::vector<Certificate> parsed(Count);
  std::vector<const Certificate*> recipients;
  for (uint32_t i = 0; i < Count; ++i) {
    if (Certs[i] == nullptr || !ParseCertificate(Bytes(Certs[i]->Der, Certs[i]->Der + Certs[i]->DerLen), parsed[i]))
      return kBadArgs;
    if (int32_t r = Trust(*ctx, parsed[i])) return r;
    recipients.push_back(&parsed[i]);
  }
  if (In->Data == nullptr && In->Length != 0) return kBadArgs;
  // Written once into the block handed out: headers, then the content encrypted in place.
  const Bytes key = RandomBytes(32), iv = RandomBytes(16);
  Bytes head;
  size_t bodyLen = 0;
  if (!EnvelopeHead(recipients, In->Length, key, iv, head, bodyLen)) return kCryptoError;
  auto* block = static_cast<uint8_t*>(std::malloc(head.size() + bodyLen));
  if (block == nullptr) return kCryptoError;
  std::memcpy(block, head.data(), head.size());
  if (!AesCbcEncryptInto(key, iv, In->Data, In->Length, block + head.size())) {
    std::free(block);
    return kCryptoError;
  }
  *Out = block;
  *OutLen = static_cast<uint32_t>(head.size() + bodyLen);
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_DecryptMem, (uint32_t Ctx, const VCERT_BLOB* In, const VCERT_CERT* Own,
                                         VCERT_DECRYPT_RESULT** Result)) {
  CPKI1_HOOK(VCERT_DecryptMem);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  if (In == nullptr || In->Data == nullptr || Result == nullptr) return kBadArgs;
  std::lock_guard<std::mutex> hold(ctx->lock);
  const Bytes cms(In->Data, In->Data + In->Length);
  Bytes plain;
  int32_t r = kNotRecipient;
  if (Own != nullptr) {
    Certificate cert;
    if (!OwnKeyCert(*ctx, Own, cert)) return kNotFound;
    r = OpenEnvelope(cms, cert, ctx->key, plain);
  } else {
    for (const Certificate& cert : ctx->own) {
      r = OpenEnvelope(cms, cert, ctx->key, plain);
      if (r != kNotRecipient) break;
    }
  }
  if (r != kOk) return r;
  auto* result = static_cast<VCERT_DECRYPT_RESULT*>(std::calloc(1, sizeof(VCERT_DECRYPT_RESULT)));
  if (result == nullptr) return kCryptoError;
  result->Data = Copy(plain);
  result->Length = static_cast<uint32_t>(plain.size());
  *Result = result;
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_FreeDecryptResult, (VCERT_DECRYPT_RESULT * Result)) {
  standin::Hook("VCERT_FreeDecryptResult");  // counted; a release always releases
  if (Result == nullptr) return kBadArgs;
  std::free(Result->Data);
  std::free(Result);
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_AddCertificate, (uint32_t Ctx, const uint8_t* Der, uint32_t Len)) {
  CPKI1_HOOK(VCERT_AddCertificate);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  Certificate cert;
  if (Der == nullptr || !ParseCertificate(Bytes(Der, Der + Len), cert)) return kBadFormat;
  std::lock_guard<std::mutex> hold(ctx->lock);
  if (int32_t r = Trust(*ctx, cert)) return r;
  for (const Certificate& c : ctx->store) {
    if (c.der == cert.der) return kOk;
  }
  ctx->store.push_back(cert);
  if (SaveStore(*ctx)) return kOk;
  ctx->store.pop_back();
  return kFileError;
}

CPKI1_EXPORT(int32_t, VCERT_AddCRL, (uint32_t Ctx, const uint8_t* Der, uint32_t Len)) {
  CPKI1_HOOK(VCERT_AddCRL);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  Crl crl;
  if (Der == nullptr || !ParseCrl(Bytes(Der, Der + Len), crl)) return kBadFormat;
  std::lock_guard<std::mutex> hold(ctx->lock);
  bool trusted = false;
  for (const Certificate& a : ctx->anchors) trusted = trusted || (a.subjectDer == crl.issuerDer && SignedBy(crl.tbs, crl.signature, a));
  if (!trusted) return kUntrusted;
  std::vector<Crl> before = ctx->crls;
  // The newest list of an issuer replaces its older ones.
  std::vector<Crl> kept;
  for (const Crl& c : ctx->crls) {
    if (c.issuerDer != crl.issuerDer) kept.push_back(c);
  }
  kept.push_back(crl);
  ctx->crls = kept;
  if (SaveStore(*ctx)) return kOk;
  ctx->crls = before;
  return kFileError;
}

CPKI1_EXPORT(int32_t, VCERT_ImportFile, (uint32_t Ctx, const char* File)) {
  CPKI1_HOOK(VCERT_ImportFile);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  if (File == nullptr) return kBadArgs;
  Context other;
  if (!LoadPse(File, other)) return kBadFormat;
  std::lock_guard<std::mutex> hold(ctx->lock);
  const size_t before = ctx->store.size();
  for (const auto* list : {&other.own, &other.anchors}) {
    for (const Certificate& c : *list) {
      bool known = false;
      for (const Certificate& s : ctx->store) known = known || s.der == c.der;
      if (!known) ctx->store.push_back(c);
    }
  }
  if (SaveStore(*ctx)) return kOk;
  ctx->store.resize(before);
  return kFileError;
}

CPKI1_EXPORT(int32_t, VCERT_ShowCertificate, (uint32_t Ctx, const VCERT_CERT* Cert)) {
  CPKI1_HOOK(VCERT_ShowCertificate);
  return Find(Ctx) == nullptr ? kBadContext : Cert == nullptr ? kBadArgs : kOk;  // nothing to show on
}

CPKI1_EXPORT(int32_t, VCERT_GetErrorText, (int32_t Code, char* Buffer, uint32_t Size)) {
  CPKI1_HOOK(VCERT_GetErrorText);
  if (Buffer == nullptr || Size == 0) return kBadArgs;
  const char* text = CodeText(Code);
  const size_t n = std::min<size_t>(std::strlen(text), Size - 1);
  std::memcpy(Buffer, text, n);
  Buffer[n] = 0;
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_FreeMem, (void* Block)) {
  standin::Hook("VCERT_FreeMem");  // counted; a release always releases
  std::free(Block);
  return kOk;
}

CPKI1_EXPORT(int32_t, VCERT_FreeCert, (VCERT_CERT * Cert)) {
  standin::Hook("VCERT_FreeCert");  // counted; a release always releases
  return FreeCertRecord(Cert) ? kOk : kBadArgs;
}

CPKI1_EXPORT(int32_t, VCERT_FreeCertId, (void* Id)) {
  standin::Hook("VCERT_FreeCertId");  // counted; a release always releases
  return Id == nullptr ? kBadArgs : kOk;  // certificate ids are never handed out
}

// The toolkit's other services: present, not supported here.
#define CPKI1_UNSUPPORTED(name) \
  CPKI1_EXPORT(int32_t, name, ()) { return kNotSupported; }
ZK_VCERT_UNUSED(CPKI1_UNSUPPORTED)
ZK_VCERT_OPTIONAL(CPKI1_UNSUPPORTED)

namespace cpki1 {

const char* CodeText(int32_t code) {
  switch (code) {
    case kOk: return "Success";
    case kBadArgs: return "Bad arguments";
    case kNotFound: return "Certificate not found";
    case kBadSignature: return "Signature does not verify";
    case kUntrusted: return "Certificate does not chain to a trusted authority";
    case kExpired: return "Certificate has expired or is not yet valid";
    case kRevoked: return "Certificate has been revoked";
    case kBadFormat: return "Malformed data";
    case kFileError: return "File error";
    case kNotRecipient: return "Not a recipient of this message";
    case kNotSupported: return "Function not supported";
    case kCryptoError: return "Cryptographic failure";
    case kBadContext: return "Bad context";
    case kNoSigner: return "No signer in the message";
    default: return "Unknown error";
  }
}

}  // namespace cpki1
