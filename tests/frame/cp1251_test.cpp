#include <gtest/gtest.h>

#include "frame/cp1251.h"

namespace {

TEST(Cp1251, CyrillicMapsToSingleBytes) {
  EXPECT_EQ(zk::Utf8ToCp1251("Сертификат отозван."),
            "\xD1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2\x20\xEE\xF2\xEE\xE7\xE2\xE0\xED\x2E");
  EXPECT_EQ(zk::Utf8ToCp1251("Ёё№"), "\xA8\xB8\xB9");
  EXPECT_EQ(zk::Utf8ToCp1251("plain ASCII"), "plain ASCII");
}

TEST(Cp1251, RoundTripAndUnmappable) {
  const std::string text = "Ошибка ввода-вывода: «файл» — Ёж";
  EXPECT_EQ(zk::Cp1251ToUtf8(zk::Utf8ToCp1251(text)), text);
  EXPECT_EQ(zk::Utf8ToCp1251("\xE4\xB8\xAD"), "?");  // a CJK character has no form here
  EXPECT_EQ(zk::Utf8ToCp1251("\xD0"), "?");          // truncated sequence
}

}  // namespace
