// The engine's operations called through the library's exports, every caller buffer sized from
// the engine's announced limits and ending at an inaccessible page: an engine that writes (or
// reads) past a bound faults, and the test program fails. Used by the conformance suite and by
// each engine's own tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "frame/crypto_engine.h"
#include "support/bytes.h"
#include "zk_mint.h"

namespace zk::suite {

inline ZkEngine Handle(zk::TCryptoEngine& engine) { return static_cast<ZkEngine>(&engine); }

// An engine made through InitCryptoEngine, released with DoneCryptoEngine.
class Engine {
 public:
  explicit Engine(const std::string& type);
  ~Engine();
  Engine(Engine&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ZkEngine get() const { return handle_; }
  operator ZkEngine() const { return handle_; }

 private:
  ZkEngine handle_ = nullptr;
};

// Sets a parameter (1-based, as the exports count) and expects success.
void Configure(ZkEngine engine, int32_t index, const std::string& value);
void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value);
// Sets a parameter found by name; fails the test when the engine has no such parameter.
void ConfigureByName(ZkEngine engine, const std::string& name, const std::string& value);

struct SignResult {
  int32_t code;
  Bytes signature;
};
// Signature buffer of GetMaxSignatureLength bytes; on success 0 <= length <= the limit.
SignResult Sign(ZkEngine engine, const Bytes& data, const char* signUid = nullptr);

struct VerifyResult {
  int32_t code;
  std::string signer;         // up to the NUL the engine wrote
  bool signerWritten = false;  // a NUL-terminated UID was written into the buffer
};
// The data and the signature are exact copies ending at a guard; the signer's buffer has
// GetMaxUIDLength bytes.
VerifyResult Verify(ZkEngine engine, const Bytes& data, const Bytes& signature);

struct CodecResult {
  int32_t code;
  Bytes data;
  std::string sender;          // DecodeData only: up to the NUL the engine wrote
  bool senderWritten = false;  // DecodeData only: a NUL-terminated UID was written
};
// In place in a buffer of the input plus GetMaxEncodeAddition bytes; a refused encode must leave
// the data and its length as they were.
CodecResult Encode(ZkEngine engine, const Bytes& data, const char* recipients);
// In place in an exact copy of the envelope; a failed decode must leave the caller's buffer and
// length unchanged.
CodecResult Decode(ZkEngine engine, const Bytes& envelope);

// The text of a code, in a buffer of GetMaxErrorStringLength bytes.
std::string ErrorString(ZkEngine engine, int32_t code);
// GetCurrentUserUID into a buffer of GetMaxUIDLength bytes; empty unless the result is 0.
std::string CurrentUID(ZkEngine engine, int32_t* code = nullptr);

// The same calls for an engine object the test built itself.
inline SignResult Sign(zk::TCryptoEngine& e, const Bytes& data, const char* signUid = nullptr) {
  return Sign(Handle(e), data, signUid);
}
inline VerifyResult Verify(zk::TCryptoEngine& e, const Bytes& data, const Bytes& sig) {
  return Verify(Handle(e), data, sig);
}
inline CodecResult Encode(zk::TCryptoEngine& e, const Bytes& data, const char* recipients) {
  return Encode(Handle(e), data, recipients);
}
inline CodecResult Decode(zk::TCryptoEngine& e, const Bytes& envelope) { return Decode(Handle(e), envelope); }
inline std::string ErrorString(zk::TCryptoEngine& e, int32_t code) { return ErrorString(Handle(e), code); }
inline std::string CurrentUID(zk::TCryptoEngine& e, int32_t* code = nullptr) { return CurrentUID(Handle(e), code); }

}  // namespace zk::suite
