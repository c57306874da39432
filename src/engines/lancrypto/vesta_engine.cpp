#include "engines/lancrypto/vesta_engine.h"

#include <cstdlib>
#include <cstring>

#include "engines/lancrypto/vesta_texts.h"
#include "frame/cp1251.h"
#include "frame/errors.h"
#include "frame/keytimeouts.h"
#include "frame/rwsyncs.h"
#include "frame/textrules.h"
#include "platform/platform.h"

namespace zk {

using namespace lancrypto;

namespace {

constexpr char kEngineType[] = "LAN Crypto/2.35";
constexpr int32_t kOk = 0;
constexpr int32_t kBadArguments = 2;
constexpr int32_t kException = 102;
constexpr int32_t kCopyFailed = 104;
constexpr int32_t kBadMethod = 109;
constexpr int32_t kBadPort = 111;
constexpr int32_t kOwnKey = 118;
constexpr int32_t kNoLibrary = 120;
constexpr int32_t kFunctionsMissing = 121;
constexpr int32_t kDefaultWindow = 5;

// Creating or dropping a binding takes the write side; operations take the read side.
TRWCriticalSection& EngineLock() {
  static TRWCriticalSection lock;
  return lock;
}

// The touch-memory key image of the process: a user touches the key once and works for the
// time-out without touching it again.
struct TouchMemoryCache {
  TCriticalSection lock;
  bool present = false;
  TouchMemoryImage record;
};
TouchMemoryCache& Cache() {
  static TouchMemoryCache cache;
  return cache;
}

// Empty, non-numeric or negative values give the fallback.
int32_t Seconds(const std::string& text, int32_t fallback) {
  int32_t v = 0;
  return ParseInteger32(text, v) && v >= 0 ? v : fallback;
}

void CopyImage(const TouchMemoryImage& from, TouchMemoryImage& to) {
  std::memcpy(to.Sign.data(), from.Sign.data(), from.Sign.size());
  std::memcpy(to.Vesta.data(), from.Vesta.data(), from.Vesta.size());
  to.ReadAt = from.ReadAt;
  to.Port = from.Port;
  to.Owner = from.Owner;
}

// A UID into a caller's buffer of `size` bytes; false when it would not fit whole.
bool PutUID(const std::string& uid, char* out, int32_t size) {
  if (uid.size() >= static_cast<size_t>(size)) return false;
  std::memcpy(out, uid.c_str(), uid.size() + 1);
  return true;
}

}  // namespace

TVesta235Engine::TVesta235Engine() {
  AddParam("Sign private key", "sign0000.000");
  AddParam("Sign vault", "not512.vlt");
  AddParam("Sign method", "256");
  AddParam("Sign UID", "Demo             000");
  AddParam("Encrypt private key", "priv0000.000");
  AddParam("Encrypt vault", "ves512.vlt");
  AddParam("Encrypt method", "16");
  AddParam("Encrypt UID", "Demo             000");
  AddParam("New user name", "");
  AddParam("New short user name", "");
  AddParam("New key expire period", "0");
  AddParam("Touch memory port number", "0");
  AddParam("Password/TM Request Time Out", "0");
  AddParam("Template directory", "");
  AddParam("Encrypt for UID", "");
  AddParam("Touch Memory Window Time Out", "5");
}

TVesta235Engine::~TVesta235Engine() {
  WriteLock hold(EngineLock());
  binding_.reset();
}

int32_t TVesta235Engine::EnsureBinding() {
  {
    ReadLock hold(EngineLock());
    if (binding_ && binding_->LibLoaded && binding_->FunctionsPresent) return kOk;
  }
  // The read side is given up first: two threads upgrading at once would wait for each other.
  WriteLock hold(EngineLock());
  if (!binding_ || !binding_->LibLoaded || !binding_->FunctionsPresent) binding_ = std::make_unique<TVestaDLL>();
  if (!binding_->LibLoaded || !binding_->FunctionsPresent) {
    const int32_t code = binding_->LibLoaded ? kFunctionsMissing : kNoLibrary;
    binding_.reset();
    return code;
  }
  return kOk;
}

int32_t TVesta235Engine::WithBinding(const Operation& op) {
  const int32_t code = EnsureBinding();
  if (code != kOk) return code;
  ReadLock shared(EngineLock());
  std::lock_guard<std::mutex> own(binding_->Lock());
  binding_->SetCallbacks(PasswordRequestFunc, TMRequestFunc);
  binding_->SetPasswordLifetime(Seconds(ParamValue(kTimeoutParam), 0));
  binding_->SetWindowTimeout(Seconds(ParamValue(kWindowParam), kDefaultWindow));
  return op(*binding_);
}

int32_t TVesta235Engine::WithTouchMemory(int32_t Port, const Operation& op) {
  const int32_t reuse = Seconds(ParamValue(kTimeoutParam), 0);
  return WithBinding([&](TVestaDLL& binding) {
    TouchMemoryCache& cache = Cache();
    TouchMemoryImage& image = binding.Image();
    // A device reading holds the cache lock until its image is stored: one reading at a time.
    cache.lock.Enter();
    const TouchMemoryImage& record = cache.record;
    const bool hit = cache.present && reuse > 0 && !record.Owner.empty() && record.Port == Port &&
                     TKeyTimeouts::Now() - record.ReadAt <= static_cast<uint64_t>(reuse) * 1000u;
    if (hit) {
      CopyImage(record, image);
      cache.lock.Leave();
    } else {
      image.Clear();
    }
    struct StoreBack {
      TouchMemoryCache& cache;
      TouchMemoryImage& image;
      bool relock;
      ~StoreBack() {
        if (relock) cache.lock.Enter();
        CopyImage(image, cache.record);
        cache.present = true;
        cache.lock.Leave();
      }
    } storeBack{cache, image, hit};
    return op(binding);
  });
}

int32_t TVesta235Engine::KeySource(int32_t& Port) const {
  const std::string value = ParamValue(kPortParam);
  Port = 0;
  if (value.empty()) return kOk;
  int32_t n = 0;
  if (!ParseInteger32(value, n)) return kBadPort;
  Port = n == 1 || n == 2 ? n : 0;
  return kOk;
}

int32_t TVesta235Engine::Method(size_t Param, int32_t& Value) const {
  return ParseInteger32(ParamValue(Param), Value) ? kOk : kBadMethod;
}

void TVesta235Engine::GetCryptoEngineType(char* TypeName) {
  if (TypeName != nullptr) std::memcpy(TypeName, kEngineType, sizeof(kEngineType));
}

int32_t TVesta235Engine::GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) {
  return Capture("TVesta235Engine.GetEncodeUIDBySignUID: ", kException, [&] {
    if (SignUID == nullptr || EncodeUID == nullptr) return kBadArguments;
    return CopyPCharLimited(SignUID, EncodeUID, GetMaxUIDLength()) ? kOk : kCopyFailed;
  });
}

int32_t TVesta235Engine::GetCurrentUID(char* UID) {
  return Capture("TVesta235Engine.GetCurrentUID: ", kException, [&] {
    if (UID == nullptr) return kBadArguments;
    std::memset(UID, 0, static_cast<size_t>(GetMaxUIDLength()));
    int32_t port = 0;
    int32_t code = KeySource(port);
    if (code != kOk) return code;
    std::string own;
    if (port != 0) {
      code = WithTouchMemory(port, [&](TVestaDLL& b) { return b.ReadTouchMemoryUID(port, own); });
    } else if (!ParamValue(kSignKeyParam).empty()) {
      code = WithBinding([&](TVestaDLL& b) { return b.ReadSignKeyUID(Path(kSignKeyParam), own); });
    } else {
      code = WithBinding([&](TVestaDLL& b) { return b.ReadEncryptKeyUID(Path(kEncryptKeyParam), own); });
    }
    if (code != kOk) return code;
    return PutUID(own, UID, GetMaxUIDLength()) ? kOk : kCopyFailed;
  });
}

void TVesta235Engine::GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) {
  if (ErrorText == nullptr) return;
  const char* text = EngineText(ErrorCode);
  if (text != nullptr) {
    std::string message = Utf8ToCp1251(text);
    if (ErrorCode == kException) message += this->ErrorText.GetText();
    WriteErrorText(message, ErrorText);
    return;
  }
  WriteErrorText("", ErrorText);
  const int32_t size = GetMaxErrorStringLength();
  // The toolkit's table needs the binding but none of its state: no operation's lock is taken, so
  // a host may ask for a text from inside a callback.
  const int32_t code = Capture("TVesta235Engine.GetCryptoErrorString: ", kException, [&] {
    const int32_t ready = EnsureBinding();
    if (ready != kOk) return ready;
    ReadLock shared(EngineLock());
    binding_->GetErrorText(ErrorText, size, ErrorCode);
    return kOk;
  });
  if (code != kOk) WriteErrorText(Utf8ToCp1251(kNoBindingText), ErrorText);
}

int32_t TVesta235Engine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TVesta235Engine.EncodeData: ", kException, [&] {
    if (Data == nullptr || DataLen == nullptr || *DataLen < 1) return kBadArguments;
    std::string recipient = RecipientUIDs != nullptr ? RecipientUIDs : "";
    if (recipient.empty()) recipient = ParamValue(kEncryptForParam);
    if (recipient.empty()) recipient = ParamValue(kEncryptUIDParam);
    if (!recipient.empty() && recipient[0] == '$') recipient.erase(0, 1);
    int32_t port = 0, method = 0;
    int32_t code = KeySource(port);
    if (code == kOk) code = Method(kEncryptMethodParam, method);
    if (code != kOk) return code;
    auto encrypt = [&](TVestaDLL& b) {
      return b.EncryptBuffer(port != 0, port, Data, DataLen, recipient.c_str(), method, Path(kEncryptVaultParam),
                             Path(kEncryptKeyParam));
    };
    return port != 0 ? WithTouchMemory(port, encrypt) : WithBinding(encrypt);
  });
}

int32_t TVesta235Engine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  return Capture("TVesta235Engine.DecodeData: ", kException, [&] {
    if (Data == nullptr || DataLen == nullptr || *DataLen < 1 || SenderUID == nullptr) return kBadArguments;
    SenderUID[0] = '\0';
    int32_t port = 0;
    int32_t code = KeySource(port);
    if (code != kOk) return code;
    char sender[kUIDChars + 1] = {};
    auto decrypt = [&](TVestaDLL& b) {
      return b.DecryptBuffer(port != 0, port, Data, DataLen, sender, Path(kEncryptVaultParam), Path(kEncryptKeyParam));
    };
    code = port != 0 ? WithTouchMemory(port, decrypt) : WithBinding(decrypt);
    // Encryption UIDs of this engine carry a leading "$".
    if (code == kOk && !PutUID(std::string("$") + sender, SenderUID, GetMaxUIDLength())) return kCopyFailed;
    return code;
  });
}

int32_t TVesta235Engine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                  const char* SignUID) {
  return Capture("TVesta235Engine.SignData: ", kException, [&] {
    if (Data == nullptr || Signature == nullptr || SignatureLen == nullptr || DataLen < 1) return kBadArguments;
    const std::string signer = SignUID != nullptr && SignUID[0] != '\0' ? SignUID : ParamValue(kSignUIDParam);
    int32_t port = 0, method = 0;
    int32_t code = KeySource(port);
    if (code == kOk) code = Method(kSignMethodParam, method);
    if (code != kOk) return code;
    if (port != 0) {
      return WithTouchMemory(port, [&](TVestaDLL& b) {
        return b.SignWithTouchMemory(port, Data, DataLen, Signature, SignatureLen, method, signer.c_str());
      });
    }
    return WithBinding([&](TVestaDLL& b) {
      return b.SignWithKeyFile(Data, DataLen, Signature, SignatureLen, Path(kSignKeyParam), method, signer.c_str());
    });
  });
}

int32_t TVesta235Engine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                    int32_t SignatureLen, char* SignerUID) {
  return Capture("TVesta235Engine.VerifyData: ", kException, [&] {
    // A signature is 92 bytes: a shorter one would be read past its end.
    if (SignatureLen > GetMaxSignatureLength() || SignatureLen < kSignatureSize || Data == nullptr ||
        Signature == nullptr || DataLen < 1 || SignerUID == nullptr) {
      return kBadArguments;
    }
    SignerUID[0] = '\0';
    int32_t method = 0;
    const int32_t code = Method(kSignMethodParam, method);
    if (code != kOk) return code;
    return WithBinding([&](TVestaDLL& b) {
      return b.VerifySignature(Data, DataLen, SignerUID, method, Path(kSignVaultParam), SignatureLen, Signature);
    });
  });
}

int32_t TVesta235Engine::IncludePublicKey(const char* FileName) {
  return Capture("TVesta235Engine.IncludePublicKey: ", kException, [&] {
    if (FileName == nullptr) return kBadArguments;
    const std::string file = platform::NativePath(ExpandRootMacro(FileName));
    return WithBinding([&](TVestaDLL& b) { return b.AddPublicKeyToVault(file, Path(kSignVaultParam)); });
  });
}

int32_t TVesta235Engine::RemoveCertificate(const char* UID) {
  return Capture("TVesta235Engine.RemoveCertificate: ", kException, [&] {
    if (UID == nullptr || UID[0] == '\0') return kBadArguments;
    // Encryption UIDs carry a "$" that the vaults do not.
    const std::string uid = UID[0] == '$' ? std::string(UID + 1) : std::string(UID);
    if (uid.empty()) return kBadArguments;
    if (uid == ParamValue(kSignUIDParam) || uid == ParamValue(kEncryptUIDParam)) return kOwnKey;
    int32_t signMethod = 0, encryptMethod = 0;
    int32_t code = Method(kSignMethodParam, signMethod);
    if (code == kOk) code = Method(kEncryptMethodParam, encryptMethod);
    if (code != kOk) return code;
    return WithBinding([&](TVestaDLL& b) {
      return b.RemovePublicKey(Path(kSignVaultParam), Path(kEncryptVaultParam), encryptMethod, signMethod, uid);
    });
  });
}

void TVesta235Engine::ClearCash() {
  TouchMemoryCache& cache = Cache();
  SectionLock hold(cache.lock);
  cache.record.Clear();
  cache.present = false;
}

}  // namespace zk
