#include "engine.h"

#include <algorithm>
#include <limits>

#include "cp1251_utf8.h"

namespace zkmint {
namespace {

// No engine announces limits near this; a larger one means the answer is garbage.
constexpr int32_t kLargestSaneLimit = 1 << 24;
constexpr size_t kReportBuffer = 16384 + 1;

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

const char* NullIfEmpty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

std::vector<std::string> ListEngineTypes(const zkhost::ZkApi& api) {
  std::vector<std::string> types;
  std::vector<char> buffer = Engine::StringBuffer(api.GetMaxCryptoEngineTypeLength(), "type name");
  // The table is short; the bound only guards against a library that never answers empty.
  for (int32_t index = 1; index <= 1000; ++index) {
    std::fill(buffer.begin(), buffer.end(), '\0');
    api.GetCryptoEngineTypes(index, buffer.data());
    if (buffer[0] == '\0') break;
    types.push_back(Engine::FromBuffer(buffer));
  }
  return types;
}

std::unique_ptr<Engine> Engine::Create(const zkhost::ZkApi& api, const std::string& type) {
  ZkEngine handle = api.InitCryptoEngine(type.c_str());
  if (!handle) return nullptr;
  return std::unique_ptr<Engine>(new Engine(api, handle));
}

Engine::~Engine() { api_.DoneCryptoEngine(handle_); }

std::vector<char> Engine::StringBuffer(int32_t limit, const char* what) {
  if (limit <= 0 || limit > kLargestSaneLimit)
    throw HostError(std::string("the engine announces an unusable ") + what + " length of " + std::to_string(limit));
  // One byte more than announced: a terminator always remains, even for an engine that fills
  // the whole announced length.
  return std::vector<char>(static_cast<size_t>(limit) + 1, '\0');
}

std::string Engine::FromBuffer(const std::vector<char>& buffer) {
  return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));
}

std::string Engine::Type() {
  std::vector<char> buffer = StringBuffer(api_.GetMaxCryptoEngineTypeLength(), "type name");
  api_.GetCryptoEngineType(handle_, buffer.data());
  return FromBuffer(buffer);
}

std::vector<EngineParam> Engine::Params() {
  std::vector<EngineParam> params;
  int32_t count = api_.GetCryptoParamNumber(handle_);
  for (int32_t index = 1; index <= count; ++index) {
    std::vector<char> name = StringBuffer(api_.GetMaxCryptoParamNameLength(handle_), "parameter name");
    std::vector<char> value = StringBuffer(api_.GetMaxCryptoParamValueLength(handle_), "parameter value");
    api_.GetCryptoParamName(handle_, index, name.data());
    api_.GetCryptoParamValue(handle_, index, value.data());
    params.push_back({index, FromBuffer(name), FromBuffer(value)});
  }
  return params;
}

int32_t Engine::FindParam(const std::string& utf8Name) {
  int32_t caseless = 0;
  for (const EngineParam& param : Params()) {
    std::string shown = Cp1251ToUtf8(param.name);
    if (shown == utf8Name) return param.index;
    if (caseless == 0 && EqualIgnoringAsciiCase(shown, utf8Name)) caseless = param.index;
  }
  return caseless;
}

int32_t Engine::MaxParamValueLength() { return api_.GetMaxCryptoParamValueLength(handle_); }

int32_t Engine::SetParam(int32_t index, const std::string& value) {
  // A value the engine could not give back whole is refused rather than stored cut or unread.
  int32_t limit = MaxParamValueLength();
  if (limit <= 0 || value.size() > static_cast<size_t>(limit - 1))
    throw HostError("value of " + std::to_string(value.size()) + " bytes exceeds the engine's limit of " +
                    std::to_string(limit - 1));
  return api_.SetCryptoParamValue(handle_, index, value.c_str());
}

std::string Engine::ErrorText(int32_t code) {
  std::vector<char> buffer = StringBuffer(api_.GetMaxErrorStringLength(handle_), "error text");
  api_.GetCryptoErrorString(handle_, code, buffer.data());
  return Cp1251ToUtf8(FromBuffer(buffer));
}

void Engine::SetRootPath(const std::string& path) { api_.SetRootPath(handle_, path.c_str()); }

void Engine::SetCallbacks(ZkPasswordRequestFunc password, ZkTMRequestFunc touchMemory) {
  api_.SetPasswordRequestFunc(handle_, password);
  api_.SetTMRequestFunc(handle_, touchMemory);
}

int32_t Engine::CurrentUID(std::string& uid) {
  std::vector<char> buffer = StringBuffer(api_.GetMaxUIDLength(handle_), "UID");
  int32_t result = api_.GetCurrentUserUID(handle_, buffer.data());
  uid = FromBuffer(buffer);
  return result;
}

int32_t Engine::EncodeUID(const std::string& signUID, std::string& encodeUID) {
  std::vector<char> buffer = StringBuffer(api_.GetMaxUIDLength(handle_), "UID");
  int32_t result = api_.GetEncodeUIDBySignUID(handle_, signUID.c_str(), buffer.data());
  encodeUID = FromBuffer(buffer);
  return result;
}

int32_t Engine::Sign(const Bytes& data, const std::string& signUID, Bytes& signature) {
  if (data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw HostError("data larger than 2 GiB cannot pass the interface");
  int32_t limit = api_.GetMaxSignatureLength(handle_);
  if (limit < 0) return limit;  // the engine's way of saying it cannot work now
  if (limit > kLargestSaneLimit) throw HostError("unusable signature limit " + std::to_string(limit));
  Bytes buffer(static_cast<size_t>(limit) + 1);
  int32_t length = 0;
  int32_t result = api_.SignData(handle_, data.data(), static_cast<int32_t>(data.size()), buffer.data(), &length,
                                 NullIfEmpty(signUID));
  if (result != 0) return result;
  if (length < 0 || length > limit)
    throw HostError("the engine reports a signature of " + std::to_string(length) + " bytes; its limit is " +
                    std::to_string(limit));
  signature.assign(buffer.begin(), buffer.begin() + length);
  return 0;
}

int32_t Engine::Verify(const Bytes& data, const Bytes& signature, std::string& signer, const std::string& request) {
  if (data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()) ||
      signature.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw HostError("data larger than 2 GiB cannot pass the interface");
  std::vector<char> uid = StringBuffer(api_.GetMaxUIDLength(handle_), "UID");
  // A certificate report or PEM asked for comes back in the same buffer and is far longer than a
  // UID; engines write them whole up to 16 KiB.
  if (!request.empty() && uid.size() < kReportBuffer) uid.assign(kReportBuffer, '\0');
  if (request.size() >= uid.size()) throw HostError("the request does not fit the engine's UID buffer");
  std::copy(request.begin(), request.end(), uid.begin());
  // A zero-length signature still needs a valid address.
  static const uint8_t kEmpty = 0;
  int32_t result = api_.VerifyData(handle_, data.data(), static_cast<int32_t>(data.size()),
                                   signature.empty() ? &kEmpty : signature.data(),
                                   static_cast<int32_t>(signature.size()), uid.data());
  signer = FromBuffer(uid);
  return result;
}

int32_t Engine::Encode(Bytes& data, const std::string& recipients) {
  std::string unused;
  return ApplyInPlace(data, true, recipients, unused);
}

int32_t Engine::Decode(Bytes& data, std::string& sender) { return ApplyInPlace(data, false, "", sender); }

int32_t Engine::ApplyInPlace(Bytes& data, bool encode, const std::string& recipients, std::string& sender) {
  int32_t addition = api_.GetMaxEncodeAddition(handle_);
  if (addition < 0) return addition;
  if (addition > kLargestSaneLimit) throw HostError("unusable encode addition " + std::to_string(addition));
  size_t capacity = data.size() + static_cast<size_t>(addition);
  if (data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() - addition))
    throw HostError("data too large for the interface's 32-bit lengths");
  Bytes buffer(data);
  buffer.resize(capacity + 1);  // +1: a valid address even for empty input and no addition
  int32_t length = static_cast<int32_t>(data.size());
  int32_t result;
  if (encode) {
    result = api_.EncodeData(handle_, buffer.data(), &length, NullIfEmpty(recipients));
  } else {
    std::vector<char> uid = StringBuffer(api_.GetMaxUIDLength(handle_), "UID");
    result = api_.DecodeData(handle_, buffer.data(), &length, uid.data());
    sender = FromBuffer(uid);
  }
  if (result != 0) return result;
  if (length < 0 || static_cast<size_t>(length) > capacity)
    throw HostError("the engine reports " + std::to_string(length) + " output bytes; the buffer holds " +
                    std::to_string(capacity));
  buffer.resize(static_cast<size_t>(length));
  data.swap(buffer);
  return 0;
}

int32_t Engine::IncludePublicKey(const std::string& fileName) {
  return api_.IncludePublicKey(handle_, fileName.c_str());
}

int32_t Engine::IncludeCRL(const std::string& fileName) { return api_.IncludeCRL(handle_, fileName.c_str()); }

int32_t Engine::UpdateCertificateCash(const std::string& uid) {
  return api_.UpdateCertificateCash(handle_, uid.c_str());
}

int32_t Engine::RemoveCertificate(const std::string& uid) { return api_.RemoveCertificate(handle_, uid.c_str()); }

void Engine::ClearCash() { api_.ClearCash(handle_); }

}  // namespace zkmint
