#include "engines/excellence/excel4_dll.h"

#include <algorithm>
#include <cstring>

#include "frame/devicewait.h"
#include "frame/rwsyncs.h"
#include "frame/secure.h"

namespace zk::excellence {

namespace {

struct CodeText {
  int32_t code;
  const char* text;
};

const CodeText kBindingTexts[] = {
    {kDllNotLoaded, "Library not loaded"},
    {kDllNoCryptoData, "Can't get crypto data from library"},
    {kDllNotInitialized, "Library not initialized"},
    {kDllInvalidParameters, "Passed invalid parameters"},
    {kDllNoStatus, "Can't get crypto status"},
    {kDllException, "An exception while calling DLL function"},
    {kDllSettings, "Can't set crypto parameters"},
    {kDllBadPointer, "Null pointer or incorrect data size (buffer) passed to the function!"},
    {kDllNoCommand, "Crypto command isn't set!"},
    {kDllNoFile, "Specified file isn't exist!"},
    {kDllParameterRange, "Parameter number out of bounds!"},
};

TCriticalSection& ModuleLock() {
  static TCriticalSection lock;
  return lock;
}

// "cryst.dll", loaded once under the process lock and kept for the process; null while it cannot
// be loaded (a later binding tries again).
platform::ModuleHandle ToolkitModule() {
  static platform::ModuleHandle module = nullptr;
  SectionLock hold(ModuleLock());
  if (module == nullptr) module = LoadToolkitLibrary("cryst.dll");
  return module;
}

bool IsBlank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

// A copy of a UID as the toolkit takes it for a lookup; false when it would not fit.
bool CopyUIDKey(const char* UID, char (&Buffer)[kUIDKeySize], int32_t& Length) {
  const size_t length = strnlen(UID, kUIDKeySize);
  if (length >= kUIDKeySize) return false;
  std::memcpy(Buffer, UID, length + 1);
  Length = static_cast<int32_t>(length);
  return true;
}

std::string UIDFromBuffer(const char* Buffer, size_t Size) { return std::string(Buffer, strnlen(Buffer, Size)); }

}  // namespace

TCryptoDLL::TCryptoDLL() {
  const platform::ModuleHandle module = ToolkitModule();
  if (module == nullptr) return;
  LibLoaded = true;
  FunctionsPresent = true;
#define X(name) Resolve(module, #name, api_.name);
  ZK_CRYST_FUNCTIONS
#undef X
}

TCryptoDLL::~TCryptoDLL() {
  Close();
  SecureWipe(Password_, sizeof(Password_));
}

int32_t TCryptoDLL::Open() {
  if (!LibLoaded || api_.OpenCrypto == nullptr) return kDllNotLoaded;
  Context_ = api_.OpenCrypto(-1);
  return Context_ == nullptr ? kDllNoCryptoData : kOk;
}

void TCryptoDLL::Close() {
  if (!LibLoaded || Context_ == nullptr) return;
  if (api_.EndCrypto != nullptr) api_.EndCrypto(Context_);
  if (api_.CloseCrypto != nullptr) api_.CloseCrypto(Context_);
  Context_ = nullptr;
}

void TCryptoDLL::SetPassword(const char* Password) {
  SecureWipe(Password_, sizeof(Password_));
  if (Password != nullptr) std::memcpy(Password_, Password, strnlen(Password, kPasswordSize));
}

int32_t TCryptoDLL::LastError() { return api_.CryptoGetLastError != nullptr ? api_.CryptoGetLastError(Context_) : kDllNotInitialized; }

int32_t TCryptoDLL::ApplyUserSettings(const UserSettings& S) {
  if (!LibLoaded) return kDllNotLoaded;
  if (api_.SetCryptoSettings == nullptr || Context_ == nullptr || api_.CryptoGetLastError == nullptr) {
    return kDllNotInitialized;
  }
  api_.ReadSettingsFrom(Context_, -1);
  auto sendText = [&](int32_t number, const std::string& value) {
    return api_.SetUserSettings(Context_, number, value.c_str(), static_cast<int32_t>(value.size())) != 0;
  };
  auto sendInt = [&](int32_t number, int32_t value) {
    return api_.SetUserSettings(Context_, number, &value, sizeof(value)) != 0;
  };
  auto sendShort = [&](int32_t number, uint16_t value) {
    return api_.SetUserSettings(Context_, number, &value, sizeof(value)) != 0;
  };
  bool sent = sendText(kSetSecretKeyDir, S.SecretKeyDir) && sendText(kSetPublicKeyDir, S.PublicKeyDir) &&
              sendText(kSetSignatureAlg, S.SigAlg) && sendText(kSetEncryptionAlg, S.EncAlg) &&
              sendText(kSetLanguage, S.Language) && sendInt(kSetReserved15, 0) &&
              (S.WorkDir.empty() || sendText(kSetWorkDir, S.WorkDir)) && sendInt(kSetReserved17, 0) &&
              sendInt(kSetReserved18, 0) && sendShort(kSetSignatureKeyLen, S.SigKeyLen) &&
              sendShort(kSetExchangeKeyLen, S.ExchKeyLen);
  // A master key file takes precedence over a key device: the device settings are not sent then.
  if (sent && !IsBlank(S.MasterKeyFile)) {
    sent = sendText(kSetMasterKeyFile, S.MasterKeyFile);
  } else if (sent && !IsBlank(S.DeviceDll)) {
    // c_str() carries the NUL that follows the name; the length does not count it.
    sent = sendText(kSetDeviceDll, S.DeviceDll) && sendInt(kSetPort, S.Port) && sendInt(kSetDeviceType, S.DeviceType);
  }
  if (!sent) return kDllSettings;
  return api_.BeginCrypto(Context_, "", "");
}

int32_t TCryptoDLL::RunRetrying(int32_t TMTimeout, const std::function<int32_t()>& Call) {
  TDeviceWaitOptions wait;
  wait.TMRequestFunc = TMRequestFunc;
  wait.WindowTimeout = TMTimeout;
  // Every round starts with BeginCrypto; a refusal there ends the run with its code.
  return TDeviceWait::Run(
      wait,
      [&] {
        const int32_t r = api_.BeginCrypto(Context_, Password_, "");
        return r != kOk ? r : Call();
      },
      [](int32_t r) { return r == kToolkitDeviceAbsent; });
}

int32_t TCryptoDLL::RunMemory(const uint8_t* Data, int32_t DataLen, int32_t TMTimeout, const char* Options,
                              CryptoResult& Result) {
  if (api_.CryptoMemoryToNewMemory == nullptr || Context_ == nullptr) return kDllNotInitialized;
  return RunRetrying(TMTimeout, [&] {
    // A round the toolkit refused may still have handed out a buffer.
    FreeResult(Result);
    return api_.CryptoMemoryToNewMemory(Context_, Data, DataLen, &Result, Options);
  });
}

void TCryptoDLL::FreeResult(CryptoResult& Result) {
  if (Result.Data != nullptr && api_.CryptoFreeMemory != nullptr) api_.CryptoFreeMemory(Result.Data);
  Result = CryptoResult{};
}

int32_t TCryptoDLL::RunCommand(const std::string& Options, int32_t TMTimeout, std::string& Message) {
  if (!LibLoaded) return kDllNotLoaded;
  if (api_.Crypto == nullptr || Context_ == nullptr || api_.CryptoGetLastError == nullptr) return kDllNotInitialized;
  if (Options.empty()) return kDllNoCommand;
  const int32_t r = RunRetrying(TMTimeout, [&] { return api_.Crypto(Context_, Options.c_str()); });
  if (r != kOk && api_.GetCryptoMessage != nullptr) {
    const char* text = api_.GetCryptoMessage(Context_);
    Message = text != nullptr ? text : "";
  }
  return r;
}

int32_t TCryptoDLL::RunFile(const std::string& FileName, const std::string& Options, int32_t TMTimeout,
                            std::string& Message) {
  if (!LibLoaded) return kDllNotLoaded;
  if (api_.CryptoFile == nullptr || Context_ == nullptr || api_.CryptoGetLastError == nullptr) {
    return kDllNotInitialized;
  }
  if (IsBlank(FileName)) return kDllNoFile;
  if (IsBlank(Options)) return kDllNoCommand;
  const int32_t r =
      RunRetrying(TMTimeout, [&] { return api_.CryptoFile(Context_, FileName.c_str(), Options.c_str()); });
  if (r != kOk && api_.GetCryptoMessage != nullptr) {
    const char* text = api_.GetCryptoMessage(Context_);
    Message = text != nullptr ? text : "";
  }
  return r;
}

int32_t TCryptoDLL::ReadCurrentUID(std::string& UID) {
  if (api_.GetMemoryCryptoStatus == nullptr || Context_ == nullptr || api_.GetUserAttributes == nullptr) {
    return kDllNotInitialized;
  }
  int32_t owner = 0;
  char buffer[kToolkitUIDSize] = {};
  int32_t size = sizeof(buffer);
  if (api_.GetUserAttributes(Context_, kAttrUserNumber, &owner, sizeof(owner), kAttrUID, buffer, &size) == 0) {
    return LastError();
  }
  UID = UIDFromBuffer(buffer, sizeof(buffer));
  return kOk;
}

int32_t TCryptoDLL::GetUserInt(const char* UID, int32_t Attribute, int32_t& Value) {
  if (UID == nullptr) return kDllBadPointer;
  if (!LibLoaded) return kDllNotLoaded;
  if (api_.GetUserAttributes == nullptr) return kDllNotInitialized;
  char key[kUIDKeySize];
  int32_t keyLen = 0;
  if (!CopyUIDKey(UID, key, keyLen)) return kDllBadPointer;
  // Room for a wider answer than the int32 read from it, so no toolkit writes past it.
  uint8_t out[8] = {};
  int32_t size = sizeof(out);
  const bool found = api_.GetUserAttributes(Context_, kAttrUID, key, keyLen, Attribute, out, &size) != 0;
  SecureWipe(key, sizeof(key));
  if (!found) return LastError();
  std::memcpy(&Value, out, sizeof(Value));
  return kOk;
}

int32_t TCryptoDLL::GetUserNumber(const char* UID, int32_t& Number) { return GetUserInt(UID, kAttrUserNumber, Number); }

int32_t TCryptoDLL::GetUserAttribute5(const char* UID, int32_t& Value) { return GetUserInt(UID, kAttrGeneration, Value); }

int32_t TCryptoDLL::UIDOfKeyId(const uint8_t* KeyId, std::string& UID) {
  char buffer[kToolkitUIDSize] = {};
  int32_t size = sizeof(buffer);
  if (api_.GetUserAttributes(Context_, kAttrKeyId, KeyId, kKeyIdSize, kAttrUID, buffer, &size) == 0) {
    return LastError();
  }
  UID = UIDFromBuffer(buffer, sizeof(buffer));
  return kOk;
}

int32_t TCryptoDLL::ReadPartyUID(const uint8_t* Data, int32_t DataLen, Party Which, std::string& UID) {
  if (api_.GetMemoryCryptoStatus == nullptr || Context_ == nullptr || api_.GetUserAttributes == nullptr) {
    return kDllNotInitialized;
  }
  if (Data == nullptr || DataLen < 1) return kDllBadPointer;
  CryptoStatus* status = api_.GetMemoryCryptoStatus(Context_, Data, DataLen);
  if (status == nullptr) return kDllNoStatus;
  int32_t r = kDllNoStatus;
  if (Which == Party::Sender && status->Count >= 1 && status->SenderKeyId[0] != 0) {
    r = UIDOfKeyId(status->SenderKeyId, UID);
  } else if (Which == Party::Signer && status->SignerKeyId != nullptr) {
    r = UIDOfKeyId(status->SignerKeyId, UID);
  }
  api_.FreeCryptoStatus(status);
  return r;
}

int32_t TCryptoDLL::ReadSenderUID(const uint8_t* Data, int32_t DataLen, std::string& UID) {
  return ReadPartyUID(Data, DataLen, Party::Sender, UID);
}

int32_t TCryptoDLL::ReadSignerUID(const uint8_t* Data, int32_t DataLen, std::string& UID) {
  return ReadPartyUID(Data, DataLen, Party::Signer, UID);
}

void TCryptoDLL::GetErrorText(char* Buffer, int32_t MaxLen, int32_t Code) {
  if (Buffer == nullptr || MaxLen < 1 || Code == kOk) return;
  std::memset(Buffer, 0, static_cast<size_t>(MaxLen));
  for (const CodeText& entry : kBindingTexts) {
    if (entry.code != Code) continue;
    // Cut to leave the terminator in place.
    std::memcpy(Buffer, entry.text, std::min(std::strlen(entry.text), static_cast<size_t>(MaxLen - 1)));
    return;
  }
  if (Context_ != nullptr && api_.MakeCryptoMessage != nullptr) {
    api_.MakeCryptoMessage(Context_, 0, Code, Buffer, MaxLen, "");
    Buffer[MaxLen - 1] = '\0';
  }
}

}  // namespace zk::excellence
