// The statement engine through TQuery: the search statements as the search page composes
// them, sorting, LIKE, parameter markers and the errors of statements the engine refuses.
#include "data/query.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "data/db_errors.h"
#include "engine/engine_test_support.h"
#include "tests/support/book_tables.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::DbfBuilder;
using testing::Sjis;
using testing::TempCatalogue;
using testing::Utf8;

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue_.Write(Sjis("図書.DBF"), testing::SmallBookTable());
    query_ = &owner_.Create<TQuery>("QueryZosho");
    query_->SetDatabaseName("Vadoz");
  }

  // Replaces the statement (UTF-8 lines), opens the query and returns the registration numbers.
  std::vector<std::string> Run(const std::vector<std::string>& lines) {
    query_->Close();
    query_->ClearSQL();
    for (const std::string& l : lines) query_->AddSQL(Sjis(l));
    query_->Open();
    std::vector<std::string> numbers;
    for (; !query_->AtEnd(); query_->MoveNext()) numbers.push_back(query_->FieldAt(0).DisplayText());
    EXPECT_EQ(query_->CountRecords(), static_cast<int>(numbers.size()));
    return numbers;
  }

  // Opens the statement and returns the engine error's message (UTF-8) and code.
  std::string EngineError(const std::vector<std::string>& lines, uint16_t* code = nullptr) {
    try {
      Run(lines);
    } catch (const EDBEngineError& e) {
      EXPECT_FALSE(query_->Active());
      if (code != nullptr) *code = e.ErrorCode();
      return Utf8(e.Message());
    }
    ADD_FAILURE() << "no engine error for " << lines.back();
    return "";
  }

  TempCatalogue catalogue_;
  TComponent owner_{nullptr};
  TQuery* query_ = nullptr;
};

using Numbers = std::vector<std::string>;

TEST_F(QueryTest, OrderByIsStableWithBlanksFirst) {
  // Blank reading first; "DATA" (ASCII) before half-width katakana; the two ｺｺﾛ keep table order.
  EXPECT_EQ(Run({"select * from 図書 order by 書名ｶﾅ"}),
            (Numbers{"4", "6", "2", "8", "10", "3", "7", "9", "11", "1"}));
  EXPECT_EQ(Run({"select * from 図書 where 分類記号 like \"913%\" order by 書名ｶﾅ desc"}), (Numbers{"1", "2"}));
  EXPECT_EQ(Run({"SELECT * FROM 図書 ORDER BY 著者名, 登録番号 DESC"}),
            (Numbers{"11", "10", "9", "7", "4", "6", "2", "1", "3", "8"}));
}

TEST_F(QueryTest, ConditionsOfTheEngineLanguage) {
  struct Case {
    const char* where;
    Numbers expected;
  } cases[] = {
      {"登録番号 = 3", {"3"}},
      {"登録番号 = '3'", {"3"}},
      {"登録番号 <> 3 and 登録番号 < 5", {"1", "2", "4"}},
      {"登録番号 >= 10 or 登録番号 <= 1.5", {"1", "10", "11"}},
      {"書名 = 'こころ' and not 著者名 = \"別人\"", {"2"}},
      {"書名ｶﾅ = ''", {"4"}},
      {"書名ｶﾅ is null", {"4"}},
      {"著者名 is not null and 著者名 not like '%漱石%'", {"3", "6", "8"}},
      {"[書名] LIKE 'c:%'", {"9"}},
      {"書名 like \"%\"\"%\"", {}},
      {"(書名 like 'こころ') AND ((分類記号 = '19'))", {"8"}},
      // LIKE on a blank value (no text at all, not even a place in the record).
      {"null like '%ab%'", {}},
      {"登録番号 = 1 and not (null like 'a%' or null like '_%')", {"1"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run({"select * from 図書", std::string("where ") + c.where}), c.expected) << c.where;
  }
}

TEST_F(QueryTest, TableNamesResolveToDbfFiles) {
  DbfBuilder b;
  b.AddField("K", 'C', 4);
  b.AddRecord({"x"});
  b.AddRecord({"y"});
  catalogue_.Write("lower.dbf", b);
  EXPECT_EQ(Run({"select * from lower"}), (Numbers{"x", "y"}));
  EXPECT_EQ(Run({"select * from \"lower.DBF\";"}), (Numbers{"x", "y"}));
  EXPECT_EQ(Run({"select * from lower.dbf where k = 'y'"}), (Numbers{"y"}));
}

TEST_F(QueryTest, FoxProFieldsCompareAndSortLikeTheTypesTheyStandFor) {
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
  catalogue_.Write("fox.dbf", b);
  struct Case {
    std::string statement;
    Numbers expected;
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
  for (const Case& c : cases) EXPECT_EQ(Run({c.statement}), c.expected) << c.statement;
}

TEST_F(QueryTest, RefusedStatementsNameTheTokenAndItsPlace) {
  struct Case {
    std::vector<std::string> lines;
    uint16_t code;
    const char* message;
  } cases[] = {
      {{"select * from 図書", "where 書名 lik \"x\""},
       kStatusSyntaxError,
       "SQL 文の構文が正しくありません\r\nトークン: lik\r\n行番号: 2, 桁: 12"},
      {{"select * form 図書"}, kStatusSyntaxError, "SQL 文の構文が正しくありません\r\nトークン: form\r\n行番号: 1, 桁: 10"},
      {{"select 書名 from 図書"},
       kStatusUnsupported,
       "この SQL 文はサポートされていません\r\nトークン: 書名\r\n行番号: 1, 桁: 8"},
      {{"select * from 図書 where"},
       kStatusSyntaxError,
       "SQL 文の構文が正しくありません\r\nトークン: (文の終わり)\r\n行番号: 2, 桁: 1"},
      {{"select * from 図書 where 書名 = \"abc"},
       kStatusUnterminatedText,
       "文字列定数または名前が閉じられていません\r\nトークン: \"abc\r\n行番号: 1, 桁: 33"},
      {{"select * from 図書 where 無い = 1"},
       kStatusUnknownField,
       "項目名が正しくありません\r\nトークン: 無い\r\n行番号: 1, 桁: 26"},
      {{"select * from 図書 where 書名 = 1"},
       kStatusTypeMismatch,
       "式の型が一致しません\r\nトークン: 1\r\n行番号: 1, 桁: 33"},
      {{"select * from 図書 where 登録番号 like '1%'"},
       kStatusTypeMismatch,
       "式の型が一致しません\r\nトークン: 登録番号\r\n行番号: 1, 桁: 26"},
      {{"select * from 図書 order by 無い"},
       kStatusUnknownField,
       "項目名が正しくありません\r\nトークン: 無い\r\n行番号: 1, 桁: 29"},
      {{"select * from 図書 where (書名 = 'a'"},
       kStatusSyntaxError,
       "SQL 文の構文が正しくありません\r\nトークン: (文の終わり)\r\n行番号: 2, 桁: 1"},
      {{"select * from 図書 where 書名 = 'a' extra"},
       kStatusSyntaxError,
       "SQL 文の構文が正しくありません\r\nトークン: extra\r\n行番号: 1, 桁: 37"},
      {{"select * from 図書 where 書名 = 'a' # "},
       kStatusSyntaxError,
       "SQL 文の構文が正しくありません\r\nトークン: #\r\n行番号: 1, 桁: 37"},
  };
  for (const Case& c : cases) {
    uint16_t code = 0;
    EXPECT_EQ(EngineError(c.lines, &code), c.message) << c.lines.back();
    EXPECT_EQ(code, c.code) << c.lines.back();
  }
  std::string missing = EngineError({"select * from 無い"});
  EXPECT_NE(missing.find("無い.DBF"), std::string::npos) << missing;
}

TEST_F(QueryTest, ParameterMarkersNeedValues) {
  try {
    Run({"select * from 図書", "where 書名 = :title"});
    ADD_FAILURE();
  } catch (const EDBEngineError&) {
    ADD_FAILURE() << "the statement itself is fine";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(Utf8(e.Message()), "QueryZosho: パラメータ 'title' の値がありません");
  }
  EXPECT_TRUE(query_->Prepared());
  EXPECT_EQ(query_->ParamNames(), (std::vector<std::string>{"title"}));
  EXPECT_FALSE(query_->Active());
  // A search word that closes the quoted constant brings its colon outside; here the engine
  // refuses the text before the parameter is looked at.
  std::string message =
      EngineError({"select * from 図書", "where ((書名 like \"%x\":y%\") or (書名ｶﾅ like \"%x\":y%\"))"});
  EXPECT_NE(message.find("トークン: ?"), std::string::npos) << message;
  query_->SetParamCheck(false);
  EXPECT_EQ(EngineError({"select * from 図書 where 書名 = ?"}),
            "パラメータに値が設定されていません\r\nトークン: ?\r\n行番号: 1, 桁: 33");
}

TEST_F(QueryTest, StatementLinesAreJoinedWithCrLfAndKeptPrepared) {
  query_->AddSQL(Sjis("select * from 図書"));
  query_->AddSQL(Sjis("where 登録番号 = 1"));
  query_->Open();
  EXPECT_EQ(query_->StatementText(), Sjis("select * from 図書\r\nwhere 登録番号 = 1\r\n"));
  query_->Close();
  EXPECT_TRUE(query_->Prepared());
  query_->Open();
  EXPECT_EQ(query_->CountRecords(), 1);
  query_->AddSQL("or 1 = 1");  // closes and discards the prepared statement
  EXPECT_FALSE(query_->Active());
  EXPECT_FALSE(query_->Prepared());
  query_->Open();
  EXPECT_EQ(query_->CountRecords(), 10);
  query_->ClearSQL();
  try {
    query_->Open();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(Utf8(e.Message()), "QueryZosho: SQL 文がありません");
  }
}

TEST(ReplaceParamMarkersTest, ScansOutsideQuotedTextOnly) {
  struct Case {
    std::string text;
    std::string expected;
    std::vector<std::string> names;
  } cases[] = {
      {"a = :p1 and b = :p2)", "a = ? and b = ?)", {"p1", "p2"}},
      {"a = ':x' and b = \":y\" and c = `:z`", "a = ':x' and b = \":y\" and c = `:z`", {}},
      {"a = '12::30' or t = 12::30", "a = '12::30' or t = 12:30", {}},
      // The name ends at the blank and loses its opening quote, which still opened quoted text
      // that the next quote closes.
      {"a = :\"quoted name\" and b = :c", "a = ? name\" and b = ?", {"quoted", "c"}},
      {"a = :\"q and b = :c", "a = ? and b = :c", {"q"}},
      {"a = :\"q\",b", "a = ?,b", {"q"}},
      {"a like \"%x\":y%\") or (b like \"%x\":y%\")", "a like \"%x\"?) or (b like \"%x\":y%\")", {"y%\""}},
      {"a = :", "a = ?", {""}},
      {"a = :p\r\nb", "a = ?\r\nb", {"p"}},
      // Only the quote that opened quoted text closes it: a search word with an apostrophe
      // and a colon stays inside its constant.
      {"a like \"%Children's: x%\"", "a like \"%Children's: x%\"", {}},
      {"a like \"%`:x%\" and b = 'it\"s' and c = :p", "a like \"%`:x%\" and b = 'it\"s' and c = ?", {"p"}},
      // 0x81 0x60 has a backquote as its trail byte: it opens no quoted text.
      {"a = \x81\x60 :p", "a = \x81\x60 ?", {"p"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(ReplaceParamMarkers(c.text, names), c.expected) << c.text;
    EXPECT_EQ(names, c.names) << c.text;
  }
}

}  // namespace
}  // namespace shelfra
