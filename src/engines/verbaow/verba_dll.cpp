#include "engines/verbaow/verba_dll.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engines/verbaow/verba_codes.h"
#include "frame/devicewait.h"
#include "frame/rwsyncs.h"
#include "frame/secure.h"

namespace zk::verbaow {

namespace {

// Larger than any signature the toolkit makes, so its write never reaches a caller's buffer.
constexpr uint32_t kSignatureBuffer = 4096;
constexpr size_t kSenderIDBuffer = 64;
constexpr int64_t kPublicKeyFileSize4 = 240;
constexpr int64_t kPublicKeyFileSize5 = 304;

struct ToolkitModule {
  TCriticalSection lock;
  platform::ModuleHandle module = nullptr;
  int32_t generation = 4;
};

ToolkitModule& Toolkit() {
  static ToolkitModule toolkit;
  return toolkit;
}

int32_t GenerationOfVersion(uint32_t versionMS) {
  const uint32_t major = versionMS >> 16;
  return major >= 6 ? 6 : major >= 5 ? 5 : 4;
}

// "wbotho.dll", loaded once per process; its file version fixes the generation.
platform::ModuleHandle LoadToolkit() {
  ToolkitModule& t = Toolkit();
  SectionLock hold(t.lock);
  if (t.module != nullptr) return t.module;
  t.module = LoadToolkitLibrary("wbotho.dll");
  uint32_t ms = 0, ls = 0;
  if (t.module != nullptr && platform::FileVersion(platform::ModuleFileName(t.module), ms, ls)) {
    t.generation = GenerationOfVersion(ms);
  }
  return t.module;
}

bool IsKeyDeviceName(const std::string& device) {
  std::string upper = device;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kNames[] = {"TM:A4.P", "TM:COM0", "TM:COM1", "TM:COM2", "SC:GSR4", "SC:TOWT"};
  return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return upper == n; });
}

// Results that mean "the key or its removable device cannot be read (yet)".
bool DeviceNotReady(int32_t code) {
  static const int32_t kCodes[] = {6, 34, 35, 36, 101, 105, 106};
  return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

// Paths go to the toolkit in the system's own form; device names stay as they are.
std::string ToolkitPath(const std::string& path) { return platform::NativePath(path); }

const char* Kind(bool isSignatureKey) { return isSignatureKey ? "S" : "E"; }

bool OwnIDFits(const std::string& id, bool isSignatureKey) {
  return id.size() == (isSignatureKey ? kSignIDLength : kEncodeIDLength);
}

}  // namespace

TVerbaODLL::TVerbaODLL() {
  const platform::ModuleHandle module = LoadToolkit();
  if (module == nullptr) return;
  LibLoaded = true;
  FunctionsPresent = true;
#define X(name) Resolve(module, #name, api_.name);
  ZK_VERBAOW_FUNCTIONS
#undef X
}

int32_t TVerbaODLL::Generation() {
  ToolkitModule& t = Toolkit();
  SectionLock hold(t.lock);
  return t.generation;
}

bool TVerbaODLL::PublicKeyFileSizeAccepted(int64_t size) {
  switch (Generation()) {
    case 4:
      return size == kPublicKeyFileSize4;
    case 5:
      return size == kPublicKeyFileSize5;
    default:
      return size == kPublicKeyFileSize4 || size == kPublicKeyFileSize5;
  }
}

int32_t TVerbaODLL::WithDevice(const std::function<int16_t()>& Call) {
  TDeviceWaitOptions options;
  options.TMRequestFunc = TMRequestFunc;
  options.WindowTimeout = Device.WindowTimeout;
  // Without a host callback the user may still attach the key: keep polling, silently.
  options.PollWithoutCallback = true;
  const bool removable = IsKeyDeviceName(Device.Name);
  return TDeviceWait::Run(
      options, [&] { return static_cast<int32_t>(Call()); },
      [&](int32_t code) { return removable && DeviceNotReady(code); });
}

int32_t TVerbaODLL::OpenCrypto(const std::string& SecretPath, const std::string& PublicPath) {
  return api_.CryptoInit(ToolkitPath(SecretPath).c_str(), ToolkitPath(PublicPath).c_str());
}

int32_t TVerbaODLL::CloseCrypto() { return api_.CryptoDone(); }

int32_t TVerbaODLL::OpenSign(const std::string& SecretPath, const std::string& PublicPath) {
  return api_.SignInit(ToolkitPath(SecretPath).c_str(), ToolkitPath(PublicPath).c_str());
}

int32_t TVerbaODLL::CloseSign() { return api_.SignDone(); }

int32_t TVerbaODLL::EncryptMemory(const uint8_t* Data, int32_t Length, uint8_t* Out, uint16_t OwnKeyNumber,
                                  const std::vector<uint16_t>& Recipients, const std::string& KeySerial) {
  if (Data == nullptr || Out == nullptr || Length < 1) return kErrBadArgs;
  if (Recipients.size() < 2 || Recipients.back() != 0 || Recipients.front() == 0) return kErrRecipients;
  return WithDevice([&] {
    return api_.EnCryptMem(Data, static_cast<uint32_t>(Length), Out, OwnKeyNumber, Recipients.data(),
                           KeySerial.c_str());
  });
}

int32_t TVerbaODLL::DecryptMemory(uint8_t* Data, int32_t& Length, std::string& SenderID, uint16_t OwnKeyNumber) {
  if (Data == nullptr || Length < 1) return kErrBadArgs;
  // The toolkit writes the 10-character identifier and its zero; the buffer leaves room to spare.
  char sender[kSenderIDBuffer] = {};
  int32_t code = api_.GetMemSenderID(Data, static_cast<uint32_t>(Length), sender);
  SenderID.assign(sender, strnlen(sender, sizeof sender - 1));
  if (code != kOk) return code;
  // A failed decryption in place would leave neither ciphertext nor plain text.
  SecureBytes copy(Data, static_cast<size_t>(Length));
  uint32_t length = static_cast<uint32_t>(Length);
  code = WithDevice([&] { return api_.DeCryptMem(copy.data(), &length, OwnKeyNumber); });
  if (code != kOk) return code;
  if (length > static_cast<uint32_t>(Length)) return kErrBadArgs;
  std::memcpy(Data, copy.data(), length);
  Length = static_cast<int32_t>(length);
  return kOk;
}

int32_t TVerbaODLL::SignMemory(const uint8_t* Data, int32_t Length, std::vector<uint8_t>& Signature,
                               const std::string& SignerID) {
  if (Data == nullptr || Length < 1) return kErrBadArgs;
  if (SignerID.size() < 6) return kErrIdentifier;
  std::vector<uint8_t> buffer(kSignatureBuffer, 0);
  uint32_t length = 0;
  const int32_t code = WithDevice([&] {
    return api_.SignMemSeparateEx(Data, static_cast<uint32_t>(Length), buffer.data(), SignerID.c_str(), &length);
  });
  if (code != kOk) return code;
  if (length < 1 || length > kSignatureBuffer) return kErrBadArgs;
  Signature.assign(buffer.begin(), buffer.begin() + length);
  return kOk;
}

int32_t TVerbaODLL::CheckSignature(const uint8_t* Data, int32_t Length, const uint8_t* Signature,
                                   int32_t SignatureLength, std::string& SignerID) {
  if (Data == nullptr || Signature == nullptr || Length < 1 || SignatureLength < 1) return kErrBadArgs;
  uint8_t count = 0;
  uint8_t* block = nullptr;
  int32_t code = api_.CheckMemSeparate(Data, static_cast<uint32_t>(Length), Signature, &count, &block,
                                       static_cast<uint32_t>(SignatureLength));
  if (code == kOk && (count < 1 || block == nullptr)) code = kErrSignatureCount;
  if (code == kOk) {
    const uint8_t status = block[kCheckStatusAt];
    if (status != 0) {
      code = kBadSignatureBase + status;
    } else {
      const char* id = reinterpret_cast<const char*>(block);
      SignerID.assign(id, strnlen(id, kSignIdChars));
    }
  }
  if (block != nullptr) api_.FreeMemory(block);
  return code;
}

int32_t TVerbaODLL::AddPublicKey(const std::string& File, const std::string& PublicDir, bool IsSignatureKey,
                                 const std::string& OwnKeyID) {
  if (!platform::IsFile(File)) return kErrNoKeyFile;
  if (!platform::IsDirectory(PublicDir)) return kErrNoDirectory;
  if (!OwnIDFits(OwnKeyID, IsSignatureKey)) return kErrIdentifier;
  const int64_t size = platform::FileSize(File);
  if (size < 0) return kErrKeyFileOpen;
  if (!PublicKeyFileSizeAccepted(size)) return kErrKeyFileSize;
  std::vector<uint8_t> key;
  if (!platform::ReadWholeFile(File, key, static_cast<size_t>(size)) || static_cast<int64_t>(key.size()) != size) {
    return kErrKeyFileRead;
  }
  // The toolkit gets no length: a file whose head announces the larger form must not lead it past
  // the bytes read.
  key.resize(static_cast<size_t>(kPublicKeyFileSize5), 0);
  return api_.AddOpenKey(ToolkitPath(PublicDir).c_str(), key.data(), OwnKeyID.c_str(), Kind(IsSignatureKey));
}

int32_t TVerbaODLL::DeletePublicKey(const std::string& PublicDir, const std::string& OwnKeyID, bool IsSignatureKey,
                                    const std::string& UID) {
  if (!platform::IsDirectory(PublicDir)) return kErrNoDirectory;
  if (!OwnIDFits(OwnKeyID, IsSignatureKey)) return kErrIdentifier;
  return api_.DelOpenKey(ToolkitPath(PublicDir).c_str(), UID.c_str(), OwnKeyID.c_str(), Kind(IsSignatureKey));
}

void TVerbaODLL::GetErrorText(char* Buffer, int32_t Size, int32_t Code) {
  if (Buffer == nullptr || Size < 1) return;
  std::memset(Buffer, 0, static_cast<size_t>(Size));
  const std::string text = BindingText(Code);
  std::memcpy(Buffer, text.data(), std::min(text.size(), static_cast<size_t>(Size - 1)));
}

}  // namespace zk::verbaow
