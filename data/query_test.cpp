// Statements through TQuery: table names, parameter markers, the statement's lines and the
// messages of statements the engine refuses.
#include "data/query.h"

#include <gtest/gtest.h>

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

TEST_F(QueryTest, RefusedStatementsNameTheTokenAndItsPlace) {
  struct Case {
    std::vector<std::string> lines;
    uint16_t code;
    const char* message;
  } cases[] = {
      {{"select * from 図書", "where 書名 lik \"x\""},
       kStatusSyntaxError,
       "SQL 文の構文が正しくありません\r\nトークン: lik\r\n行番号: 2, 桁: 12"},
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
      {{"select * from 図書 order by 無い"},
       kStatusUnknownField,
       "項目名が正しくありません\r\nトークン: 無い\r\n行番号: 1, 桁: 29"},
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
