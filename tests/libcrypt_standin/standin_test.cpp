// What the stand-in offers beyond the primitives: its export list and the variant without a
// required call, the control entry, the generator, the self-tests and the key-file writer.
#include "libcrypt_module.h"

namespace libcrypt_test {
namespace {

class StandInTest : public LibcryptFilesTest {};

TEST_F(StandInTest, EveryCallOfTheAdapterAndEveryTestEntryIsExported) {
#define LIBCRYPT_PRESENT(name) EXPECT_NE(reinterpret_cast<void*>(Lib().name), nullptr) << #name;
  LIBCRYPT_TOOLKIT_CALLS(LIBCRYPT_PRESENT)
  LIBCRYPT_STANDIN_CALLS(LIBCRYPT_PRESENT)
#undef LIBCRYPT_PRESENT
}

TEST_F(StandInTest, TheVariantLacksExactlyTheSignatureSelfTest) {
  zk::platform::ModuleHandle variant = zk::platform::LoadModule(ZK_LIBCRYPT_MISSING_DLL);
  ASSERT_NE(variant, nullptr) << ZK_LIBCRYPT_MISSING_DLL;
  ASSERT_NE(zk::platform::FindSymbol(variant, "CrypC_G28147_1989_block_init"),
            reinterpret_cast<void*>(Lib().CrypC_G28147_1989_block_init))
      << "the variant must be a module of its own, not the full toolkit again";
  std::vector<std::string> missing;
#define LIBCRYPT_CHECK(name) \
  if (zk::platform::FindSymbol(variant, #name) == nullptr) missing.push_back(#name);
  LIBCRYPT_TOOLKIT_CALLS(LIBCRYPT_CHECK)
  LIBCRYPT_STANDIN_CALLS(LIBCRYPT_CHECK)
#undef LIBCRYPT_CHECK
  EXPECT_EQ(missing, std::vector<std::string>{"CrypC_TestSignFunctions_"});
  // The rest of it works.
  auto test = reinterpret_cast<decltype(&CrypC_TestCryptoFunctions_)>(
      zk::platform::FindSymbol(variant, "CrypC_TestCryptoFunctions_"));
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(test(), 0);
}

TEST_F(StandInTest, SelfTestsPass) {
  EXPECT_EQ(L().CrypC_TestCryptoFunctions_(), 0);
  EXPECT_EQ(L().CrypC_TestSignFunctions_(), 0);
}

TEST_F(StandInTest, AScriptedAnswerComesBeforeAnyEffect) {
  auto work = WorkBlock();
  ASSERT_EQ(L().StandIn_Control("answer CrypC_R34_11_1994_init 7 2"), 0);
  EXPECT_EQ(L().CrypC_R34_11_1994_init(work.data()), 7);
  EXPECT_EQ(L().CrypC_R34_11_1994_init(work.data()), 7);
  uint8_t byte = 0;
  EXPECT_EQ(L().CrypC_R34_11_1994_update(work.data(), &byte, 1), 1) << "the scripted calls set nothing up";
  EXPECT_EQ(L().CrypC_R34_11_1994_init(work.data()), 0);
  EXPECT_EQ(L().CrypC_R34_11_1994_update(work.data(), &byte, 1), 0);
  EXPECT_EQ(L().CrypC_R34_11_1994_clear(work.data()), 0);
  EXPECT_EQ(L().StandIn_Control("calls CrypC_R34_11_1994_init"), 3);
  EXPECT_EQ(L().StandIn_Control("calls CrypC_R34_11_1994_update"), 2);
}

TEST_F(StandInTest, TheKthCallFailsAndTheStreamGoesOnAsIfItHadNotHappened) {
  auto work = WorkBlock();
  const auto key = Bytes(32, 51), iv = Bytes(8, 52), plain = Bytes(40, 53);
  std::vector<uint8_t> expected(40), out(40, 0);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_init(work.data(), key.data(), iv.data()), 0);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_crypt(work.data(), plain.data(), expected.data(), 40), 0);
  ASSERT_EQ(L().CrypC_G28147_1989_gamma_init(work.data(), key.data(), iv.data()), 0);

  ASSERT_EQ(L().StandIn_Control("reset"), 0);
  ASSERT_EQ(L().StandIn_Control("fail CrypC_G28147_1989_gamma_crypt 2 9"), 0);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_crypt(work.data(), plain.data(), out.data(), 10), 0);
  std::vector<uint8_t> untouched(30, 0xAB);
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_crypt(work.data(), plain.data() + 10, untouched.data(), 30), 9);
  EXPECT_EQ(untouched, std::vector<uint8_t>(30, 0xAB));
  EXPECT_EQ(L().CrypC_G28147_1989_gamma_crypt(work.data(), plain.data() + 10, out.data() + 10, 30), 0);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(L().StandIn_Control("calls CrypC_G28147_1989_gamma_crypt"), 3);
  L().CrypC_G28147_1989_gamma_clear(work.data());

  ASSERT_EQ(L().StandIn_Control("reset"), 0);
  EXPECT_EQ(L().StandIn_Control("calls CrypC_G28147_1989_gamma_crypt"), 0);
  EXPECT_EQ(L().StandIn_Control("frobnicate"), -1);
  EXPECT_EQ(L().StandIn_Control(nullptr), -1);
}

TEST_F(StandInTest, ScriptedKeyFileWriterWritesNothing) {
  ASSERT_EQ(L().StandIn_Control("answer CrypC_StandIn_WriteKeyFiles 12 1"), 0);
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(0, "u", Path("s.key").c_str(), Path("p.pub").c_str()), 12);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "s.key"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "p.pub"));
}

TEST_F(StandInTest, RandomFillAdvancesTheStateAndNeverRepeats) {
  std::vector<uint8_t> state(76, 0), first(52, 0xF0), second(52, 0xF0);
  ASSERT_EQ(L().CrypC_Random_Fill(state.data(), first.data(), 48), 0);
  EXPECT_NE(state, std::vector<uint8_t>(76, 0)) << "a zero state is seeded and advanced";
  const auto afterFirst = state;
  for (int i = 48; i < 52; ++i) EXPECT_EQ(first[i], 0xF0) << "written past the request";
  ASSERT_EQ(L().CrypC_Random_Fill(state.data(), second.data(), 48), 0);
  EXPECT_NE(state, afterFirst);
  EXPECT_NE(first, second);
  // The adapter's pattern: copy out, fill, store back. An old state replayed still gives new bytes.
  auto replay = afterFirst;
  std::vector<uint8_t> third(52, 0xF0);
  ASSERT_EQ(L().CrypC_Random_Fill(replay.data(), third.data(), 48), 0);
  EXPECT_NE(third, second);
  EXPECT_EQ(L().CrypC_Random_Fill(state.data(), nullptr, 0), 0);
}

TEST_F(StandInTest, KeyFileWriterRefusesBadArgumentsAndLeavesNoHalfPair) {
  const std::string s = Path("s.key"), p = Path("p.pub");
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(2, "u", s.c_str(), p.c_str()), 14);
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(-1, "u", s.c_str(), p.c_str()), 14);
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(0, "", s.c_str(), p.c_str()), 14);
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(1, std::string(255, 'u').c_str(), s.c_str(), p.c_str()), 14);
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(0, nullptr, s.c_str(), p.c_str()), 15);
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(0, "u", nullptr, p.c_str()), 15);
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(0, "u", s.c_str(), nullptr), 15);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "s.key"));

  const std::string nowhere = Path("absent/dir/p.pub");
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(1, "u", nowhere.c_str(), p.c_str()), 10);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "p.pub"));
  EXPECT_EQ(L().CrypC_StandIn_WriteKeyFiles(1, "u", s.c_str(), nowhere.c_str()), 10);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "s.key")) << "the secret half of a failed pair is removed";

  const std::string longest(254, 'L');
  ASSERT_EQ(L().CrypC_StandIn_WriteKeyFiles(1, longest.c_str(), s.c_str(), p.c_str()), 0);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "p.pub"), 254u + 233u);
  ASSERT_EQ(L().CrypC_StandIn_WriteKeyFiles(0, longest.c_str(), s.c_str(), p.c_str()), 0);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "p.pub"), 254u + 261u) << "an existing file is replaced";
  EXPECT_EQ(std::filesystem::file_size(dir_ / "s.key"), 164u);
}

}  // namespace
}  // namespace libcrypt_test
