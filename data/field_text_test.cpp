#include "data/field_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/exceptions.h"
#include "engine/value.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

TEST(FloatToGeneralTextTest, FifteenDigitGeneralFormat) {
  struct Case {
    double value;
    const char* expected;
  } cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {1234, "1234"},
      {1234.5, "1234.5"},
      {-3, "-3"},
      {-0.5, "-0.5"},
      {0.1 + 0.2, "0.3"},
      {0.05, "0.05"},
      {0.0001, "0.0001"},
      {0.000123456, "0.000123456"},
      {0.00001, "1E-5"},
      {1.5e-10, "1.5E-10"},
      {100, "100"},
      {1e14, "100000000000000"},
      {999999999999999.0, "999999999999999"},
      {-999999999999999.0, "-999999999999999"},
      {1e15, "1E15"},
      {-1e15, "-1E15"},
      {12345678901234.5, "12345678901234.5"},
      // 18 digits first, then the 16th digit rounds the 15th.
      {123456789012345678.0, "1.23456789012346E17"},
      // A carry out of the first digit adds a digit before the point.
      {999999999999999.5, "1E15"},
      {0.99999999999999999, "1"},
      {1e100, "1E100"},
      {-2e20, "-2E20"},
      {std::numeric_limits<double>::max(), "1.79769313486232E308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
      {std::nan(""), "NAN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToGeneralText(c.value, 15, "."), c.expected) << c.expected;
  }
}

TEST(PlainIntegerTextTest, PlainWholeNumbersOnly) {
  const struct {
    const char* stored;
    const char* text;  // nullptr: not a plain whole number
  } cases[] = {
      {"0", "0"},           {"   -0", "0"},   {"0007", "7"},           {"-007", "-7"},
      {"  -12", "-12"},     {"000", "0"},     {"999999999999999", "999999999999999"},
      {"1000000000000000", nullptr},          {"", nullptr},           {"   ", nullptr},
      {"-", nullptr},       {" 1 ", nullptr}, {"+5", nullptr},         {"1.0", nullptr},
      {"1e3", nullptr},     {"--1", nullptr}, {"1-", nullptr},
  };
  for (const auto& c : cases) {
    std::string text = "before";
    EXPECT_EQ(PlainIntegerText(c.stored, text), c.text != nullptr) << c.stored;
    EXPECT_EQ(text, c.text != nullptr ? c.text : "before") << c.stored;
  }
}

TEST(FloatToGeneralTextTest, UsesTheGivenDecimalSeparator) {
  EXPECT_EQ(FloatToGeneralText(1234.5, 15, ","), "1234,5");
  EXPECT_EQ(FloatToGeneralText(0.05, 15, ","), "0,05");
  EXPECT_EQ(FloatToGeneralText(1.5e-10, 15, ","), "1,5E-10");
  EXPECT_EQ(FloatToGeneralText(1234, 15, ","), "1234");
}

TEST(RoundToInt32Test, TiesToEvenOnSixtyFourBitsThenLowThirtyTwo) {
  struct Case {
    double value;
    int32_t expected;
  } cases[] = {
      {1234.5, 1234},
      {1235.5, 1236},
      {-0.5, 0},
      {-1.5, -2},
      {-2.5, -2},
      {0.49999999999999994, 0},
      {1234.0, 1234},
      {2147483647.0, 2147483647},
      {2147483648.0, -2147483647 - 1},
      {4294967296.0, 0},
      {4294967297.4, 1},
      {-9223372036854775808.0, 0},
      {9223372036854774784.0, -1024},  // the largest double below 2^63 is 2^63 - 1024
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundToInt32(c.value), c.expected) << c.value;
  }
}

TEST(RoundToInt32Test, BeyondSixtyFourBitsRaisesEInvalidOp) {
  for (double v : {9223372036854775808.0, -9223372036854777856.0, 1e300, std::numeric_limits<double>::infinity(),
                   std::nan("")}) {
    try {
      RoundToInt32(v);
      ADD_FAILURE() << "no exception for " << v;
    } catch (const EInvalidOp& e) {
      EXPECT_EQ(e.Message(), testing::Sjis("不正な浮動小数点数演算命令"));
    }
  }
}

TEST(DateTextTest, ShortDatePatterns) {
  const int32_t march15 = DayNumber(2004, 3, 15);
  struct Case {
    int32_t day;
    std::string pattern;
    const char* separator;
    std::string expected;
  } cases[] = {
      {march15, "m/d/yy", "/", "3/15/04"},
      {march15, "yyyy/MM/dd", "/", "2004/03/15"},
      {march15, "YYYY/mm/DD", "-", "2004-03-15"},
      {march15, "d.m.yyyy", "/", "15.3.2004"},
      {march15, "y", "/", "04"},
      {DayNumber(2000, 1, 5), "yy/m/d", "/", "00/1/5"},
      {DayNumber(5, 11, 9), "yyyy/mm/dd", "/", "0005/11/09"},
      {march15, testing::Sjis("yyyy'年'm'月'd'日'"), "/", testing::Sjis("2004年3月15日")},
      {march15, testing::Sjis("yyyy年m月d日"), "/", testing::Sjis("2004年3月15日")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateToText(c.day, c.pattern, c.separator), c.expected) << c.pattern;
  }
}

TEST(DateTextTest, DateTimesAddTheTimeWithoutLeadingZeroOnTheHour) {
  const int32_t dec9 = DayNumber(2026, 12, 9);
  struct Case {
    int32_t milliseconds;
    std::string pattern;
    std::string expected;
  } cases[] = {
      {0, "m/d/yy", "12/9/26 0:00:00"},
      {47107000, "yyyy/mm/dd", "2026/12/09 13:05:07"},
      {3723999, "yyyy/mm/dd", "2026/12/09 1:02:03"},  // milliseconds dropped, not rounded
      {86399999, "m/d/yy", "12/9/26 23:59:59"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateTimeToText(dec9, c.milliseconds, c.pattern, "/"), c.expected) << c.milliseconds;
  }
}

}  // namespace
}  // namespace shelfra
