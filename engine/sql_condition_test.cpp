// Conditions bound to a table: the faults of binding, which records hold, what every passing
// record must contain (for the scan's and the index's prefilters), and the order of values.
#include "engine/sql_condition.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "engine/dbf_file.h"
#include "engine/engine_test_support.h"
#include "tests/support/book_tables.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;
using Numbers = std::vector<std::string>;

// The small book table: registration number i + 1 in record i, record 4 deleted.
class SqlConditionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = ::testing::TempDir() + "sql_condition_test_" + std::to_string(::getpid()) + ".dbf";
    testing::SmallBookTable().WriteTo(path_);
  }
  static void TearDownTestSuite() { std::remove(path_.c_str()); }
  void SetUp() override { file_ = testing::OpenTable(path_); }

  // `where` (UTF-8) parsed and bound; the status of the step that refused it.
  EngineStatus Bind(const std::string& where, std::unique_ptr<SqlCondition>& out) {
    text_ = Sjis(where);
    SqlExpr expr;
    if (EngineStatus s = ParseCondition(text_, expr); !s.Ok()) return s;
    return SqlCondition::Bind(expr, *file_, text_, out);
  }
  // `where` bound; nullptr (and a failed test) when it is refused.
  std::unique_ptr<SqlCondition> Condition(const std::string& where) {
    std::unique_ptr<SqlCondition> condition;
    EngineStatus s = Bind(where, condition);
    EXPECT_TRUE(s.Ok()) << where << ": " << testing::Describe(s);
    return condition;
  }
  // The registration numbers of the live records where `where` holds.
  Numbers Passing(const std::string& where) {
    Numbers out;
    std::unique_ptr<SqlCondition> condition = Condition(where);
    if (condition == nullptr) return out;
    for (uint32_t i = 0; i < file_->RecordCount(); ++i) {
      std::string_view record = file_->Record(i);
      if (!DbfFile::IsDeleted(record) && condition->Holds(record)) out.push_back(std::to_string(i + 1));
    }
    return out;
  }

  static std::string path_;
  std::unique_ptr<DbfFile> file_;
  std::string text_;
};

std::string SqlConditionTest::path_;

TEST_F(SqlConditionTest, BindingFailsNamingTheToken) {
  struct Case {
    const char* where;
    uint16_t code;
    const char* token;
    int column;
  } cases[] = {
      {"無い = 1", kStatusUnknownField, "無い", 1},
      {"書名 = 'a' or (登録番号 = 1 and 無い is null)", kStatusUnknownField, "無い", 33},
      {"書名 = 1", kStatusTypeMismatch, "1", 8},
      {"書名 = TRUE", kStatusTypeMismatch, "TRUE", 8},
      {"登録番号 = 書名", kStatusTypeMismatch, "書名", 12},
      {"登録番号 = '3a'", kStatusTypeMismatch, "'3a'", 12},  // a text read as a number
      {"'x' = 登録番号", kStatusTypeMismatch, "'x'", 1},
      {"登録番号 like '1%'", kStatusTypeMismatch, "登録番号", 1},
      {"書名 like 書名ｶﾅ", kStatusTypeMismatch, "書名ｶﾅ", 11},
      {"書名 like 1", kStatusTypeMismatch, "1", 11},
      {"書名 like ?", kStatusParamUnbound, "?", 11},
      {"書名 = ?", kStatusParamUnbound, "?", 8},
      {"? is null", kStatusParamUnbound, "?", 1},
  };
  for (const Case& c : cases) {
    std::unique_ptr<SqlCondition> condition;
    EngineStatus s = Bind(c.where, condition);
    EXPECT_EQ(s.code, c.code) << c.where;
    EXPECT_EQ(s.fault, EngineFault::kStatement) << c.where;
    EXPECT_EQ(s.subject, Sjis(c.token)) << c.where;
    EXPECT_EQ(s.first, 1) << c.where;
    EXPECT_EQ(s.second, c.column) << c.where;
    EXPECT_EQ(condition, nullptr) << c.where;
  }
}

TEST_F(SqlConditionTest, HoldsOverRecords) {
  struct Case {
    const char* where;
    Numbers expected;
  } cases[] = {
      {"登録番号 = 3", {"3"}},
      {"登録番号 = '3'", {"3"}},
      {"登録番号 = ' +3 '", {"3"}},
      {"登録番号 <> 3 and 登録番号 < 5", {"1", "2", "4"}},
      {"登録番号 >= 10 or 登録番号 <= 1.5", {"1", "10", "11"}},
      {"書名 = 'こころ' and not 著者名 = \"別人\"", {"2"}},
      {"書名 = 'ココロ' and 著者名 = '別人'", {"8"}},  // "=" folds kana
      {"書名ｶﾅ = ''", {"4"}},
      {"書名ｶﾅ is null", {"4"}},
      {"書名ｶﾅ < 'ｱ'", {"6"}},  // a blank passes no ordering test
      {"書名ｶﾅ <= ''", {}},
      {"書名ｶﾅ = null", {"4"}},
      {"著者名 is not null and 著者名 not like '%漱石%'", {"3", "6", "8"}},
      {"[書名] LIKE 'c:%'", {"9"}},
      {"書名 like \"%\"\"%\"", {}},
      {"(書名 like 'こころ') AND ((分類記号 = '19'))", {"8"}},
      // LIKE on a blank value (no text at all, not even a place in the record).
      {"null like '%ab%'", {}},
      {"登録番号 = 1 and not (null like 'a%' or null like '_%')", {"1"}},
      {"登録番号 < 3 and null like '%'", {"1", "2"}},  // "%" matches the blank value too
  };
  for (const Case& c : cases) EXPECT_EQ(Passing(c.where), c.expected) << c.where;
}

TEST_F(SqlConditionTest, RequiredBytesAreWhatEveryPassingRecordHoldsVerbatim) {
  struct Case {
    const char* where;
    const char* expected;
  } cases[] = {
      {"書名 like '%漱石%'", "漱石"},
      {"書名 like '%夏目%' and 著者名 like '%漱石先生%'", "漱石先生"},  // the longest of both
      {"書名 like '%漱石%' and 登録番号 = 1", "漱石"},
      {"書名 like '%漱石%' or 著者名 like '漱石%'", "漱石"},  // common to both sides
      {"書名 like '%漱石%' or 著者名 like '%夏目%'", ""},
      {"書名 like '%漱石%' or 登録番号 = 1", ""},
      {"not 書名 like '%漱石%'", ""},
      {"書名 not like '%漱石%'", ""},
      {"null like '%漱石%'", ""},
      {"書名 like '%ねこ%'", ""},  // kana have other forms
      {"書名 = '漱石'", ""},
  };
  for (const Case& c : cases) {
    std::unique_ptr<SqlCondition> condition = Condition(c.where);
    ASSERT_NE(condition, nullptr);
    EXPECT_EQ(condition->RequiredBytes(), Sjis(c.expected)) << c.where;
  }
}

TEST_F(SqlConditionTest, LikeTestsOnlyListsTheFieldsTheyRead) {
  struct Case {
    const char* where;
    bool expected;
    std::vector<int> fields;  // sorted, without repeats; 1 著者名, 3 書名
  } cases[] = {
      {"書名 like '%a%' and not 著者名 like 'b%'", true, {1, 3}},
      {"書名 like 'a' or 書名 not like 'b'", true, {3}},
      {"書名 like 'a' or 書名 = 'b'", false, {}},
      {"書名 like 'a' and 書名 is null", false, {}},
      {"null like 'a'", false, {}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<SqlCondition> condition = Condition(c.where);
    ASSERT_NE(condition, nullptr);
    std::vector<int> fields;
    EXPECT_EQ(condition->LikeTestsOnly(fields), c.expected) << c.where;
    if (!c.expected) continue;
    std::sort(fields.begin(), fields.end());
    fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
    EXPECT_EQ(fields, c.fields) << c.where;
  }
}

TEST_F(SqlConditionTest, RequiredPairsAreFoldedNeighboursEveryPassingTextHolds) {
  auto pair = [](uint32_t a, uint32_t b) { return a << 16 | b; };
  const uint32_t kNe = 0x836C, kKo = 0x8352;  // katakana ne, ko: the folded form of every kana form
  struct Case {
    const char* where;
    std::vector<uint32_t> expected;
  } cases[] = {
      {"書名 like '%abc%'", {pair('A', 'B'), pair('B', 'C')}},
      {"書名 like 'ｂａｂ%'", {pair('A', 'B'), pair('B', 'A')}},  // sorted, without repeats
      {"書名 like '%ねこ%' or 著者名 like 'ﾈｺ'", {pair(kNe, kKo)}},
      {"書名 like '%ab%' and 著者名 like '%cd%'", {pair('A', 'B'), pair('C', 'D')}},
      {"書名 like '%ab%' or 著者名 like '%cd%'", {}},
      {"書名 like 'a_b%c'", {}},
      {"書名 not like '%ab%'", {}},
      {"not 書名 like '%ab%'", {}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<SqlCondition> condition = Condition(c.where);
    ASSERT_NE(condition, nullptr);
    EXPECT_EQ(condition->RequiredPairs(), c.expected) << c.where;
  }
}

TEST(CompareScalarsTest, IsATotalOrderWithBlanksFirstAndNotANumberLast) {
  auto number = [](double n) {
    Scalar s;
    s.blank = false;
    s.number = n;
    return s;
  };
  auto date = [](int32_t day, int32_t time) {
    Scalar s;
    s.blank = false;
    s.date = day;
    s.time = time;
    return s;
  };
  auto flag = [](bool f) {
    Scalar s;
    s.blank = false;
    s.flag = f;
    return s;
  };
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  const Scalar blank;
  struct Case {
    ValueCategory category;
    Scalar a, b;
    int expected;
  } cases[] = {
      {ValueCategory::kNumber, blank, blank, 0},
      {ValueCategory::kNumber, blank, number(-inf), -1},
      {ValueCategory::kNumber, number(-inf), blank, 1},
      {ValueCategory::kNumber, blank, number(nan), -1},
      {ValueCategory::kNumber, number(nan), number(nan), 0},
      {ValueCategory::kNumber, number(nan), number(inf), 1},
      {ValueCategory::kNumber, number(inf), number(nan), -1},
      {ValueCategory::kNumber, number(-0.0), number(0.0), 0},
      {ValueCategory::kNumber, number(-1), number(2), -1},
      {ValueCategory::kDate, blank, date(1, 0), -1},
      {ValueCategory::kDate, date(5, 0), date(5, 0), 0},
      {ValueCategory::kDate, date(5, 0), date(5, 1), -1},      // a date is a date-time at midnight
      {ValueCategory::kDate, date(5, 86399999), date(6, 0), -1},  // the day before the time
      {ValueCategory::kDate, date(6, 0), date(5, 86399999), 1},
      {ValueCategory::kBool, flag(false), flag(true), -1},
      {ValueCategory::kBool, blank, flag(false), -1},
      {ValueCategory::kBool, flag(true), flag(true), 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const int got = CompareScalars(c.category, c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.expected) << "case " << i;
  }
  // Texts compare folded; a blank text is the empty text, before every other.
  const std::string kokoro = Sjis("こころ"), katakana = Sjis("ｺｺﾛ");
  Scalar a, b, empty;
  a.blank = b.blank = false;
  a.text = kokoro;
  b.text = katakana;
  EXPECT_EQ(CompareScalars(ValueCategory::kText, a, b), 0);
  EXPECT_LT(CompareScalars(ValueCategory::kText, empty, a), 0);
}

}  // namespace
}  // namespace shelfra
