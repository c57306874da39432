#include "engines/lancrypto/vesta_dll.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "engines/lancrypto/vesta_texts.h"
#include "frame/cp1251.h"
#include "frame/devicewait.h"
#include "frame/errors.h"
#include "frame/keytimeouts.h"
#include "frame/rwsyncs.h"

namespace zk::lancrypto {

namespace {

constexpr int32_t kPasswordBufferSize = 255;
constexpr int kMaxPrompts = 4;
constexpr int kMaxFills = 5;  // bounds the fills that answer something unexpected too
constexpr int32_t kEncryptPiece = 16384;
constexpr int32_t kDecryptPiece = 4096;
const char* const kDefaultSignKey = "sign0000.000";
const char* const kDefaultSignVault = "not512.vlt";
const char* const kDefaultEncryptKey = "priv0000.000";
const char* const kDefaultEncryptVault = "ves512.vlt";

TCriticalSection& LoadLock() {
  static TCriticalSection lock;
  return lock;
}

// Serialises the toolkit calls that touch key files, vault files or a vault enumeration.
TCriticalSection& ToolkitCallLock() {
  static TCriticalSection lock;
  return lock;
}

// How many bytes one hash call receives: 32767 until the first encryption, 16384 afterwards.
std::atomic<int32_t> g_chunkSize{32767};

template <typename Fn, typename... Args>
int16_t Locked(Fn fn, Args... args) {
  SectionLock hold(ToolkitCallLock());
  return fn(args...);
}

std::string OrDefault(const std::string& name, const char* fallback) { return name.empty() ? fallback : name; }

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A fixed-width UID field as a string: up to its first zero.
std::string FieldText(const uint8_t* p, size_t width) {
  return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), width));
}

uint64_t ContentStamp(const std::vector<uint8_t>& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

// The ciphertext's length for a plain length: whole 8-byte blocks except for the byte-exact gamma.
int64_t BodyLength(int32_t method, int64_t plain) { return method == kMethodGamma ? plain : (plain + 7) / 8 * 8; }

}  // namespace

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

// --- contexts ----------------------------------------------------------------------------------

class ContextHandle {
 public:
  ContextHandle(const Ct512Api& api, ContextFamily family) : api_(api), family_(family) {}
  ~ContextHandle() { Release(); }
  ContextHandle(const ContextHandle&) = delete;
  ContextHandle& operator=(const ContextHandle&) = delete;

  void* get() const { return ctx_; }
  uint8_t* bytes() const { return static_cast<uint8_t*>(ctx_); }
  int size() const { return family_ == ContextFamily::Notary ? kSignContextSize : kVestaContextSize; }

  bool Construct() {
    Release();
    ctx_ = family_ == ContextFamily::Notary ? api_.CTN_SignConstructor() : api_.CTV_VestaConstructor();
    rebuilt_ = false;
    return ctx_ != nullptr;
  }
  // A plain block holding a copy of an image.
  void Rebuild(const uint8_t* image) {
    Release();
    plain_.reset(new uint8_t[size()]);
    std::memcpy(plain_.get(), image, size());
    ctx_ = plain_.get();
    rebuilt_ = true;
  }
  // A copy of the context without its password pointer, for the key image.
  void SaveTo(uint8_t* image, size_t room) const {
    ZK_ASSERT(room == static_cast<size_t>(size()), "vesta_dll");
    std::memcpy(image, ctx_, room);
    SetContextPassword(image, family_ == ContextFamily::Notary ? kSignPassword : kVestaPassword, nullptr);
  }
  void Release() {
    if (ctx_ == nullptr) return;
    SetContextPassword(ctx_, family_ == ContextFamily::Notary ? kSignPassword : kVestaPassword, nullptr);
    if (rebuilt_) {
      SecureWipe(plain_.get(), size());
      plain_.reset();
    } else if (family_ == ContextFamily::Notary) {
      api_.CTN_SignDestructor(ctx_);
    } else {
      api_.CTV_VestaDestructor(ctx_);
    }
    ctx_ = nullptr;
  }

 private:
  const Ct512Api& api_;
  ContextFamily family_;
  void* ctx_ = nullptr;
  bool rebuilt_ = false;
  std::unique_ptr<uint8_t[]> plain_;
};

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
    const int32_t piece = std::min(g_chunkSize.load(), Length - done);
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

// --- encryption --------------------------------------------------------------------------------

int32_t TVestaDLL::VestaContext(bool FromTouchMemory, int32_t Port, const std::string& KeyFile, ContextHandle& Vesta) {
  if (FromTouchMemory) {
    ContextHandle sign(api_, ContextFamily::Notary);
    return ReadTouchMemoryKeys(Port, sign, Vesta);
  }
  if (!Vesta.Construct()) return kBindNoMemory;
  return Locked(api_.CTV_GetPrivateKeyFile, Vesta.get(), OrDefault(KeyFile, kDefaultEncryptKey).c_str());
}

int32_t TVestaDLL::EncryptBuffer(bool FromTouchMemory, int32_t Port, uint8_t* Data, int32_t* Length,
                                 const char* RecipientUID, int32_t Method, const std::string& Vault,
                                 const std::string& KeyFile) {
  if (!LibLoaded) return kBindNoLibrary;
  if (Data == nullptr || Length == nullptr || *Length < 1 || RecipientUID == nullptr || RecipientUID[0] == '\0') {
    return kBindBadParameters;
  }
  const int32_t plain = *Length;
  if (static_cast<int64_t>(plain) + kEnvelopeHeaderSize + 7 > INT32_MAX) return kBindBadParameters;
  ContextHandle ctx(api_, ContextFamily::Vesta);
  int32_t code = VestaContext(FromTouchMemory, Port, KeyFile, ctx);
  if (code == kCtOk) code = AcquirePassword(ContextFamily::Vesta, ctx.get());
  const std::string vault = OrDefault(Vault, kDefaultEncryptVault);
  if (code == kCtOk) code = Locked(api_.CTV_RetrieveInfoFromVault, ctx.get(), vault.c_str());
  if (code == kCtOk) code = Locked(api_.CTV_ReadPublicKeyFromVault, ctx.get(), RecipientUID, Method);
  if (code == kCtOk) code = api_.CTV_CryptoInit(ctx.get(), Method, 0);
  if (code != kCtOk) return code;

  // The caller's buffer is written only once everything has succeeded.
  g_chunkSize.store(kEncryptPiece);
  const int32_t body = static_cast<int32_t>(BodyLength(Method, plain));
  SecureBytes work(static_cast<size_t>(body));
  std::memcpy(work.data(), Data, static_cast<size_t>(plain));
  for (int32_t done = 0; done < body;) {
    const int32_t piece = std::min(kEncryptPiece, body - done);
    const int32_t count = Method == kMethodGamma ? piece : (piece + 7) / 8;
    if ((code = api_.CTV_CryptoBuffer(ctx.get(), work.data() + done, count)) != kCtOk) return code;
    done += piece;
  }
  PutLe32(Data, static_cast<uint32_t>(plain));
  std::memcpy(Data + 4, ctx.bytes() + kVestaHeader, kHeaderSize);
  std::memcpy(Data + kEnvelopeHeaderSize, work.data(), static_cast<size_t>(body));
  *Length = kEnvelopeHeaderSize + body;
  return kBindOk;
}

int32_t TVestaDLL::DecryptBuffer(bool FromTouchMemory, int32_t Port, uint8_t* Data, int32_t* Length,
                                 char* SenderUID, const std::string& Vault, const std::string& KeyFile) {
  if (!LibLoaded) return kBindNoLibrary;
  if (Data == nullptr || Length == nullptr || *Length < 1 || SenderUID == nullptr) return kBindBadParameters;
  // The envelope's own length is checked against what arrived before anything is decrypted.
  if (*Length < kEnvelopeHeaderSize) return kBindBadEnvelope;
  const int64_t plain = static_cast<int32_t>(Le32(Data));
  const int32_t method = static_cast<int32_t>(Le32(Data + 4));
  const int64_t body = static_cast<int64_t>(*Length) - kEnvelopeHeaderSize;
  const bool known = method == kMethodGamma || method == kMethodFeedback;
  if (plain < 0 || (known ? body != BodyLength(method, plain) : (body - plain < 0 || body - plain >= 8))) {
    return kBindBadEnvelope;
  }
  ContextHandle ctx(api_, ContextFamily::Vesta);
  int32_t code = VestaContext(FromTouchMemory, Port, KeyFile, ctx);
  if (code == kCtOk) code = AcquirePassword(ContextFamily::Vesta, ctx.get());
  if (code != kCtOk) return code;
  std::memcpy(ctx.bytes() + kVestaHeader, Data + 4, kHeaderSize);
  char sender[kShortNameChars + 1] = {};
  std::memcpy(sender, Data + 4 + kHeaderShortName, kShortNameChars);
  const std::string vault = OrDefault(Vault, kDefaultEncryptVault);
  code = Locked(api_.CTV_RetrieveInfoFromVault, ctx.get(), vault.c_str());
  if (code == kCtOk) code = Locked(api_.CTV_ReadPublicKeyFromVaultByShortName, ctx.get(), static_cast<const char*>(sender), method);
  if (code != kCtOk) return code;
  const std::string senderUID = FieldText(ctx.bytes() + kVestaEntryUID, kUIDChars);
  code = api_.CTV_DecryptoInit(ctx.get(), method, 0);
  if (code != kCtOk && code != kCtOldKey) return code;

  // Decrypted into a copy: a failure leaves the caller's envelope as it was.
  SecureBytes work(static_cast<size_t>(body));
  Secret<kDecryptPiece> piece;
  const int32_t count = method == kMethodGamma ? kDecryptPiece : kDecryptPiece / 8;
  for (int64_t done = 0; done < body;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(kDecryptPiece, body - done));
    std::memcpy(piece.data(), Data + kEnvelopeHeaderSize + done, n);
    code = api_.CTV_DecryptoBuffer(ctx.get(), piece.data(), count);
    if (code != kCtOk && code != kCtOldKey) return code;
    std::memcpy(work.data() + done, piece.data(), n);
    done += static_cast<int64_t>(n);
  }
  std::memcpy(Data, work.data(), static_cast<size_t>(plain));
  *Length = static_cast<int32_t>(plain);
  std::memset(SenderUID, 0, kUIDChars + 1);
  std::memcpy(SenderUID, senderUID.c_str(), senderUID.size());
  return kBindOk;
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

// --- touch memory ------------------------------------------------------------------------------

int32_t TVestaDLL::WaitForTouchMemory(int32_t Port, void* Sign, void* Vesta) {
  TDeviceWaitOptions options;
  options.TMRequestFunc = touchMemoryRequest_;
  options.WindowTimeout = windowTimeout_;
  // Without a callback the device is still awaited, pausing between the attempts.
  options.PollWithoutCallback = true;
  const int32_t result = TDeviceWait::Run(
      options,
      [&]() -> int32_t {
        int32_t r = api_.CTN_GetPrivateKeyFromTM(Sign, Port);
        if (r == kCtOk) r = api_.CTV_GetPrivateKeyFromTM(Vesta, Port);
        return r;
      },
      [](int32_t r) { return r == kCtAttachTM; });
  switch (result) {
    case kCtNoConnection: return kBindBadPort;
    case kCtBadTM: return kBindTMType;
    case kCtTMNotFound: return kBindNoAdapter;
    case kCtExtraKey:
    case kCtExtraKeyTM: return kBindTMUnsupported;
    case kCtWriteError: return kBindTMWrite;
    case kCtReadError: return kBindTMRead;
    default: return result;
  }
}

int32_t TVestaDLL::OwnerOf(ContextHandle& Sign, std::string& UID) {
  Secret<kSignContextSize> copy;
  Sign.SaveTo(copy.data(), copy.size());
  const int32_t code = api_.CTN_FillPrivateKeyStructure(copy.data());
  if (code == kCtExpired || code == kCtSignKeyDamaged) return code;
  if (code == kCtWrongPassword) return kBindBadPassword;
  UID = FieldText(copy.data() + kSignOwnerUID, kUIDChars);
  return UID.empty() ? kBindNoKey : kBindOk;
}

int32_t TVestaDLL::ReadTouchMemoryKeys(int32_t Port, ContextHandle& Sign, ContextHandle& Vesta) {
  // The image stands in for the device only for the port it was read from.
  if (!image_.Owner.empty() && image_.Port == Port) {
    Sign.Rebuild(image_.Sign.data());
    Vesta.Rebuild(image_.Vesta.data());
    return kBindOk;
  }
  if (!Sign.Construct() || !Vesta.Construct()) return kBindNoMemory;
  image_.Clear();
  const int32_t code = WaitForTouchMemory(Port, Sign.get(), Vesta.get());
  Sign.SaveTo(image_.Sign.data(), image_.Sign.size());
  Vesta.SaveTo(image_.Vesta.data(), image_.Vesta.size());
  image_.ReadAt = TKeyTimeouts::Now();
  image_.Port = Port;
  if (code != kCtOk) return code;
  std::string owner;
  const int32_t filled = OwnerOf(Sign, owner);
  if (filled == kBindOk) image_.Owner = owner;
  return filled;
}

int32_t TVestaDLL::ReadTouchMemoryUID(int32_t Port, std::string& UID) {
  if (!LibLoaded) return kBindNoLibrary;
  ContextHandle sign(api_, ContextFamily::Notary), vesta(api_, ContextFamily::Vesta);
  const int32_t code = ReadTouchMemoryKeys(Port, sign, vesta);
  if (code != kBindOk) return code;
  UID = image_.Owner;
  return kBindOk;
}

// --- the vaults --------------------------------------------------------------------------------

int32_t TVestaDLL::CreateVaultIfMissing(ContextFamily family, void* ctx, const std::string& Vault) {
  if (platform::IsFile(Vault)) return kCtOk;
  auto create = family == ContextFamily::Notary ? api_.CTN_CreateVaultFile : api_.CTV_CreateVaultFile;
  if (create == nullptr) return kCtCreateVault;
  return Locked(create, ctx, Vault.c_str());
}

int32_t TVestaDLL::AddPublicKeyToVault(const std::string& PublicKeyFile, const std::string& Vault) {
  if (!LibLoaded) return kBindNoLibrary;
  ContextHandle ctx(api_, ContextFamily::Notary);
  if (!ctx.Construct()) return kBindNoMemory;
  // The vault changes (or may have changed): the next verification reads it again.
  ForgetVerification();
  const std::string vault = OrDefault(Vault, kDefaultSignVault);
  int32_t code = Locked(api_.CTN_ReadPublicKeyFile, ctx.get(), PublicKeyFile.c_str());
  if (code != kCtOk) {
    code = api_.CTN_ReadFullPublicKeyFile != nullptr
               ? Locked(api_.CTN_ReadFullPublicKeyFile, ctx.get(), PublicKeyFile.c_str())
               : kCtNoPublicKey;
  }
  if (code == kCtOk) code = CreateVaultIfMissing(ContextFamily::Notary, ctx.get(), vault);
  if (code == kCtOk) code = Locked(api_.CTN_RetrieveInfoFromVault, ctx.get(), vault.c_str());
  if (code == kCtOk) code = Locked(api_.CTN_WritePublicKeyToVault, ctx.get(), vault.c_str());
  return code;
}

int32_t TVestaDLL::FindInVault(ContextFamily family, void* ctx, const std::string& Vault, int32_t Method,
                               const std::string& UID, std::string& ShortName) {
  const bool notary = family == ContextFamily::Notary;
  int32_t code = CreateVaultIfMissing(family, ctx, Vault);
  if (code == kCtOk) {
    code = notary ? Locked(api_.CTN_RetrieveInfoFromVault, ctx, Vault.c_str())
                  : Locked(api_.CTV_RetrieveInfoFromVault, ctx, Vault.c_str());
  }
  if (code != kCtOk) return code;
  const uint8_t* bytes = static_cast<const uint8_t*>(ctx);
  const int uidAt = notary ? kSignOwnerUID : kVestaEntryUID;
  const int shortAt = notary ? kSignShortName : kVestaShortName;
  const int maskAt = notary ? kSignMethodMask : kVestaMethodMask;
  for (bool first = true;; first = false) {
    code = notary ? Locked(first ? api_.CTN_FindFirstPublicKeyInVault : api_.CTN_FindNextPublicKeyInVault, ctx)
                  : Locked(first ? api_.CTV_FindFirstPublicKeyInVault : api_.CTV_FindNextPublicKeyInVault, ctx);
    if (code == kCtUnknownUser || code == kCtNoVault) return kCtOk;  // the end of the vault
    if (code != kCtOk) return code;
    if (FieldText(bytes + uidAt, kUIDChars) == UID && (Le32(bytes + maskAt) & static_cast<uint32_t>(Method)) != 0) {
      ShortName = FieldText(bytes + shortAt, kShortNameChars);
      return kCtOk;
    }
  }
}

int32_t TVestaDLL::RemovePublicKey(const std::string& SignVault, const std::string& EncryptVault,
                                   int32_t EncryptMethod, int32_t SignMethod, const std::string& UID) {
  if (!LibLoaded) return kBindNoLibrary;
  ContextHandle vesta(api_, ContextFamily::Vesta), sign(api_, ContextFamily::Notary);
  if (!vesta.Construct() || !sign.Construct()) return kBindNoMemory;
  ForgetVerification();
  const std::string encryptVault = OrDefault(EncryptVault, kDefaultEncryptVault);
  const std::string signVault = OrDefault(SignVault, kDefaultSignVault);
  std::string vestaShort, signShort;
  int32_t code = FindInVault(ContextFamily::Vesta, vesta.get(), encryptVault, EncryptMethod, UID, vestaShort);
  if (code == kCtOk) code = FindInVault(ContextFamily::Notary, sign.get(), signVault, SignMethod, UID, signShort);
  if (code != kCtOk) return code;
  // Only a removal that happened, or found nothing left to remove, counts as success.
  auto settled = [](int32_t r) { return r == kCtOk || r == kCtUnknownUser ? kCtOk : r; };
  if (!vestaShort.empty()) {
    code = settled(Locked(api_.CTV_RemovePublicKeyFromVault, vesta.get(), vestaShort.c_str(), encryptVault.c_str()));
    if (code != kCtOk) return code;
  }
  if (!signShort.empty()) {
    code = settled(Locked(api_.CTN_RemovePublicKeyFromVault, sign.get(), signShort.c_str(), signVault.c_str()));
  }
  return code;
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
