// The password protocol and the operations on data and keys of the Excellence engine.
#include <cstring>
#include <vector>

#include "engines/excellence/ce_exc4.h"
#include "engines/excellence/exc4_codes.h"
#include "engines/excellence/exc4_passwords.h"
#include "frame/errors.h"
#include "frame/fileutils.h"
#include "frame/secure.h"
#include "frame/textrules.h"
#include "platform/platform.h"

namespace zk {

using namespace excellence;

namespace {

// A password is asked for at most this many times per operation.
constexpr int kMaxPrompts = 4;

// The cache lock, taken and released as the protocol goes; released at the latest when it ends.
class CashHold {
 public:
  explicit CashHold(TCriticalSection& lock) : lock_(lock) {}
  ~CashHold() { Release(); }
  void Take() {
    if (!held_) lock_.Enter();
    held_ = true;
  }
  void Release() {
    if (held_) lock_.Leave();
    held_ = false;
  }

 private:
  TCriticalSection& lock_;
  bool held_ = false;
};

// The toolkit's result buffer, given back to the toolkit on every way out.
struct ResultHolder {
  explicit ResultHolder(TCryptoDLL& binding) : binding(binding) {}
  ~ResultHolder() { binding.FreeResult(result); }
  ResultHolder(const ResultHolder&) = delete;
  ResultHolder& operator=(const ResultHolder&) = delete;
  bool Fits(int64_t room) const { return result.Length >= 0 && result.Length <= room && (result.Length == 0 || result.Data); }
  TCryptoDLL& binding;
  CryptoResult result{};
};

void WipeString(std::string& s) {
  SecureWipe(&s[0], s.size());
  s.clear();
}

}  // namespace

TExc4CryptoEngine::Timeouts TExc4CryptoEngine::ReadTimeouts() const {
  Timeouts t;
  t.Password = TimeoutSeconds(ParamValue(kPasswordTimeoutParam), 60, 5);
  t.LastOperation = TimeoutSeconds(ParamValue(kLastOpTimeoutParam), 5, 5);
  t.TouchMemory = TimeoutSeconds(ParamValue(kTMTimeoutParam), 5, 5);
  return t;
}

template <typename Run>
int32_t TExc4CryptoEngine::WithPassword(TCryptoDLL& Binding, Run run) {
  const Timeouts t = ReadTimeouts();
  if (Binding.PasswordRequestFunc == nullptr) return run(t.TouchMemory);
  std::string uid;
  if (Binding.ReadCurrentUID(uid) != kOk) uid.clear();
  // Without a UID every user would share one entry: such a password is asked for and not kept.
  const bool cacheable = !uid.empty();
  const std::string key = kEngineType + uid;
  TExc4PasswordCash& cache = TExc4PasswordCash::Instance();
  CashHold hold(cache.Lock());
  hold.Take();
  std::string password;
  bool reused = cacheable && cache.Reusable(key, t.Password, t.LastOperation, password);
  if (reused) hold.Release();
  bool typed = false;
  int32_t r = kOk;
  for (int prompts = 0;; ++prompts) {
    Binding.SetPassword(password.c_str());
    r = run(t.TouchMemory);
    if (r != kToolkitPasswordNeeded || prompts == kMaxPrompts) break;
    // From the first prompt on, prompting is serialised by the cache lock.
    hold.Take();
    reused = false;
    char buffer[kPasswordSize + 1] = {};
    const bool answered = Binding.PasswordRequestFunc(buffer, static_cast<int32_t>(kPasswordSize)) != 0;
    buffer[kPasswordSize] = '\0';
    WipeString(password);
    password = buffer;
    SecureWipe(buffer, sizeof(buffer));
    typed = answered;
    if (!answered) break;
  }
  Binding.SetPassword(nullptr);
  hold.Take();
  if (cacheable) {
    // Only a password the toolkit did not refuse is kept; a refused one is dropped.
    if (r == kToolkitPasswordNeeded) {
      cache.Forget(key);
    } else if (typed) {
      cache.Entered(key, password, t.Password, t.LastOperation);
    } else if (reused) {
      cache.Used(key, t.LastOperation);
    }
  }
  WipeString(password);
  return r;
}

int32_t TExc4CryptoEngine::RunWithPassword(TCryptoDLL& Binding, const uint8_t* Data, int32_t DataLen,
                                           CryptoResult& Result, const std::string& Options) {
  return WithPassword(Binding, [&](int32_t tmTimeout) {
    return Binding.RunMemory(Data, DataLen, tmTimeout, Options.c_str(), Result);
  });
}

int32_t TExc4CryptoEngine::RunCommandWithPassword(TCryptoDLL& Binding, const std::string& Options) {
  std::string message;
  const int32_t r =
      WithPassword(Binding, [&](int32_t tmTimeout) { return Binding.RunCommand(Options, tmTimeout, message); });
  if (!message.empty()) ErrorText.SetText(message);
  return r;
}

int32_t TExc4CryptoEngine::RunFileWithPassword(TCryptoDLL& Binding, const std::string& FileName,
                                               const std::string& Options) {
  std::string message;
  const int32_t r = WithPassword(
      Binding, [&](int32_t tmTimeout) { return Binding.RunFile(FileName, Options, tmTimeout, message); });
  if (!message.empty()) ErrorText.SetText(message);
  return r;
}

int32_t TExc4CryptoEngine::EncodeOptions(TCryptoDLL& Binding, const char* RecipientUIDs, std::string& Options) {
  const std::string list = RecipientUIDs != nullptr && RecipientUIDs[0] != '\0' ? std::string(RecipientUIDs)
                                                                                  : Trim(ParamValue(kRecipientParam));
  Options = "-e";
  if (list.empty()) return kOk;
  std::vector<std::string> pieces;
  if (ParseSemicolonList(list.c_str(), pieces) < 1) return kErrRecipients;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (Trim(pieces[i]).empty()) return kErrRecipients;
    int32_t number = 0;
    const int32_t code = Binding.GetUserNumber(pieces[i].c_str(), number);
    if (code != kOk) return code;
    Options += (i == 0 ? "" : ",") + std::to_string(number);
  }
  return kOk;
}

int32_t TExc4CryptoEngine::DecodeOptions(TCryptoDLL& Binding, std::string& Options) {
  const std::string text = Trim(ParamValue(kPreviousKeysParam));
  if (text.empty() || text == "0") {
    Options = "-d";
    return kOk;
  }
  int32_t generation = 0;
  if (!ParseInteger32(text, generation)) return kErrPreviousKeys;
  if (generation < 0) {
    // Counted back from the generation of the user's current key.
    std::string own;
    int32_t current = 0;
    int32_t code = Binding.ReadCurrentUID(own);
    if (code == kOk) code = Binding.GetUserAttribute5(own.c_str(), current);
    if (code != kOk) return code;
    generation += current;
    if (generation < 0) return kErrPreviousKeys;
  }
  Options = "-o0:" + std::to_string(generation) + " -d";
  return kOk;
}

int32_t TExc4CryptoEngine::EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  return Capture("TExc4CryptoEngine.EncodeData: ", kErrException,
                 [&] { return DoEncodeData(Data, DataLen, RecipientUIDs); });
}

int32_t TExc4CryptoEngine::DoEncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) {
  TCryptoDLL* binding = nullptr;
  int32_t code = GetBinding(binding);
  if (code != kOk) return code;
  if (Data == nullptr) return kErrBadData;
  ZK_REQUIRE_NOT_NULL(DataLen);
  if (*DataLen < 0) return kErrBadData;
  if ((code = ApplySettingsTo(*binding)) != kOk) return code;
  std::string options;
  if ((code = EncodeOptions(*binding, RecipientUIDs, options)) != kOk) return code;
  ResultHolder out(*binding);
  if ((code = RunWithPassword(*binding, Data, *DataLen, out.result, options)) != kOk) return code;
  // The caller's buffer holds the data and GetMaxEncodeAddition bytes more, nothing beyond.
  if (!out.Fits(static_cast<int64_t>(*DataLen) + kMaxEncodeAddition)) return kErrBadData;
  std::memcpy(Data, out.result.Data, static_cast<size_t>(out.result.Length));
  *DataLen = out.result.Length;
  return kOk;
}

int32_t TExc4CryptoEngine::DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  return Capture("TExc4CryptoEngine.DecodeData: ", kErrException,
                 [&] { return DoDecodeData(Data, DataLen, SenderUID); });
}

int32_t TExc4CryptoEngine::DoDecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) {
  TCryptoDLL* binding = nullptr;
  int32_t code = GetBinding(binding);
  if (code != kOk) return code;
  ZK_REQUIRE_NOT_NULL(DataLen);
  if (Data == nullptr || *DataLen < 1 || SenderUID == nullptr) return kErrBadData;
  if ((code = ApplySettingsTo(*binding)) != kOk) return code;
  std::string options;
  if ((code = DecodeOptions(*binding, options)) != kOk) return code;
  ResultHolder out(*binding);
  if ((code = RunWithPassword(*binding, Data, *DataLen, out.result, options)) != kOk) return code;
  // Read from the envelope before the plaintext replaces it; a failure leaves the data as it was.
  std::string sender;
  if ((code = binding->ReadSenderUID(Data, *DataLen, sender)) != kOk) return code;
  if (!out.Fits(*DataLen)) return kErrBadData;
  std::memcpy(Data, out.result.Data, static_cast<size_t>(out.result.Length));
  *DataLen = out.result.Length;
  CopyPCharLimited(sender.c_str(), SenderUID, GetMaxUIDLength());
  return kOk;
}

int32_t TExc4CryptoEngine::SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                                    const char*) {
  // The signer is the owner of the secret keys; SignUID does not choose another.
  return Capture("TExc4CryptoEngine.SignData: ", kErrException,
                 [&] { return DoSignData(Data, DataLen, Signature, SignatureLen); });
}

int32_t TExc4CryptoEngine::DoSignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature,
                                      int32_t* SignatureLen) {
  if (Data == nullptr || Signature == nullptr || DataLen < 1) return kErrBadData;
  ZK_REQUIRE_NOT_NULL(SignatureLen);
  TCryptoDLL* binding = nullptr;
  int32_t code = Prepare(binding);
  if (code != kOk) return code;
  ResultHolder out(*binding);
  if ((code = RunWithPassword(*binding, Data, DataLen, out.result, "-s")) != kOk) return code;
  // The toolkit answers the data followed by the signature; only the signature is returned.
  const int64_t length = static_cast<int64_t>(out.result.Length) - DataLen;
  ZK_ASSERT(length > 0 && out.result.Data != nullptr, "dlls.sys\\CR_EXC4\\ce_exc4");
  if (length > kMaxSignatureLength) return kErrBadData;
  std::memcpy(Signature, out.result.Data + DataLen, static_cast<size_t>(length));
  *SignatureLen = static_cast<int32_t>(length);
  return kOk;
}

int32_t TExc4CryptoEngine::VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                      int32_t SignatureLen, char* SignerUID) {
  return Capture("TExc4CryptoEngine.VerifyData: ", kErrException,
                 [&] { return DoVerifyData(Data, DataLen, Signature, SignatureLen, SignerUID); });
}

int32_t TExc4CryptoEngine::DoVerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature,
                                        int32_t SignatureLen, char* SignerUID) {
  if (SignatureLen > kMaxSignatureLength || DataLen < 1 || SignatureLen < 1 || Data == nullptr ||
      Signature == nullptr || SignerUID == nullptr) {
    return kErrBadData;
  }
  if (static_cast<int64_t>(DataLen) + SignatureLen > INT32_MAX) return kErrBadData;
  TCryptoDLL* binding = nullptr;
  int32_t code = Prepare(binding);
  if (code != kOk) return code;
  // The toolkit checks the data followed by its signature, as "-s" made them.
  std::vector<uint8_t> signed_(static_cast<size_t>(DataLen) + static_cast<size_t>(SignatureLen));
  std::memcpy(signed_.data(), Data, static_cast<size_t>(DataLen));
  std::memcpy(signed_.data() + DataLen, Signature, static_cast<size_t>(SignatureLen));
  const int32_t length = static_cast<int32_t>(signed_.size());
  ResultHolder out(*binding);
  if ((code = RunWithPassword(*binding, signed_.data(), length, out.result, "-v")) != kOk) return code;
  std::string signer;
  if ((code = binding->ReadSignerUID(signed_.data(), length, signer)) != kOk) return code;
  CopyPCharLimited(signer.c_str(), SignerUID, GetMaxUIDLength());
  return kOk;
}

int32_t TExc4CryptoEngine::IncludePublicKey(const char* FileName) {
  return Capture("TExc4CryptoEngine.IncludePublicKey: ", kErrException, [&] {
    if (FileName == nullptr) return kErrBadData;
    TCryptoDLL* binding = nullptr;
    int32_t code = GetBinding(binding);
    if (code != kOk) return code;
    const std::string file = ExpandRootMacro(FileName);
    if (!platform::IsFile(file)) return kErrPublicKeyFile;
    if ((code = ApplySettingsTo(*binding)) != kOk) return code;
    return RunFileWithPassword(*binding, platform::NativePath(file), "-m -x");
  });
}

int32_t TExc4CryptoEngine::RemoveCertificate(const char* UID) {
  return Capture("TExc4CryptoEngine.RemoveCertificate: ", kErrException, [&] {
    if (UID == nullptr) return kErrBadData;
    TCryptoDLL* binding = nullptr;
    int32_t code = Prepare(binding);
    if (code != kOk) return code;
    int32_t number = 0;
    if ((code = binding->GetUserNumber(UID, number)) != kOk) return code;
    return RunCommandWithPassword(*binding, "-j" + std::to_string(number));
  });
}

}  // namespace zk
