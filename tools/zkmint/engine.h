// One engine of the library, driven only through the exports. Sizes every output buffer from
// the matching GetMax... export and checks what the engine reports back against it, so a wrong
// answer from the library is reported instead of read past.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "zk_loader.h"

namespace zkmint {

using Bytes = std::vector<uint8_t>;

// A failure of the host side (input too large, an impossible length from the library); engine
// failures are result codes instead.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct EngineParam {
  int32_t index = 0;   // 1-based, as the exports count
  std::string name;    // as the library gives it (Windows-1251)
  std::string value;
};

class Engine {
 public:
  // Null when the library builds no engine for this type.
  static std::unique_ptr<Engine> Create(const zkhost::ZkApi& api, const std::string& type);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const zkhost::ZkApi& Api() const { return api_; }
  ZkEngine Handle() const { return handle_; }

  std::string Type();
  std::vector<EngineParam> Params();
  // Index of the parameter whose name (shown as UTF-8) equals `utf8Name`, ignoring ASCII case
  // only when no exact match exists; 0 when there is none.
  int32_t FindParam(const std::string& utf8Name);
  int32_t SetParam(int32_t index, const std::string& value);
  int32_t MaxParamValueLength();
  // Text of a result code, as UTF-8.
  std::string ErrorText(int32_t code);

  void SetRootPath(const std::string& path);
  void SetCallbacks(ZkPasswordRequestFunc password, ZkTMRequestFunc touchMemory);

  int32_t CurrentUID(std::string& uid);
  int32_t EncodeUID(const std::string& signUID, std::string& encodeUID);
  int32_t Sign(const Bytes& data, const std::string& signUID, Bytes& signature);
  // `request`: what the signer buffer holds on the way in (engines such as Validata read a
  // report request from it); empty for the plain call.
  int32_t Verify(const Bytes& data, const Bytes& signature, std::string& signer, const std::string& request = "");
  // In place, as the exports work: `data` is replaced by the envelope or the plaintext.
  int32_t Encode(Bytes& data, const std::string& recipients);
  int32_t Decode(Bytes& data, std::string& sender);
  int32_t IncludePublicKey(const std::string& fileName);
  int32_t IncludeCRL(const std::string& fileName);
  int32_t UpdateCertificateCash(const std::string& uid);
  int32_t RemoveCertificate(const std::string& uid);
  void ClearCash();

  // A zeroed buffer for an output string of at most `limit` bytes, and the string read from it.
  static std::vector<char> StringBuffer(int32_t limit, const char* what);
  static std::string FromBuffer(const std::vector<char>& buffer);

 private:
  Engine(const zkhost::ZkApi& api, ZkEngine handle) : api_(api), handle_(handle) {}
  int32_t ApplyInPlace(Bytes& data, bool encode, const std::string& recipients, std::string& sender);

  const zkhost::ZkApi& api_;
  ZkEngine handle_;
};

// The type strings GetCryptoEngineTypes lists, from index 1 up to the first empty answer.
std::vector<std::string> ListEngineTypes(const zkhost::ZkApi& api);

}  // namespace zkmint
