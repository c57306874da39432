#include "support/calls.h"

#include <algorithm>
#include <vector>

#include "support/guard.h"

namespace zk::suite {

namespace {

size_t Limit(int32_t announced) { return announced > 0 ? static_cast<size_t>(announced) : 0; }

}  // namespace

Engine::Engine(const std::string& type) : handle_(InitCryptoEngine(type.c_str())) {
  EXPECT_NE(handle_, nullptr) << "no engine of type " << type;
}

Engine::~Engine() { DoneCryptoEngine(handle_); }

void Configure(ZkEngine engine, int32_t index, const std::string& value) {
  ASSERT_EQ(SetCryptoParamValue(engine, index, value.c_str()), 0) << "parameter " << index;
}

void Configure(zk::TCryptoEngine& engine, int32_t index, const std::string& value) {
  Configure(Handle(engine), index, value);
}

void ConfigureByName(ZkEngine engine, const std::string& name, const std::string& value) {
  const int32_t count = GetCryptoParamNumber(engine);
  std::vector<char> buffer(Limit(GetMaxCryptoParamNameLength(engine)) + 1);
  for (int32_t i = 1; i <= count; ++i) {
    GetCryptoParamName(engine, i, buffer.data());
    if (name == buffer.data()) return Configure(engine, i, value);
  }
  ADD_FAILURE() << "no parameter named " << name;
}

SignResult Sign(ZkEngine engine, const Bytes& data, const char* signUid) {
  const size_t limit = Limit(GetMaxSignatureLength(engine));
  GuardedBuffer in(data);
  GuardedBuffer signature(limit, 0xCC);
  int32_t length = -1;
  const int32_t code =
      SignData(engine, in.data(), static_cast<int32_t>(data.size()), signature.data(), &length, signUid);
  EXPECT_EQ(in.Bytes(data.size()), data) << "SignData changed the data";
  if (code != 0) return {code, {}};
  EXPECT_GE(length, 0);
  EXPECT_LE(static_cast<size_t>(std::max(length, 0)), limit);
  return {code, signature.Bytes(std::min(limit, static_cast<size_t>(std::max(length, 0))))};
}

VerifyResult Verify(ZkEngine engine, const Bytes& data, const Bytes& signature) {
  GuardedBuffer in(data);
  GuardedBuffer sig(signature);
  GuardedBuffer signer(Limit(GetMaxUIDLength(engine)), 0x7F);
  VerifyResult result{};
  result.code = VerifyData(engine, in.data(), static_cast<int32_t>(data.size()), sig.data(),
                           static_cast<int32_t>(signature.size()), signer.chars());
  result.signer = signer.Str(&result.signerWritten);
  return result;
}

CodecResult Encode(ZkEngine engine, const Bytes& data, const char* recipients) {
  const int32_t addition = GetMaxEncodeAddition(engine);
  EXPECT_GE(addition, 0) << "GetMaxEncodeAddition";
  const size_t capacity = data.size() + Limit(addition);
  GuardedBuffer buffer(capacity, 0xEE);
  std::copy(data.begin(), data.end(), buffer.data());
  int32_t length = static_cast<int32_t>(data.size());
  CodecResult result{};
  result.code = EncodeData(engine, buffer.data(), &length, recipients);
  if (result.code != 0) {
    EXPECT_EQ(buffer.Bytes(data.size()), data) << "a refused EncodeData changed the data";
    EXPECT_EQ(length, static_cast<int32_t>(data.size())) << "a refused EncodeData changed the length";
    return result;
  }
  EXPECT_GE(length, 0);
  EXPECT_LE(static_cast<size_t>(std::max(length, 0)), capacity);
  result.data = buffer.Bytes(std::min(capacity, static_cast<size_t>(std::max(length, 0))));
  return result;
}

CodecResult Decode(ZkEngine engine, const Bytes& envelope) {
  GuardedBuffer buffer(envelope);
  GuardedBuffer sender(Limit(GetMaxUIDLength(engine)), 0x7F);
  int32_t length = static_cast<int32_t>(envelope.size());
  CodecResult result{};
  result.code = DecodeData(engine, buffer.data(), &length, sender.chars());
  result.sender = sender.Str(&result.senderWritten);
  if (result.code != 0) {
    EXPECT_EQ(buffer.Bytes(envelope.size()), envelope) << "a failed DecodeData changed the caller's buffer";
    EXPECT_EQ(length, static_cast<int32_t>(envelope.size())) << "a failed DecodeData changed the length";
    return result;
  }
  EXPECT_GE(length, 0);
  EXPECT_LE(static_cast<size_t>(std::max(length, 0)), envelope.size());
  result.data = buffer.Bytes(std::min(envelope.size(), static_cast<size_t>(std::max(length, 0))));
  return result;
}

std::string ErrorString(ZkEngine engine, int32_t code) {
  GuardedBuffer text(Limit(GetMaxErrorStringLength(engine)), 0x7F);
  GetCryptoErrorString(engine, code, text.chars());
  bool terminated = false;
  std::string s = text.Str(&terminated);
  EXPECT_TRUE(terminated) << "the text of " << code << " has no NUL within GetMaxErrorStringLength";
  return s;
}

std::string CurrentUID(ZkEngine engine, int32_t* code) {
  GuardedBuffer uid(Limit(GetMaxUIDLength(engine)), 0x7F);
  const int32_t result = GetCurrentUserUID(engine, uid.chars());
  if (code != nullptr) *code = result;
  return result == 0 ? uid.Str() : std::string();
}

}  // namespace zk::suite
