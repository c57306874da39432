#include "engines/lancrypto/vesta_dll.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "engines/lancrypto/vesta_internal.h"
#include "engines/lancrypto/vesta_texts.h"
#include "frame/cp1251.h"
#include "frame/keytimeouts.h"

namespace zk::lancrypto {

namespace {

constexpr int32_t kPasswordBufferSize = 255;
constexpr int kMaxPrompts = 4;
constexpr int kMaxFills = 5;  // bounds the fills that answer something unexpected too

TCriticalSection& LoadLock() {
  static TCriticalSection lock;
  return lock;
}

std::atomic<int32_t> g_chunkSize{32767};

uint64_t ContentStamp(const std::vector<uint8_t>& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

}  // namespace

TCriticalSection& ToolkitCallLock() {
  static TCriticalSection lock;
  return lock;
}

int32_t HashChunkSize() { return g_chunkSize.load(); }
void SetHashChunkSize(int32_t size) { g_chunkSize.store(size); }

platform::ModuleHandle ToolkitModule() {
  static platform::ModuleHandle module = nullptr;
  SectionLock hold(LoadLock());
  if (module == nullptr) module = LoadToolkitLibrary("ct512.dll");
  return module;
}

void TouchMemoryImage::Clear() {
  SecureWipe(Sign.data(), Sign.size());
  SecureWipe(Vesta.data(), Vesta.size());
  ReadAt = 0;
  Port = 0;
  Owner.clear();
}

// --- construction ------------------------------------------------------------------------------

TVestaDLL::TVestaDLL() {
  const platform::ModuleHandle module = ToolkitModule();
  if (module == nullptr) return;
  LibLoaded = true;
  FunctionsPresent = true;
  // Optional functions may be missing: the steps that need them answer a toolkit code instead.
#define X(name, required)                                                           \
  api_.name = reinterpret_cast<decltype(api_.name)>(platform::FindSymbol(module, #name)); \
  if ((required) && api_.name == nullptr) FunctionsPresent = false;
  ZK_CT512_FUNCTIONS
#undef X
}

TVestaDLL::~TVestaDLL() {
  ForgetVerification();
  image_.Clear();
}

void TVestaDLL::SetCallbacks(TPasswordRequestFunc Password, TTMRequestFunc TouchMemory) {
  passwordRequest_ = Password;
  touchMemoryRequest_ = TouchMemory;
}

// --- the password protocol ---------------------------------------------------------------------

int32_t TVestaDLL::AcquirePassword(ContextFamily family, void* ctx) {
  const bool signing = family == ContextFamily::Notary;
  const int offset = signing ? kSignPassword : kVestaPassword;
  auto fill = signing ? api_.CTN_FillPrivateKeyStructure : api_.CTV_FillPrivateKeyStructure;
  const int32_t refused = signing ? kCtWrongPassword : kBindBadPassword;

  // A password is reused only within its lifetime; 0 asks every time.
  Secret<kPasswordBufferSize + 1> candidate;
  const uint64_t now = TKeyTimeouts::Now();
  const bool cached = passwordLifetime_ > 0 && !password_.empty() &&
                      now - passwordEnteredAt_ <= static_cast<uint64_t>(passwordLifetime_) * 1000u;
  if (cached) std::memcpy(candidate.data(), password_.data(), std::min<size_t>(password_.size(), kPasswordBufferSize));
  bool prompted = false;
  int prompts = 0;
  int32_t result = kCtOk;
  for (int fills = 0; fills < kMaxFills; ++fills) {
    SetContextPassword(ctx, offset, reinterpret_cast<const char*>(candidate.data()));
    result = fill(ctx);
    SetContextPassword(ctx, offset, nullptr);
    if (result == kCtOk || result == kCtExpiresSoon) {
      // Only a password the toolkit accepted is kept.
      if (prompted) {
        const size_t n = strnlen(reinterpret_cast<const char*>(candidate.data()), kPasswordBufferSize);
        password_.Assign(candidate.data(), n + 1);
        passwordEnteredAt_ = TKeyTimeouts::Now();
      }
      return kBindOk;
    }
    if (result == kCtWrongPassword) {
      if (passwordRequest_ == nullptr || prompts == kMaxPrompts) return refused;
      SecureWipe(candidate.data(), candidate.size());
      ++prompts;
      if (passwordRequest_(reinterpret_cast<char*>(candidate.data()), kPasswordBufferSize) == 0) return kBindBadPassword;
      candidate.data()[kPasswordBufferSize] = 0;
      prompted = true;
      --fills;  // a refused password is counted by the prompts
      continue;
    }
    if (result == kCtSignKeyDamaged) return result;
    if (result == kCtExpired) return signing ? result : kBindKeyExpired;
    if (result == kCtExtraKey || result == kCtExtraKeyTM) return result;
    if (result == kCtTreatBeforeRead && !signing) return kBindNoTMKey;
  }
  return result == kCtWrongPassword ? refused : result;
}

// --- signing -----------------------------------------------------------------------------------

int32_t TVestaDLL::HashInto(void* hash, const uint8_t* Data, int32_t Length, int32_t Method) {
  int32_t code = api_.CTN_HashInit(hash, Method);
  for (int32_t done = 0; code == kCtOk && done < Length;) {
    const int32_t piece = std::min(HashChunkSize(), Length - done);
    code = api_.CTN_HashBuffer(hash, Data + done, piece);
    done += piece;
  }
  return code == kCtOk ? api_.CTN_HashEnd(hash) : code;
}

int32_t TVestaDLL::SignWith(ContextHandle& ctx, const uint8_t* Data, int32_t Length, uint8_t* Signature,
                            int32_t* SignatureLength, int32_t Method, const char* UID) {
  int32_t code = AcquirePassword(ContextFamily::Notary, ctx.get());
  if (code != kBindOk) return code;
  if (std::strcmp(reinterpret_cast<const char*>(ctx.bytes() + kSignOwnerUID), UID) != 0) return kBindWrongUID;
  if ((code = HashInto(ctx.bytes() + kSignHashContext, Data, Length, Method)) != kCtOk) return code;
  if ((code = api_.CTN_Sign(ctx.get(), Method)) != kCtOk) return code;
  std::memcpy(Signature, ctx.bytes() + kSignSignature, kSignatureSize);
  *SignatureLength = kSignatureSize;
  return kBindOk;
}

int32_t TVestaDLL::SignWithKeyFile(const uint8_t* Data, int32_t Length, uint8_t* Signature, int32_t* SignatureLength,
                                   const std::string& KeyFile, int32_t Method, const char* UID) {
  if (!LibLoaded) return kBindNoLibrary;
  if (Data == nullptr || Length < 1 || Signature == nullptr || SignatureLength == nullptr || UID == nullptr) {
    return kBindBadParameters;
  }
  ContextHandle ctx(api_, ContextFamily::Notary);
  if (!ctx.Construct()) return kBindNoMemory;
  const int32_t code =
      Locked(api_.CTN_GetPrivateKeyFile, ctx.get(), OrDefault(KeyFile, kDefaultSignKey).c_str());
  if (code != kCtOk) return code;
  return SignWith(ctx, Data, Length, Signature, SignatureLength, Method, UID);
}

int32_t TVestaDLL::SignWithTouchMemory(int32_t Port, const uint8_t* Data, int32_t Length, uint8_t* Signature,
                                       int32_t* SignatureLength, int32_t Method, const char* UID) {
  if (!LibLoaded) return kBindNoLibrary;
  if (Data == nullptr || Length < 1 || Signature == nullptr || SignatureLength == nullptr || UID == nullptr) {
    return kBindBadParameters;
  }
  ContextHandle sign(api_, ContextFamily::Notary), vesta(api_, ContextFamily::Vesta);
  const int32_t code = ReadTouchMemoryKeys(Port, sign, vesta);
  if (code != kBindOk) return code;
  vesta.Release();
  return SignWith(sign, Data, Length, Signature, SignatureLength, Method, UID);
}

// --- verification ------------------------------------------------------------------------------

void TVestaDLL::ForgetVerification() {
  SecureWipe(verification_.data(), verification_.size());
  lastVault_.clear();
  lastVaultSize_ = -1;
  lastVaultStamp_ = 0;
  lastSigner_.clear();
}

// A vault replaced or changed since it was read is read again.
bool TVestaDLL::VaultUnchanged(const std::string& Vault) const {
  if (Vault != lastVault_) return false;
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(Vault, bytes)) return false;
  return static_cast<int64_t>(bytes.size()) == lastVaultSize_ && ContentStamp(bytes) == lastVaultStamp_;
}

int32_t TVestaDLL::VerifySignature(const uint8_t* Data, int32_t Length, char* SignerUID, int32_t Method,
                                   const std::string& Vault, int32_t SignatureLength, const uint8_t* Signature) {
  if (!LibLoaded) return kBindNoLibrary;
  if (Data == nullptr || Length < 1 || Signature == nullptr || SignatureLength < kSignatureSize) {
    return kBindBadParameters;
  }
  uint8_t* state = verification_.data();
  uint8_t* held = state + kSignSignature;
  // The whole signature goes to the toolkit, its two spare bytes included, so that the toolkit
  // decides about every byte of it.
  std::memcpy(held, Signature, kSignatureSize);
  const std::string vault = OrDefault(Vault, kDefaultSignVault);
  const std::string signer = FieldText(Signature, kUIDChars);

  if (!VaultUnchanged(vault)) {
    const int32_t code = Locked(api_.CTN_RetrieveInfoFromVault, static_cast<void*>(state), vault.c_str());
    if (code != kCtOk) {
      ForgetVerification();
      return code;
    }
    lastVault_ = vault;
    std::vector<uint8_t> bytes;
    platform::ReadWholeFile(vault, bytes);
    lastVaultSize_ = static_cast<int64_t>(bytes.size());
    lastVaultStamp_ = ContentStamp(bytes);
    lastSigner_.clear();
  }
  if (signer != lastSigner_ || lastSigner_.empty()) {
    const int32_t code = Locked(api_.CTN_ReadPublicKeyFromVault, static_cast<void*>(state), signer.c_str(), Method);
    if (code != kCtOk) {
      lastSigner_.clear();
      return code;
    }
    lastSigner_ = signer;
  }
  int32_t code = HashInto(state + kSignHashContext, Data, Length, Method);
  if (code == kCtOk) code = api_.CTN_Not(state);
  if (code == kCtOk && SignerUID != nullptr) {
    std::memset(SignerUID, 0, kUIDChars + 1);
    std::memcpy(SignerUID, Signature, kUIDChars);
  }
  return code;
}

// --- key UIDs ----------------------------------------------------------------------------------

int32_t TVestaDLL::ReadKeyUID(ContextFamily family, const std::string& KeyFile, std::string& UID) {
  if (!LibLoaded) return kBindNoLibrary;
  if (!platform::IsFile(KeyFile)) return kBindNoKey;
  const bool signing = family == ContextFamily::Notary;
  ContextHandle ctx(api_, signing ? ContextFamily::Notary : ContextFamily::Vesta);
  if (!ctx.Construct()) return kBindNoMemory;
  int32_t code = signing ? Locked(api_.CTN_GetPrivateKeyFile, ctx.get(), KeyFile.c_str())
                         : Locked(api_.CTV_GetPrivateKeyFile, ctx.get(), KeyFile.c_str());
  if (code != kCtOk) return code;
  // Without a password the toolkit reads only the key's owner.
  code = signing ? api_.CTN_FillPrivateKeyStructure(ctx.get()) : api_.CTV_FillPrivateKeyStructure(ctx.get());
  if (code == kCtExpired || code == kCtSignKeyDamaged) return code;
  if (code == kCtWrongPassword) return kBindBadPassword;
  UID = FieldText(ctx.bytes() + (signing ? kSignOwnerUID : kVestaEntryUID), kUIDChars);
  if (UID.empty()) return kBindNoKey;
  if (!signing) UID = "$" + UID;
  return kBindOk;
}

int32_t TVestaDLL::ReadSignKeyUID(const std::string& KeyFile, std::string& UID) {
  return ReadKeyUID(ContextFamily::Notary, OrDefault(KeyFile, kDefaultSignKey), UID);
}

int32_t TVestaDLL::ReadEncryptKeyUID(const std::string& KeyFile, std::string& UID) {
  return ReadKeyUID(ContextFamily::Vesta, OrDefault(KeyFile, kDefaultEncryptKey), UID);
}

// --- texts -------------------------------------------------------------------------------------

void TVestaDLL::GetErrorText(char* Buffer, int32_t BufferSize, int32_t Code) const {
  if (Buffer == nullptr || BufferSize < 1 || Code == 0) return;
  std::memset(Buffer, 0, static_cast<size_t>(BufferSize));
  const char* text = ToolkitText(Code);
  const std::string message = text != nullptr ? Utf8ToCp1251(text) : Utf8ToCp1251(kToolkitTextPrefix) + std::to_string(Code);
  std::memcpy(Buffer, message.data(), std::min<size_t>(message.size(), static_cast<size_t>(BufferSize - 1)));
}

}  // namespace zk::lancrypto
