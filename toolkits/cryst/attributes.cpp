// GetUserAttributes, and the functions the adapter resolves but never calls: they are present
// and answer "not supported".
#include <cstring>

#include "cryst_internal.h"
#include "standin.h"

namespace cryst {

namespace {

// The user named by (KeyAttr, KeyValue): its number and the key the value names (the newest
// generation unless a key id names an older one).
int32_t FindUser(const Context& C, int32_t KeyAttr, const uint8_t* KeyValue, int32_t KeyLen, int32_t& Number,
                 PublicKey& Key) {
  switch (KeyAttr) {
    case zk::excellence::kAttrUserNumber:
      if (KeyLen != 4) return kBadParameter;
      std::memcpy(&Number, KeyValue, 4);
      return Number < 0 ? kUnknownUser : CurrentKeyOf(C, Number, Key);
    case zk::excellence::kAttrKeyId:
      return KeyLen != 8 ? kBadParameter : KeyById(C, KeyValue, Key, Number);
    case zk::excellence::kAttrUID: {
      const std::string uid(reinterpret_cast<const char*>(KeyValue),
                            strnlen(reinterpret_cast<const char*>(KeyValue), static_cast<size_t>(KeyLen)));
      if (uid.empty()) return kUnknownUser;
      std::vector<PublicKey> own;
      if (OwnerKeys(C, own) == kOk && own.back().UID == uid) {
        Number = 0;
        Key = own.back();
        return kOk;
      }
      std::vector<Correspondent> all;
      const int32_t code = Correspondents(C, all);
      if (code != kOk) return code;
      bool found = false;
      for (const Correspondent& one : all) {
        if (one.Key.UID != uid || (found && one.Key.Generation < Key.Generation)) continue;
        Number = one.Number;
        Key = one.Key;
        found = true;
      }
      return found ? kOk : kUnknownUser;
    }
    default:
      return kBadParameter;
  }
}

int32_t WriteAttribute(int32_t WantAttr, int32_t Number, const PublicKey& Key, void* Out, int32_t* OutSize) {
  const void* value = nullptr;
  int32_t size = 0;
  const int32_t generation = Key.Generation;
  switch (WantAttr) {
    case zk::excellence::kAttrUserNumber: value = &Number; size = 4; break;
    case zk::excellence::kAttrKeyId: value = Key.KeyId; size = 8; break;
    case zk::excellence::kAttrUID: value = Key.UID.c_str(); size = static_cast<int32_t>(Key.UID.size()) + 1; break;
    case zk::excellence::kAttrGeneration: value = &generation; size = 4; break;
    default: return kBadParameter;
  }
  if (*OutSize < size) return kBufferTooSmall;
  std::memcpy(Out, value, static_cast<size_t>(size));
  *OutSize = size;
  return kOk;
}

}  // namespace

}  // namespace cryst

using namespace cryst;

STANDIN_EXPORT int32_t CRYST_CALL GetUserAttributes(CrystContext Handle, int32_t KeyAttr, const void* KeyValue,
                                                    int32_t KeyLen, int32_t WantAttr, void* Out, int32_t* OutSize) {
  const int32_t scripted = standin::Hook("GetUserAttributes");
  Context* c = Live(Handle);
  if (c == nullptr) return 0;
  if (scripted != 0) return Fail(*c, scripted), 0;
  if (KeyValue == nullptr || KeyLen < 1 || Out == nullptr || OutSize == nullptr) return Fail(*c, kBadParameter), 0;
  int32_t number = 0;
  PublicKey key;
  int32_t code = FindUser(*c, KeyAttr, static_cast<const uint8_t*>(KeyValue), KeyLen, number, key);
  if (code == kOk) code = WriteAttribute(WantAttr, number, key, Out, OutSize);
  return code == kOk ? 1 : (Fail(*c, code), 0);
}

namespace {

// A resolved-only function: counted, and refused.
int32_t Unsupported(CrystContext Handle, const char* function) {
  const int32_t scripted = standin::Hook(function);
  Context* c = Live(Handle);
  if (c == nullptr) return kBadParameter;
  return Fail(*c, scripted != 0 ? scripted : kNotSupported);
}

}  // namespace

STANDIN_EXPORT int32_t CRYST_CALL IsPasswordSet(CrystContext Handle) {
  standin::Hook("IsPasswordSet");
  Context* c = Live(Handle);
  return c != nullptr && !c->Password.empty() ? 1 : 0;
}
STANDIN_EXPORT int32_t CRYST_CALL ChangePassword(CrystContext Handle, const char*, const char*) {
  return Unsupported(Handle, "ChangePassword");
}
STANDIN_EXPORT int32_t CRYST_CALL SecretKeyDirectory(CrystContext Handle, char* Buffer, int32_t Size) {
  standin::Hook("SecretKeyDirectory");
  Context* c = Live(Handle);
  if (c == nullptr || Buffer == nullptr || Size < 1 || c->S.SecretKeyDir.size() >= static_cast<size_t>(Size)) return 0;
  std::memcpy(Buffer, c->S.SecretKeyDir.c_str(), c->S.SecretKeyDir.size() + 1);
  return 1;
}
STANDIN_EXPORT int32_t CRYST_CALL InitUser(CrystContext Handle, const char*, const char*) {
  return Unsupported(Handle, "InitUser");
}
STANDIN_EXPORT int32_t CRYST_CALL CryptoFileToFile(CrystContext Handle, const char*, const char*, const char*) {
  return Unsupported(Handle, "CryptoFileToFile");
}
STANDIN_EXPORT int32_t CRYST_CALL CryptoMemoryToFile(CrystContext Handle, const uint8_t*, int32_t, const char*,
                                                     const char*) {
  return Unsupported(Handle, "CryptoMemoryToFile");
}
STANDIN_EXPORT int32_t CRYST_CALL CryptoFileToNewMemory(CrystContext Handle, const char*, CryptoResult*, const char*) {
  return Unsupported(Handle, "CryptoFileToNewMemory");
}
STANDIN_EXPORT int32_t CRYST_CALL CryptoMemoryGetSize(CrystContext Handle, int32_t, const char*) {
  return Unsupported(Handle, "CryptoMemoryGetSize");
}
STANDIN_EXPORT CryptoStatus* CRYST_CALL GetFileCryptoStatus(CrystContext Handle, const char*) {
  Unsupported(Handle, "GetFileCryptoStatus");
  return nullptr;
}
STANDIN_EXPORT int32_t CRYST_CALL StringIdentFromName(CrystContext Handle, const char*, char*, int32_t) {
  return Unsupported(Handle, "StringIdentFromName");
}
STANDIN_EXPORT int32_t CRYST_CALL SetCryptoSettings(CrystContext Handle, const char*) {
  return Unsupported(Handle, "SetCryptoSettings");
}
STANDIN_EXPORT int32_t CRYST_CALL CryptoControl(CrystContext Handle, int32_t, void*) {
  return Unsupported(Handle, "CryptoControl");
}
STANDIN_EXPORT int32_t CRYST_CALL GetSystemFileName(CrystContext Handle, int32_t, char*, int32_t) {
  return Unsupported(Handle, "GetSystemFileName");
}
STANDIN_EXPORT int32_t CRYST_CALL GetUserSettings(CrystContext Handle, int32_t, void*, int32_t*) {
  Unsupported(Handle, "GetUserSettings");
  return 0;
}
