// The LAN Crypto engine's own protocols through its operations, with scripted callbacks and the
// stand-in's control entry: password prompts and their cache, touch-memory keys and their cache,
// the key source, the removal of correspondents, UIDs, and the codes and their texts.
#include <cstring>

#include "lancrypto/vesta_fixture.h"

namespace vtest {
namespace {

int32_t ZK_STDCALL FailingHost(char*, int32_t) { throw std::runtime_error("host failed"); }

class VestaProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = &box_.AddUser("Client A", "CLA", "secret A");
    b_ = &box_.AddUser("Client B", "CLB", "secret B");
    box_.Introduce(*a_, *b_);
    box_.Introduce(*b_, *a_);
    ea_ = box_.Engine(*a_);
    Callbacks::Install(*ea_);
    Callbacks::Script({});
  }
  int32_t SignOnce() { return Sign(*ea_, data_).code; }
  void UseTouchMemory(const std::string& port, const std::string& timeout) {
    ASSERT_EQ(Toolkit().WriteTouchMemory(a_->SignKey().c_str(), a_->EncryptKey().c_str(), a_->Image().c_str()), 0);
    Toolkit().SetTouchMemory(std::stoi(port), a_->Image().c_str());
    Configure(*ea_, kPort, port);
    Configure(*ea_, kTimeout, timeout);
    ea_->ClearCash();
  }
  FakeTime time_;
  Sandbox box_;
  const User* a_ = nullptr;
  const User* b_ = nullptr;
  std::unique_ptr<zk::TVesta235Engine> ea_;
  const Bytes data_ = RandomBytes(200, 1);
};

TEST_F(VestaProtocol, PasswordIsAskedUntilRightAndKeptForItsLifetime) {
  Configure(*ea_, kTimeout, "60");
  Callbacks::Script({"wrong", "secret A"});
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Callbacks::Prompts(), 2);
  Callbacks::Script({});
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Encode(*ea_, data_, "Client B").code, 0) << "the encryption key has the same password";
  EXPECT_EQ(Callbacks::Prompts(), 0);
  FakeTime::Advance(61000);
  EXPECT_EQ(SignOnce(), 10) << "expired: asked again, and the empty script cancels";
  EXPECT_EQ(Callbacks::Prompts(), 1);
}

TEST_F(VestaProtocol, LifetimeZeroAsksEveryTime) {
  for (int round = 0; round < 2; ++round) {
    Callbacks::Script({"secret A"});
    EXPECT_EQ(SignOnce(), 0);
    EXPECT_EQ(Callbacks::Prompts(), 1);
  }
}

TEST_F(VestaProtocol, AtMostFourPromptsAndNothingRefusedIsKept) {
  Configure(*ea_, kTimeout, "60");
  Callbacks::Script({"1", "2", "3", "4", "secret A"});
  EXPECT_EQ(SignOnce(), -2);
  EXPECT_EQ(Callbacks::Prompts(), 4);
  EXPECT_EQ(Toolkit().Calls("CTN_FillPrivateKeyStructure"), 5) << "every answer is tried";
  Callbacks::Script({"1", "2", "3", "4"});
  EXPECT_EQ(Encode(*ea_, data_, "Client B").code, 10);
  Callbacks::Script({"secret A"});
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Callbacks::Prompts(), 1) << "no refused password was cached";
  ea_->SetPasswordRequestFunc(nullptr);
  Configure(*ea_, kTimeout, "0");
  EXPECT_EQ(SignOnce(), -2);
  EXPECT_EQ(Decode(*ea_, Bytes(80, 0)).code, 4);
}

TEST_F(VestaProtocol, FillAnswersMapToTheEngineCodes) {
  Callbacks::Script(std::vector<std::string>(8, "secret A"));
  struct Case {
    const char* answer;
    int32_t sign, encode;
  } cases[] = {{"-26", -26, 13}, {"-5", -5, -5}, {"-21", -21, -21}, {"-300", 0, 20}, {"-27", 0, 0}};
  for (const Case& c : cases) {
    Toolkit().Control((std::string("fail CTN_FillPrivateKeyStructure 1 ") + c.answer).c_str());
    EXPECT_EQ(SignOnce(), c.sign) << c.answer;
    Toolkit().Control((std::string("fail CTV_FillPrivateKeyStructure 1 ") + c.answer).c_str());
    EXPECT_EQ(Encode(*ea_, data_, "Client B").code, c.encode) << c.answer;
  }
  Toolkit().Control("reset");
  Toolkit().Control("answer CTN_FillPrivateKeyStructure -99 100");
  EXPECT_EQ(SignOnce(), -99) << "an unknown answer is retried a bounded number of times";
  EXPECT_EQ(Toolkit().Calls("CTN_FillPrivateKeyStructure"), 5);
}

TEST_F(VestaProtocol, TouchMemoryIsReadOnceWithinTheTimeOutAndPerPort) {
  UseTouchMemory("1", "60");
  Callbacks::Script({"secret A", "secret A"});
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Encode(*ea_, data_, "Client B").code, 0);
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 1);
  EXPECT_TRUE(Callbacks::States().empty()) << "the key was attached: no window";
  int32_t code = -1;
  EXPECT_EQ(CurrentUID(*ea_, code), "Client A");

  // Another port is another device.
  Toolkit().SetTouchMemory(2, a_->Image().c_str());
  Configure(*ea_, kPort, "2");
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 2);
  ea_->ClearCash();
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 3);
  FakeTime::Advance(61000);
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 4);

  // A second engine within the time-out uses the same reading.
  auto other = box_.Engine(*a_);
  Callbacks::Install(*other);
  Configure(*other, kPort, "2");
  Configure(*other, kTimeout, "60");
  Callbacks::Script({"secret A"});
  EXPECT_EQ(Sign(*other, data_).code, 0);
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 4);
}

TEST_F(VestaProtocol, TouchMemoryTimeOutZeroReadsEveryTime) {
  UseTouchMemory("1", "0");
  Callbacks::Script({"secret A", "secret A"});
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(SignOnce(), 0);
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 2);
}

TEST_F(VestaProtocol, AbsentTouchMemoryOpensAndClosesTheWindow) {
  UseTouchMemory("1", "0");
  Callbacks::Script({"secret A"});
  Toolkit().Control("detach TM:COM1 3");
  EXPECT_EQ(SignOnce(), 0) << "attached during the wait";
  EXPECT_EQ(Callbacks::States(), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 4);

  Toolkit().SetTouchMemory(1, nullptr);
  Callbacks::Script({});
  EXPECT_EQ(SignOnce(), -30) << "never attached within the window";
  EXPECT_EQ(Callbacks::States(), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(ErrorText(*ea_, -30), "Необходимо подсоединить touch memory");
  // Without a callback the device is still awaited for the window, pausing between attempts.
  ea_->TMRequestFunc = nullptr;
  Configure(*ea_, kWindow, "3");
  const uint64_t start = FakeTime::Now();
  EXPECT_EQ(SignOnce(), -30);
  EXPECT_GE(FakeTime::Now() - start, 3000u);
  EXPECT_LE(FakeTime::Now() - start, 4000u);
  Callbacks::Install(*ea_);

  const std::pair<const char*, int32_t> mapped[] = {{"-37", 15}, {"-35", 17}, {"-29", 14}, {"-22", 18}, {"-8", 19}, {"-7", 16}};
  for (const auto& m : mapped) {
    Toolkit().Control((std::string("fail CTN_GetPrivateKeyFromTM 1 ") + m.first).c_str());
    EXPECT_EQ(SignOnce(), m.second) << m.first;
  }
}

TEST_F(VestaProtocol, PortValueChoosesTheKeySource) {
  Callbacks::Script(std::vector<std::string>(4, "secret A"));
  Configure(*ea_, kPort, "3");
  EXPECT_EQ(SignOnce(), 0) << "3 is not a touch-memory port: the key files";
  EXPECT_EQ(Toolkit().Calls("CTN_GetPrivateKeyFromTM"), 0);
  Configure(*ea_, kPort, "x");
  int32_t code = 0;
  CurrentUID(*ea_, code);
  EXPECT_EQ(code, 111);
  EXPECT_EQ(SignOnce(), 111);
  EXPECT_EQ(Encode(*ea_, data_, "Client B").code, 111);
  EXPECT_EQ(Decode(*ea_, Bytes(80, 0)).code, 111);
  Configure(*ea_, kPort, "0");
  Configure(*ea_, kSignMethod, "GOST");
  EXPECT_EQ(SignOnce(), 109);
  EXPECT_EQ(ea_->RemoveCertificate("Client B"), 109);
}

TEST_F(VestaProtocol, RecipientsAndUIDs) {
  Callbacks::Script(std::vector<std::string>(8, "secret A"));
  Configure(*ea_, kEncryptUID, "Client B");
  auto eb = box_.Engine(*b_);
  Callbacks::Install(*eb);
  Configure(*eb, kTimeout, "60");
  const CodecResult forB = Encode(*ea_, data_, "");
  ASSERT_EQ(forB.code, 0) << "\"Encrypt UID\" is the last fallback";
  Configure(*ea_, kEncryptForUID, "Client A");
  const CodecResult forA = Encode(*ea_, data_, nullptr);
  ASSERT_EQ(forA.code, 0);
  Callbacks::Script({"secret B"});
  EXPECT_EQ(Decode(*eb, forB.data).sender, "$Client A");
  EXPECT_EQ(Decode(*eb, forA.data).code, -202) << "\"Encrypt for UID\" comes first";

  int32_t code = -1;
  EXPECT_EQ(CurrentUID(*ea_, code), "Client A");
  Configure(*ea_, kSignKey, "");
  EXPECT_EQ(CurrentUID(*ea_, code), "$Client A");
  Configure(*ea_, kEncryptKey, a_->dir + "/none.key");
  CurrentUID(*ea_, code);
  EXPECT_EQ(code, 8);
  char copy[300];
  EXPECT_EQ(ea_->GetEncodeUIDBySignUID("Client B", copy), 0);
  EXPECT_STREQ(copy, "Client B");
}

TEST_F(VestaProtocol, RemovedCorrespondentNoLongerVerifiesOrReceives) {
  auto eb = box_.Engine(*b_);
  Callbacks::Install(*eb);
  Callbacks::Script(std::vector<std::string>(4, "secret B"));
  const SignResult fromB = Sign(*eb, data_);
  ASSERT_EQ(fromB.code, 0);
  ASSERT_EQ(Verify(*ea_, data_, fromB.signature).code, 0);
  EXPECT_EQ(ea_->RemoveCertificate("Client A"), 118);
  EXPECT_EQ(ea_->RemoveCertificate(""), 2);
  EXPECT_EQ(ea_->RemoveCertificate("$Client B"), 0);
  EXPECT_EQ(Verify(*ea_, data_, fromB.signature).code, -6) << "the verification cache forgot the key";
  Callbacks::Script({"secret A"});
  EXPECT_EQ(Encode(*ea_, data_, "Client B").code, -6);
  EXPECT_EQ(ea_->RemoveCertificate("Client B"), 0) << "nothing left to remove";
  Toolkit().Control("fail CTN_RemovePublicKeyFromVault 1 -13");
  box_.Introduce(*a_, *b_);
  EXPECT_EQ(ea_->RemoveCertificate("Client B"), -13);
  box_.Introduce(*a_, *b_);
  Toolkit().Control("fail CTV_RemovePublicKeyFromVault 1 -8");
  EXPECT_EQ(ea_->RemoveCertificate("Client B"), -8) << "a failed removal is not reported as done";
}

TEST_F(VestaProtocol, OldKeyAnswerStillDecrypts) {
  Callbacks::Script({"secret A", "secret A"});
  Configure(*ea_, kTimeout, "60");
  const CodecResult sealed = Encode(*ea_, data_, "Client A");
  ASSERT_EQ(sealed.code, 0);
  Toolkit().Control("answer CTV_DecryptoBuffer -200 1");
  const CodecResult open = Decode(*ea_, sealed.data);
  EXPECT_EQ(open.code, 0);
  EXPECT_EQ(open.data, data_);
}

TEST_F(VestaProtocol, CodesHaveTheirTexts) {
  EXPECT_EQ(ErrorText(*ea_, 1), "Library not loaded");
  EXPECT_EQ(ErrorText(*ea_, 5), "Not enougth memory");
  EXPECT_EQ(ErrorText(*ea_, 121), "Библиотека ct512.dll не содержит всех необходимых для корректной работы функций. "
                                  "Проверьте версию ct512.dll");
  EXPECT_EQ(ErrorText(*ea_, -2), "Неверный пароль");
  EXPECT_EQ(ErrorText(*ea_, -5), "Cекретный ключ подписи не найден или испорчен");
  EXPECT_EQ(ErrorText(*ea_, 3), "Исключительная ситуация при вызове библиотечной функции");
  EXPECT_EQ(ErrorText(*ea_, 42), "Ошибка криптографической библиотеки LAN Crypto : 42");
  int32_t length = 5;
  EXPECT_EQ(ea_->EncodeData(nullptr, &length, "x"), 2);
  // An exception inside an operation: its text follows the code's.
  ea_->SetPasswordRequestFunc(&FailingHost);
  EXPECT_EQ(SignOnce(), 102);
  EXPECT_EQ(ErrorText(*ea_, 102).rfind("Stop an exception. TVesta235Engine.SignData: ", 0), 0u) << ErrorText(*ea_, 102);
  char type[100];
  ea_->GetCryptoEngineType(type);
  EXPECT_STREQ(type, "LAN Crypto/2.35");
}

}  // namespace
}  // namespace vtest
