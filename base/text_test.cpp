#include "base/text.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

TEST(TryStrToIntTest, AcceptsDecimalAndHexadecimalForms) {
  struct Case {
    const char* input;
    std::optional<int32_t> expected;
  } cases[] = {
      {"0", 0},
      {"12", 12},
      {"  12", 12},
      {"\t-7", -7},
      {"+5", 5},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"$10", 16},
      {"x1F", 31},
      {"X1f", 31},
      {"0x0A", 10},
      {"0X0a", 10},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"$123456789", std::nullopt},  // nine digits
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"-$10", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"12 ", std::nullopt},  // the whole text must be consumed
      {"1.5", std::nullopt},
      {"abc", std::nullopt},
      {"-", std::nullopt},
      {"0012", 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TryStrToInt(c.input), c.expected) << "input: '" << c.input << "'";
  }
}

TEST(HexDigitValueTest, TakesDigitsAndLettersOfEitherCaseOnly) {
  struct Case {
    unsigned char byte;
    int expected;
  } cases[] = {{'/', -1}, {'0', 0},  {'9', 9},  {':', -1}, {'@', -1}, {'A', 10},  {'F', 15},
               {'G', -1}, {'`', -1}, {'a', 10}, {'f', 15}, {'g', -1}, {0xC1, -1}, {0xE6, -1}};
  for (const Case& c : cases) EXPECT_EQ(HexDigitValue(c.byte), c.expected) << "byte " << int{c.byte};
}

TEST(TryStrToIntTest, StrToIntRaisesEConvertErrorWithTheText) {
  try {
    StrToInt("abc");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), testing::Sjis("'abc' は整数ではありません"));
    EXPECT_EQ(e.ClassName(), "EConvertError");
  }
}

TEST(SameTextAsciiTest, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(SameTextAscii("Detail", "dETAIL"));
  EXPECT_FALSE(SameTextAscii("Detail", "Detai"));
  // Full-width A and a differ in their second byte; they must stay different.
  EXPECT_FALSE(SameTextAscii("\x82\x60", "\x82\x81"));
  // A byte >= 0x80 is never folded.
  EXPECT_FALSE(SameTextAscii("\xC1", "\xE1"));
}

}  // namespace
}  // namespace shelfra
