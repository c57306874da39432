// The host's buffer discipline, against a scripted stand-in for the exports: buffers sized from
// the GetMax... answers, lengths reported back checked against them, parameters found by name.
// Under AddressSanitizer a buffer smaller than announced shows up as an overflow in the fakes,
// which write every byte the contract allows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine.h"

namespace {

using zkmint::Bytes;
using zkmint::Engine;
using zkmint::HostError;

struct Script {
  int32_t addition = 100;
  int32_t signatureLimit = 64;
  int32_t uidLimit = 8;
  int32_t valueLimit = 16;
  int32_t reportedLength = 0;  // what EncodeData / SignData report
  int encodeCalls = 0;
  int setCalls = 0;
  std::vector<std::string> names;  // parameter names, Windows-1251
  std::string uid;                 // written without a NUL when it fills the limit
} script;

int engineObject;

ZkEngine ZK_STDCALL Init(const char*) { return &engineObject; }
void ZK_STDCALL Done(ZkEngine) {}
int32_t ZK_STDCALL MaxAddition(ZkEngine) { return script.addition; }
int32_t ZK_STDCALL MaxSignature(ZkEngine) { return script.signatureLimit; }
int32_t ZK_STDCALL MaxUID(ZkEngine) { return script.uidLimit; }
int32_t ZK_STDCALL MaxName(ZkEngine) { return 32; }
int32_t ZK_STDCALL MaxValue(ZkEngine) { return script.valueLimit; }
int32_t ZK_STDCALL ParamCount(ZkEngine) { return static_cast<int32_t>(script.names.size()); }
void ZK_STDCALL ParamName(ZkEngine, int32_t index, char* name) {
  std::strcpy(name, script.names[static_cast<size_t>(index - 1)].c_str());
}
void ZK_STDCALL ParamValue(ZkEngine, int32_t, char* value) { value[0] = '\0'; }
int32_t ZK_STDCALL SetValue(ZkEngine, int32_t, const char*) { return ++script.setCalls, 0; }

int32_t ZK_STDCALL Encode(ZkEngine, uint8_t* data, int32_t* length, const char*) {
  ++script.encodeCalls;
  std::memset(data, 0xA5, static_cast<size_t>(*length + script.addition));
  *length = script.reportedLength;
  return 0;
}

int32_t ZK_STDCALL Sign(ZkEngine, const uint8_t*, int32_t, uint8_t* signature, int32_t* length, const char*) {
  std::memset(signature, 0x5A, static_cast<size_t>(script.signatureLimit));
  *length = script.reportedLength;
  return 0;
}

int32_t ZK_STDCALL CurrentUID(ZkEngine, char* uid) {
  std::memcpy(uid, script.uid.data(), script.uid.size());  // no NUL: fills the whole limit
  return 0;
}

class EngineWrapper : public ::testing::Test {
 protected:
  void SetUp() override {
    script = Script();
    api_.InitCryptoEngine = Init;
    api_.DoneCryptoEngine = Done;
    api_.GetMaxEncodeAddition = MaxAddition;
    api_.GetMaxSignatureLength = MaxSignature;
    api_.GetMaxUIDLength = MaxUID;
    api_.GetMaxCryptoParamNameLength = MaxName;
    api_.GetMaxCryptoParamValueLength = MaxValue;
    api_.GetCryptoParamNumber = ParamCount;
    api_.GetCryptoParamName = ParamName;
    api_.GetCryptoParamValue = ParamValue;
    api_.SetCryptoParamValue = SetValue;
    api_.EncodeData = Encode;
    api_.SignData = Sign;
    api_.GetCurrentUserUID = CurrentUID;
    engine_ = Engine::Create(api_, "Fake");
  }
  zkhost::ZkApi api_;
  std::unique_ptr<Engine> engine_;
};

TEST_F(EngineWrapper, EncodeLeavesRoomForTheAdditionAndKeepsWhatTheEngineReports) {
  Bytes data(10, 1);
  script.reportedLength = 110;  // the whole room
  ASSERT_EQ(engine_->Encode(data, ""), 0);
  EXPECT_EQ(data, Bytes(110, 0xA5));

  Bytes empty;
  script.reportedLength = 100;
  ASSERT_EQ(engine_->Encode(empty, ""), 0);
  EXPECT_EQ(empty.size(), 100u);
}

TEST_F(EngineWrapper, EncodeRefusesALengthBeyondTheBufferOrBelowZero) {
  for (int32_t reported : {111, -1}) {
    Bytes data(10, 1);
    script.reportedLength = reported;
    EXPECT_THROW(engine_->Encode(data, ""), HostError) << reported;
    EXPECT_EQ(data, Bytes(10, 1)) << "the caller's data stay as they were";
  }
}

TEST_F(EngineWrapper, NegativeAdditionIsTheEnginesCodeAndNothingIsCalled) {
  script.addition = -65;
  Bytes data(4, 7);
  EXPECT_EQ(engine_->Encode(data, ""), -65);
  EXPECT_EQ(script.encodeCalls, 0);
}

TEST_F(EngineWrapper, SignatureMayFillTheLimitButNotExceedIt) {
  Bytes signature;
  script.reportedLength = 64;
  ASSERT_EQ(engine_->Sign(Bytes{1, 2}, "", signature), 0);
  EXPECT_EQ(signature, Bytes(64, 0x5A));
  script.reportedLength = 65;
  EXPECT_THROW(engine_->Sign(Bytes{1, 2}, "", signature), HostError);
}

TEST_F(EngineWrapper, UIDFillingTheWholeLimitIsReadWithoutRunningPastIt) {
  script.uid = "ABCDEFGH";  // 8 = the limit, no room for a NUL in the announced length
  std::string uid;
  ASSERT_EQ(engine_->CurrentUID(uid), 0);
  EXPECT_EQ(uid, "ABCDEFGH");
  script.uidLimit = 0;
  EXPECT_THROW(engine_->CurrentUID(uid), HostError);
}

TEST_F(EngineWrapper, FindParamPrefersTheExactNameThenIgnoresAsciiCaseAndReadsWindows1251) {
  script.names = {"hash method", "Hash Method", "\xCA\xEB\xFE\xF7"};  // the last is "Ключ"
  EXPECT_EQ(engine_->FindParam("Hash Method"), 2);
  EXPECT_EQ(engine_->FindParam("hash method"), 1);
  EXPECT_EQ(engine_->FindParam("HASH METHOD"), 1);
  EXPECT_EQ(engine_->FindParam("Ключ"), 3);
  EXPECT_EQ(engine_->FindParam("Hash"), 0);
}

TEST_F(EngineWrapper, SetParamRefusesAValueTheEngineCouldNotGiveBackWhole) {
  EXPECT_EQ(engine_->SetParam(1, std::string(15, 'v')), 0);  // limit 16 with the NUL
  EXPECT_THROW(engine_->SetParam(1, std::string(16, 'v')), HostError);
  EXPECT_EQ(script.setCalls, 1);
}

}  // namespace
