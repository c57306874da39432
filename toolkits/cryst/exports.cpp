// The 30 functions of cryst.dll. Each asks the control entry first under its own name: a scripted
// code is answered as the function answers failures (the code itself, or false / null with the
// code as the context's last error).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <cstring>
#include <mutex>
#include <set>

#include "cryst_internal.h"
#include "frame/cp1251.h"
#include "standin.h"

namespace cryst {

namespace {

struct CodeEntry {
  int32_t code;
  const char* en;
  const char* ru;  // UTF-8 here; handed out in Windows-1251
};

const CodeEntry kTexts[] = {
    {kUnknownUser, "User or key not found", "Пользователь или ключ не найден"},
    {kBadSignature, "Signature is not valid", "Подпись неверна"},
    {kNotForYou, "Data are not encrypted for this user", "Данные зашифрованы не для этого пользователя"},
    {kDamaged, "Crypto data are damaged", "Криптографические данные повреждены"},
    {kTooManyRecipients, "Too many recipients", "Слишком много получателей"},
    {kBadSettings, "Bad crypto settings", "Неверные настройки"},
    {kNotSupported, "Command is not supported", "Команда не поддерживается"},
    {kKeyStore, "Key store is missing or damaged", "Ключевой носитель отсутствует или поврежден"},
    {kFileError, "File error", "Ошибка работы с файлом"},
    {kOwnKey, "Operation on the own key refused", "Операция с собственным ключом запрещена"},
    {kBadParameter, "Invalid parameter", "Неверный параметр"},
    {kBufferTooSmall, "Buffer too small", "Недостаточный размер буфера"},
    {kUnknownSender, "Sender's key not found", "Ключ отправителя не найден"},
    {kNoMemory, "Not enough memory", "Недостаточно памяти"},
    {kPasswordNeeded, "Password is missing or wrong", "Пароль не задан или неверен"},
    {kDeviceAbsent, "Key device is not attached", "Ключевой носитель не подключен"},
};

std::mutex& ContextLock() {
  static standin::Immortal<std::mutex> lock;
  return lock.get();
}

std::set<Context*>& Contexts() {
  static standin::Immortal<std::set<Context*>> contexts;
  return contexts.get();
}

// The live context of a call, or null; the call's script is asked first.
Context* Enter(CrystContext handle, const char* function, int32_t& scripted) {
  scripted = standin::Hook(function);
  return Live(handle);
}

bool EqualsNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

bool Apply(Settings& s, int32_t number, const void* value, int32_t length) {
  const std::string text(static_cast<const char*>(value), static_cast<size_t>(length));
  auto word = [&](int32_t& out) {
    if (length != 4) return false;
    std::memcpy(&out, value, 4);
    return true;
  };
  auto half = [&](uint16_t& out) {
    if (length != 2) return false;
    std::memcpy(&out, value, 2);
    return true;
  };
  int32_t ignored = 0;
  switch (number) {
    case zk::excellence::kSetSecretKeyDir: s.SecretKeyDir = text; return true;
    case zk::excellence::kSetPublicKeyDir: s.PublicKeyDir = text; return true;
    case zk::excellence::kSetSignatureAlg: s.SigAlg = text; return EqualsNoCase(text, "GOST");
    case zk::excellence::kSetEncryptionAlg: s.EncAlg = text; return EqualsNoCase(text, "GOST");
    case zk::excellence::kSetLanguage: s.Language = text; return EqualsNoCase(text, "EN") || EqualsNoCase(text, "RU");
    case zk::excellence::kSetWorkDir: s.WorkDir = text; return true;
    case zk::excellence::kSetMasterKeyFile: s.MasterKeyFile = text; return true;
    case zk::excellence::kSetDeviceDll: s.DeviceDll = text; return true;
    case zk::excellence::kSetPort: return word(s.Port);
    case zk::excellence::kSetDeviceType: return word(s.DeviceType);
    case zk::excellence::kSetSignatureKeyLen: return half(s.SigKeyLen);
    case zk::excellence::kSetExchangeKeyLen: return half(s.ExchKeyLen);
    case zk::excellence::kSetReserved15:
    case zk::excellence::kSetReserved17:
    case zk::excellence::kSetReserved18: return word(ignored);
    default: return false;
  }
}

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(path), error);
}

// What BeginCrypto checks before any command: the algorithms and the places of the keys.
int32_t CheckSettings(const Settings& s) {
  if (!EqualsNoCase(s.SigAlg, "GOST") || !EqualsNoCase(s.EncAlg, "GOST")) return kBadSettings;
  std::error_code error;
  if (!IsBlank(s.MasterKeyFile) && !std::filesystem::is_regular_file(std::filesystem::path(s.MasterKeyFile), error)) {
    return kKeyStore;
  }
  if (IsBlank(s.DeviceDll) && !IsDirectory(s.SecretKeyDir)) return kKeyStore;
  return IsDirectory(s.PublicKeyDir) ? kOk : kKeyStore;
}

// A result buffer remembers in front of its bytes their size and whether they are secret (a
// plaintext), so that a secret one is wiped when it goes.
constexpr size_t kResultHeader = 16;

uint8_t* NewResult(const Bytes& bytes, bool secret) {
  auto* block = static_cast<uint8_t*>(std::malloc(kResultHeader + bytes.size()));
  if (block == nullptr) return nullptr;
  const uint64_t size = bytes.size();
  std::memcpy(block, &size, sizeof(size));
  block[8] = secret ? 1 : 0;
  if (!bytes.empty()) std::memcpy(block + kResultHeader, bytes.data(), bytes.size());
  return block + kResultHeader;
}

struct StatusBox {
  CryptoStatus status;
  uint8_t signer[8];
};

}  // namespace

Context* Live(CrystContext Handle) {
  std::lock_guard<std::mutex> hold(ContextLock());
  auto* c = static_cast<Context*>(Handle);
  return Contexts().count(c) != 0 ? c : nullptr;
}

int32_t Fail(Context& C, int32_t Code) {
  C.LastError = Code;
  C.Message = CodeText(C, Code);
  return Code;
}

std::string CodeText(const Context& C, int32_t Code) {
  const bool russian = EqualsNoCase(C.S.Language, "RU");
  for (const auto& entry : kTexts) {
    if (entry.code == Code) return russian ? zk::Utf8ToCp1251(entry.ru) : std::string(entry.en);
  }
  return (russian ? zk::Utf8ToCp1251("Ошибка ") : std::string("Error ")) + std::to_string(Code);
}

}  // namespace cryst

using namespace cryst;

#define CRYST_EXPORT STANDIN_EXPORT

CRYST_EXPORT CrystContext CRYST_CALL OpenCrypto(int32_t) {
  if (standin::Hook("OpenCrypto") != 0) return nullptr;
  auto* c = new (std::nothrow) Context();
  if (c == nullptr) return nullptr;
  std::lock_guard<std::mutex> hold(ContextLock());
  Contexts().insert(c);
  return c;
}

CRYST_EXPORT int32_t CRYST_CALL BeginCrypto(CrystContext Handle, const char* Password, const char*) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "BeginCrypto", scripted);
  if (c == nullptr) return kBadParameter;
  if (scripted != 0) return Fail(*c, scripted);
  gost::Wipe(&c->Password[0], c->Password.size());
  c->Password = Password != nullptr ? Password : "";
  const int32_t code = CheckSettings(c->S);
  return code != kOk ? Fail(*c, code) : kOk;
}

CRYST_EXPORT int32_t CRYST_CALL EndCrypto(CrystContext Handle) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "EndCrypto", scripted);
  if (c == nullptr) return kBadParameter;
  gost::Wipe(&c->Password[0], c->Password.size());
  c->Password.clear();
  return scripted;
}

CRYST_EXPORT int32_t CRYST_CALL CloseCrypto(CrystContext Handle) {
  const int32_t scripted = standin::Hook("CloseCrypto");
  Context* c = Live(Handle);
  if (c == nullptr) return kBadParameter;
  {
    std::lock_guard<std::mutex> hold(ContextLock());
    Contexts().erase(c);
  }
  gost::Wipe(&c->Password[0], c->Password.size());
  delete c;
  return scripted;
}

CRYST_EXPORT int32_t CRYST_CALL CryptoGetLastError(CrystContext Handle) {
  standin::Hook("CryptoGetLastError");
  Context* c = Live(Handle);
  return c != nullptr ? c->LastError : kBadParameter;
}

CRYST_EXPORT const char* CRYST_CALL GetCryptoMessage(CrystContext Handle) {
  standin::Hook("GetCryptoMessage");
  Context* c = Live(Handle);
  return c != nullptr ? c->Message.c_str() : "";
}

CRYST_EXPORT int32_t CRYST_CALL MakeCryptoMessage(CrystContext Handle, int32_t, int32_t Code, char* Buffer,
                                                  int32_t MaxLen, const char*) {
  standin::Hook("MakeCryptoMessage");
  Context* c = Live(Handle);
  if (c == nullptr || Buffer == nullptr || MaxLen < 1) return 0;
  const std::string text = CodeText(*c, Code);
  const size_t n = std::min(text.size(), static_cast<size_t>(MaxLen - 1));
  std::memcpy(Buffer, text.data(), n);
  Buffer[n] = '\0';
  return static_cast<int32_t>(n);
}

CRYST_EXPORT int32_t CRYST_CALL ReadSettingsFrom(CrystContext Handle, int32_t Source) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "ReadSettingsFrom", scripted);
  if (c == nullptr) return kBadParameter;
  if (scripted != 0) return Fail(*c, scripted);
  if (Source != -1) return Fail(*c, kNotSupported);
  c->S = Settings();
  return kOk;
}

CRYST_EXPORT int32_t CRYST_CALL SetUserSettings(CrystContext Handle, int32_t Number, const void* Value,
                                                int32_t Length) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "SetUserSettings", scripted);
  if (c == nullptr) return 0;
  if (scripted != 0) return Fail(*c, scripted), 0;
  if (Length < 0 || (Value == nullptr && Length > 0)) return Fail(*c, kBadParameter), 0;
  if (!Apply(c->S, Number, Value != nullptr ? Value : "", Length)) return Fail(*c, kBadSettings), 0;
  return 1;
}

CRYST_EXPORT int32_t CRYST_CALL CryptoMemoryToNewMemory(CrystContext Handle, const uint8_t* Data, int32_t Length,
                                                        CryptoResult* Result, const char* Options) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "CryptoMemoryToNewMemory", scripted);
  if (c == nullptr || Result == nullptr) return kBadParameter;
  if (scripted != 0) return Fail(*c, scripted);
  Bytes output;
  const int32_t code = RunMemoryCommand(*c, Data, Length, Options != nullptr ? Options : "", output);
  if (code != kOk) return Fail(*c, code);
  // A scripted padding makes the answer longer than the command's, to test a caller's bounds.
  const int32_t pad = standin::Hook("CryptoMemoryToNewMemory.pad");
  if (pad > 0) output.resize(output.size() + static_cast<size_t>(pad), 0xA5);
  const bool secret = std::strstr(Options != nullptr ? Options : "", "-d") != nullptr;
  Result->Data = NewResult(output, secret);
  if (secret) gost::Wipe(output.data(), output.size());
  if (Result->Data == nullptr) return Fail(*c, kNoMemory);
  Result->Length = static_cast<int32_t>(output.size());
  return kOk;
}

CRYST_EXPORT void CRYST_CALL CryptoFreeMemory(uint8_t* Data) {
  standin::Hook("CryptoFreeMemory");
  if (Data == nullptr) return;
  uint8_t* block = Data - kResultHeader;
  uint64_t size = 0;
  std::memcpy(&size, block, sizeof(size));
  if (block[8] != 0) gost::Wipe(block, kResultHeader + static_cast<size_t>(size));
  std::free(block);
}

CRYST_EXPORT int32_t CRYST_CALL Crypto(CrystContext Handle, const char* Options) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "Crypto", scripted);
  if (c == nullptr) return kBadParameter;
  if (scripted != 0) return Fail(*c, scripted);
  const std::string options = Options != nullptr ? Options : "";
  if (options.compare(0, 2, "-j") != 0 || options.size() < 3 || options.size() > 11 ||
      options.find_first_not_of("0123456789", 2) != std::string::npos) {
    return Fail(*c, kNotSupported);
  }
  const int32_t code = RemoveUser(*c, std::atoi(options.c_str() + 2));
  return code != kOk ? Fail(*c, code) : kOk;
}

CRYST_EXPORT int32_t CRYST_CALL CryptoFile(CrystContext Handle, const char* FileName, const char* Options) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "CryptoFile", scripted);
  if (c == nullptr) return kBadParameter;
  if (scripted != 0) return Fail(*c, scripted);
  if (FileName == nullptr || Options == nullptr || std::strcmp(Options, "-m -x") != 0) return Fail(*c, kNotSupported);
  const int32_t code = ImportPublicKeyFile(*c, FileName);
  return code != kOk ? Fail(*c, code) : kOk;
}

CRYST_EXPORT CryptoStatus* CRYST_CALL GetMemoryCryptoStatus(CrystContext Handle, const uint8_t* Data, int32_t Length) {
  int32_t scripted = 0;
  Context* c = Enter(Handle, "GetMemoryCryptoStatus", scripted);
  if (c == nullptr) return nullptr;
  if (scripted != 0) return Fail(*c, scripted), nullptr;
  if (Data == nullptr || Length < 1) return Fail(*c, kBadParameter), nullptr;
  auto* box = new (std::nothrow) StatusBox();
  if (box == nullptr) return Fail(*c, kNoMemory), nullptr;
  const size_t len = static_cast<size_t>(Length);
  if (len >= 24 && std::memcmp(Data, "EXE1", 4) == 0) {
    box->status.Count = static_cast<int32_t>(ReadLE32(Data + 4));
    std::memcpy(box->status.SenderKeyId, Data + 8, 8);
    return &box->status;
  }
  if (len > 84 && std::memcmp(Data + len - 84, "EXS1", 4) == 0) {
    std::memcpy(box->signer, Data + len - 80, 8);
    box->status.SignerKeyId = box->signer;
    return &box->status;
  }
  delete box;
  return Fail(*c, kDamaged), nullptr;
}

CRYST_EXPORT void CRYST_CALL FreeCryptoStatus(CryptoStatus* Status) {
  standin::Hook("FreeCryptoStatus");
  delete reinterpret_cast<StatusBox*>(Status);
}

// The control entry of the stand-ins (C calling convention, as for every stand-in).
STANDIN_EXPORT int StandIn_Control(const char* command) { return standin::Control(command); }
