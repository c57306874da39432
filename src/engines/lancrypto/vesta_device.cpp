// Private keys on a touch memory: the wait for the device, and the key image that stands in for it.
#include <cstring>

#include "engines/lancrypto/vesta_internal.h"
#include "frame/devicewait.h"
#include "frame/keytimeouts.h"

namespace zk::lancrypto {

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

}  // namespace zk::lancrypto
