// The VCERT_ calls: contexts (a PSE with its key, own certificates and trust anchors, and a local
// store of certificates and CRLs), certificate search, signing, verification, encryption.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "context.h"
#include "cpki1_internal.h"
#include "engines/validata/vldt_api.h"
#include "standin.h"

namespace cpki1 {

namespace {

// A certificate record handed out, with the storage its pointers refer to.
struct CertBlock {
  VCERT_CERT pub{};
  CertPtr cert;
  std::string keyAlgorithm = "rsaEncryption";
};

// The records handed out, spread over shards by address: threads working in contexts of their
// own rarely meet on one lock.
struct RecordShard {
  std::mutex lock;
  std::unordered_map<const VCERT_CERT*, std::unique_ptr<CertBlock>> blocks;
};
constexpr size_t kRecordShards = 16;

struct State {
  std::shared_mutex contextsLock;  // shared by lookups, exclusive for opening and closing
  uint32_t nextId = 1;
  std::map<uint32_t, std::shared_ptr<Context>> contexts;
  RecordShard records[kRecordShards];
};

State& Global() {
  static standin::Immortal<State> state;
  return state.get();
}

RecordShard& ShardOf(const VCERT_CERT* record) {
  return Global().records[(reinterpret_cast<uintptr_t>(record) >> 4) % kRecordShards];
}

std::shared_ptr<Context> Find(uint32_t id) {
  State& s = Global();
  std::shared_lock<std::shared_mutex> hold(s.contextsLock);
  auto it = s.contexts.find(id);
  return it == s.contexts.end() ? nullptr : it->second;
}

VCERT_CERT* HandOut(const CertPtr& cert) {
  auto block = std::make_unique<CertBlock>();
  block->cert = cert;
  const Certificate& c = *cert;
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
  RecordShard& shard = ShardOf(out);
  std::lock_guard<std::mutex> hold(shard.lock);
  shard.blocks[out] = std::move(block);
  return out;
}

bool FreeCertRecord(const VCERT_CERT* cert) {
  RecordShard& shard = ShardOf(cert);
  std::unique_ptr<CertBlock> released;  // freed outside the lock
  std::lock_guard<std::mutex> hold(shard.lock);
  auto it = shard.blocks.find(cert);
  if (it == shard.blocks.end()) return false;
  released = std::move(it->second);
  shard.blocks.erase(it);
  return true;
}

bool HasEku(const Certificate& cert, const std::string& oid) {
  const std::string list = ";" + cert.ekus + ";";
  return list.find(";" + oid + ";") != std::string::npos;
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
  std::unique_lock<std::shared_mutex> hold(s.contextsLock);
  *id = s.nextId++;
  s.contexts[*id] = ctx;
  return kOk;
}

// The signer's certificate: one the message carries (embedded: true), else one of the context's.
CertPtr FindSigner(const Context& ctx, const SignerFound& signer, const std::vector<CertPtr>& carried, bool& embedded) {
  for (const CertPtr& c : carried) {
    if (c->issuerDer == signer.issuerDer && c->serial == signer.serial) return embedded = true, c;
  }
  embedded = false;
  auto matches = [&](const CertPtr& c) { return c->issuerDer == signer.issuerDer && c->serial == signer.serial; };
  for (const CertPtr& c : ctx.own) {
    if (matches(c)) return c;
  }
  for (size_t at : ctx.StoreBySerial(SerialText(signer.serial))) {
    if (matches(ctx.store[at])) return ctx.store[at];
  }
  return nullptr;
}

CertPtr OwnKeyCert(Context& ctx, const VCERT_CERT* chosen) {
  if (chosen == nullptr) return ctx.own.size() == 1 ? ctx.own[0] : nullptr;
  const CertPtr cert = ctx.Parsed(chosen->Der, chosen->DerLen);
  // The same bytes as an own certificate give that very object.
  for (const CertPtr& c : ctx.own) {
    if (c == cert) return c;
  }
  return nullptr;
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
  std::unique_lock<std::shared_mutex> hold(s.contextsLock);
  return s.contexts.erase(Ctx) == 1 ? kOk : kBadContext;
}

CPKI1_EXPORT(int32_t, VCERT_FindCert, (uint32_t Ctx, const VCERT_SEARCH* Search, VCERT_FIND_RESULT** Result)) {
  CPKI1_HOOK(VCERT_FindCert);
  auto ctx = Find(Ctx);
  if (ctx == nullptr) return kBadContext;
  if (Search == nullptr || Result == nullptr) return kBadArgs;
  std::lock_guard<std::mutex> hold(ctx->lock);
  auto given = [](const char* text) { return text != nullptr && *text != 0; };
  std::vector<CertPtr> found;
  auto consider = [&](const CertPtr& c) {
    if (given(Search->CommonName) && (c->commonNames != 1 || c->commonName != Search->CommonName)) return;
    if (given(Search->Serial) && !SerialMatches(c->serial, Search->Serial)) return;
    if (given(Search->Issuer) && c->issuer != Search->Issuer) return;
    if (given(Search->EkuOid) && !HasEku(*c, Search->EkuOid)) return;
    if ((ctx->flags & VCERT_FLAG_CHECKEXPIRED) && !Current(*c)) return;
    // Equal bytes are one object: an own certificate also in the store is found once.
    if (std::find(found.begin(), found.end(), c) == found.end()) found.push_back(c);
  };
  for (const CertPtr& c : ctx->own) consider(c);
  if ((Search->Flags & VCERT_SEARCH_OWN) == 0) {
    // A name or serial is looked up in the store's index rather than through every entry.
    if (given(Search->CommonName)) {
      for (size_t at : ctx->StoreByName(Search->CommonName)) consider(ctx->store[at]);
    } else if (given(Search->Serial)) {
      for (size_t at : ctx->StoreBySerial(Search->Serial)) consider(ctx->store[at]);
    } else {
      for (const CertPtr& c : ctx->store) consider(c);
    }
  }
  auto* result = static_cast<VCERT_FIND_RESULT*>(std::calloc(1, sizeof(VCERT_FIND_RESULT)));
  if (result == nullptr) return kCryptoError;
  result->Certs = static_cast<VCERT_CERT**>(std::calloc(found.size() + 1, sizeof(VCERT_CERT*)));
  for (const CertPtr& c : found) result->Certs[result->Count++] = HandOut(c);
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
  const CertPtr cert = OwnKeyCert(*ctx, Params != nullptr ? Params->Cert : nullptr);
  if (cert == nullptr) return kNotFound;
  Bytes out;
  if (!SignDetached(*cert, ctx->key, Data, Len, out)) return kCryptoError;
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
  std::vector<der::Node> embedded;
  std::vector<SignerFound> signers;
  if (!ParseSignedData(Sig->Data, Sig->Length, embedded, signers)) return kBadFormat;
  if (signers.empty()) return kNoSigner;
  std::vector<CertPtr> certs;
  for (const der::Node& node : embedded) {
    // A damaged or foreign certificate damages the signature, whatever else it holds.
    const CertPtr c = ctx->Parsed(node.raw, node.rawLength);
    if (c == nullptr) return kBadFormat;
    if (int32_t r = Trust(*ctx, *c)) return r;
    certs.push_back(c);
  }
  CertPtr first;
  for (const SignerFound& s : signers) {
    bool carried = false;
    const CertPtr cert = FindSigner(*ctx, s, certs, carried);
    if (cert == nullptr) return kNotFound;
    if (!CheckSigner(s, *cert, Data->Data, Data->Length)) return kBadSignature;
    // A carried certificate was checked above.
    if (!carried) {
      if (int32_t r = Trust(*ctx, *cert)) return r;
    }
    if (first == nullptr) first = cert;
  }
  auto* result = static_cast<VCERT_VERIFY_RESULT*>(std::calloc(1, sizeof(VCERT_VERIFY_RESULT)));
  if (result == nullptr) return kCryptoError;
  result->SignerCount = static_cast<uint32_t>(signers.size());
  result->Cert = HandOut(first);
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
  std::vector<CertPtr> parsed;
  std::vector<const Certificate*> recipients;
  for (uint32_t i = 0; i < Count; ++i) {
    const CertPtr c = Certs[i] != nullptr ? ctx->Parsed(Certs[i]->Der, Certs[i]->DerLen) : nullptr;
    if (c == nullptr) return kBadArgs;
    if (int32_t r = Trust(*ctx, *c, IssuerCheck::kRemembered)) return r;
    parsed.push_back(c);
    recipients.push_back(c.get());
  }
  if (In->Data == nullptr && In->Length != 0) return kBadArgs;
  // Written once into the block handed out: headers, then the content encrypted in place.
  // Key and IV from the context's own generator, not libgcrypt's process-wide pool.
  InitGcrypt();
  Bytes keyAndIv(48);
  if (!ctx->random.Fill(keyAndIv.data(), keyAndIv.size())) return kCryptoError;
  const Bytes key(keyAndIv.begin(), keyAndIv.begin() + 32), iv(keyAndIv.begin() + 32, keyAndIv.end());
  Bytes head;
  size_t bodyLen = 0;
  if (!EnvelopeHead(recipients, In->Length, key, iv, ctx->random, head, bodyLen)) return kCryptoError;
  auto* block = static_cast<uint8_t*>(std::malloc(head.size() + bodyLen));
  if (block == nullptr) return kCryptoError;
  std::memcpy(block, head.data(), head.size());
  if (!AesCbcEncryptInto(ctx->aes, key, iv, In->Data, In->Length, block + head.size())) {
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
  EnvelopeContent content;
  int32_t r = kNotRecipient;
  if (Own != nullptr) {
    const CertPtr cert = OwnKeyCert(*ctx, Own);
    if (cert == nullptr) return kNotFound;
    r = OpenEnvelope(In->Data, In->Length, *cert, ctx->key, content);
  } else {
    for (const CertPtr& cert : ctx->own) {
      r = OpenEnvelope(In->Data, In->Length, *cert, ctx->key, content);
      if (r != kNotRecipient) break;
    }
  }
  if (r != kOk) return r;
  // Decrypted straight into the block handed out.
  auto* plain = static_cast<uint8_t*>(std::malloc(content.length == 0 ? 1 : content.length));
  size_t plainLen = 0;
  if (plain == nullptr || !AesCbcDecryptInto(ctx->aes, content.contentKey, content.iv, content.data, content.length,
                                             plain, plainLen)) {
    std::free(plain);
    return kCryptoError;
  }
  auto* result = static_cast<VCERT_DECRYPT_RESULT*>(std::calloc(1, sizeof(VCERT_DECRYPT_RESULT)));
  if (result == nullptr) {
    std::free(plain);
    return kCryptoError;
  }
  result->Data = plain;
  result->Length = static_cast<uint32_t>(plainLen);
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
  std::lock_guard<std::mutex> hold(ctx->lock);
  const CertPtr cert = ctx->Parsed(Der, Len);
  if (cert == nullptr) return kBadFormat;
  if (int32_t r = Trust(*ctx, *cert)) return r;
  if (ctx->InStore(ctx->Remember(cert))) return kOk;
  const size_t before = ctx->store.size();
  ctx->AddToStore(cert);
  if (SaveStore(*ctx)) return kOk;
  ctx->TruncateStore(before);
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
  for (const CertPtr& a : ctx->anchors) trusted = trusted || (a->subjectDer == crl.issuerDer && SignedBy(crl.tbs, crl.signature, *a));
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
    for (const CertPtr& c : *list) {
      if (!ctx->InStore(ctx->Remember(c))) ctx->AddToStore(c);
    }
  }
  if (SaveStore(*ctx)) return kOk;
  ctx->TruncateStore(before);
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
