// Statements run by a scan: the ORDER BY order of texts, numbers, date-times and
// not-a-number, comparisons of the Visual FoxPro field types, and unknown fields.
#include "engine/sql_statement.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "tests/support/book_tables.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::DbfBuilder;
using testing::Sjis;
using Names = std::vector<std::string>;

class SqlStatementTest : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(path_.c_str()); }

  // Writes `table` and opens it.
  void Use(const DbfBuilder& table) {
    table.WriteTo(path_);
    file_ = testing::OpenTable(path_);
  }
  // The records `statement` (UTF-8) answers, each named by `name_of`(record number).
  template <class NameOf>
  Names Run(const std::string& statement, const NameOf& name_of) {
    Names out;
    if (file_ == nullptr) return out;
    for (uint32_t row : testing::RunStatement(Sjis(statement), *file_)) out.push_back(name_of(row));
    return out;
  }

  std::string path_ = ::testing::TempDir() + "sql_statement_test_" + std::to_string(::getpid()) + ".dbf";
  std::unique_ptr<DbfFile> file_;
};

TEST_F(SqlStatementTest, OrderByIsStableWithBlanksFirst) {
  Use(testing::SmallBookTable());
  auto number = [](uint32_t row) { return std::to_string(row + 1); };  // the registration number
  // Blank reading first; "DATA" (ASCII) before half-width katakana; the two ｺｺﾛ keep table order.
  EXPECT_EQ(Run("select * from 図書 order by 書名ｶﾅ", number), (Names{"4", "6", "2", "8", "10", "3", "7", "9", "11", "1"}));
  EXPECT_EQ(Run("select * from 図書 where 分類記号 like \"913%\" order by 書名ｶﾅ desc", number), (Names{"1", "2"}));
  EXPECT_EQ(Run("SELECT * FROM 図書 ORDER BY 著者名, 登録番号 DESC", number),
            (Names{"11", "10", "9", "7", "4", "6", "2", "1", "3", "8"}));
}

TEST_F(SqlStatementTest, FoxProFieldsCompareAndSortLikeTheTypesTheyStandFor) {
  // K names the record; 番号 I, 日時 T (a null one), 値 B (one not-a-number), null flags.
  auto stamp = [](int day, int32_t milliseconds) {
    return testing::LittleEndian(static_cast<uint64_t>(2461384 + day), 4) +
           testing::LittleEndian(static_cast<uint64_t>(milliseconds), 4);
  };
  auto number = [](int32_t n) { return testing::LittleEndian(static_cast<uint32_t>(n), 4); };
  auto dbl = [](double d) { return testing::LittleEndian(std::bit_cast<uint64_t>(d), 8); };
  DbfBuilder b;
  b.SetVersion(0x30);
  b.AddField("K", 'C', 1)
      .AddField(Sjis("番号"), 'I', 4)
      .AddField(Sjis("日時"), 'T', 8, 0, 0x02)
      .AddField(Sjis("値"), 'B', 8)
      .AddField("_NullFlags", '0', 1, 0, 0x05);
  b.AddRawRecord(" a" + number(30) + stamp(0, 43200000) + dbl(2) + '\0');
  b.AddRawRecord(" b" + number(-5) + stamp(0, 0) + dbl(std::nan("")) + '\0');
  b.AddRawRecord(" c" + number(30) + stamp(-1, 86399999) + dbl(-1) + '\x01');  // 日時 null
  b.AddRawRecord(" d" + number(2147483647) + stamp(1, 0) + dbl(1e300) + '\0');
  b.AddRawRecord(" e" + number(-2147483647 - 1) + stamp(-1, 86399999) + dbl(0) + '\0');
  Use(b);
  auto letter = [](uint32_t row) { return std::string(1, static_cast<char>('a' + row)); };
  struct Case {
    std::string statement;
    Names expected;
  } cases[] = {
      {"select * from fox order by 番号", {"e", "b", "a", "c", "d"}},
      {"select * from fox order by 番号 desc, K desc", {"d", "c", "a", "b", "e"}},
      {"select * from fox order by 日時", {"c", "e", "b", "a", "d"}},  // a null first, then by day and time
      {"select * from fox order by 値", {"c", "e", "a", "d", "b"}},    // not-a-number last
      {"select * from fox where 番号 = 30", {"a", "c"}},
      {"select * from fox where 番号 = '30'", {"a", "c"}},
      {"select * from fox where 番号 < 0", {"b", "e"}},
      {"select * from fox where 番号 >= 2147483647", {"d"}},
      {"select * from fox where 日時 is null", {"c"}},
      {"select * from fox where 値 = 2 or 値 < 0", {"a", "c"}},
      {"select * from fox where 値 <> 2", {"b", "c", "d", "e"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.statement, letter), c.expected) << c.statement;
}

TEST_F(SqlStatementTest, UnknownFieldsAreRefusedNamingTheirToken) {
  Use(testing::SmallBookTable());
  struct Case {
    const char* statement;
    int column;
  } cases[] = {
      {"select * from t order by 書名, 無い desc", 32},
      {"select * from t where 無い = 1 order by 書名", 23},
  };
  for (const Case& c : cases) {
    std::unique_ptr<SqlStatement> statement;
    ASSERT_TRUE(SqlStatement::Prepare(Sjis(c.statement), statement).Ok()) << c.statement;
    std::vector<uint32_t> rows{7};
    EngineStatus s = statement->Execute(*file_, nullptr, rows);
    EXPECT_EQ(s.code, kStatusUnknownField) << c.statement;
    EXPECT_EQ(s.subject, Sjis("無い")) << c.statement;
    EXPECT_EQ(s.second, c.column) << c.statement;
  }
}

}  // namespace
}  // namespace shelfra
