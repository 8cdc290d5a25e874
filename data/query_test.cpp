// The statement engine through TQuery: the search statements as the search page composes
// them, sorting, LIKE, parameter markers and the errors of statements the engine refuses.
#include "data/query.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "data/db_errors.h"
#include "data/engine_error.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::DbfBuilder;
using testing::Sjis;
using testing::TempCatalogue;
using testing::Utf8;

// A book of the test catalogue, texts in UTF-8.
struct Book {
  std::string no, title, title_kana, author, author_kana, code;
  std::string note = "", series = "", series_kana = "", subject = "", content = "";
  bool deleted = false;
};

DbfBuilder BookTable() {
  const Book books[] = {
      {"1", "吾輩は猫である", "ﾜｶﾞﾊｲﾊﾈｺﾃﾞｱﾙ", "夏目漱石", "ﾅﾂﾒｿｳｾｷ", "913.6", "", "", "", "小説"},
      {"2", "こころ", "ｺｺﾛ", "夏目漱石", "ﾅﾂﾒｿｳｾｷ", "913.6"},
      {"3", "ソフトウェア入門", "ｿﾌﾄｳｪｱﾆｭｳﾓﾝ", "山田太郎", "ﾔﾏﾀﾞﾀﾛｳ", "007.6", "", "", "", "", "C++ と SQL"},
      {"4", "表計算の本", "", "", "", "10"},
      {"5", "吾輩", "ﾜｶﾞﾊｲ", "", "", "913", "", "", "", "", "", true},
      {"6", "Data Structures", "DATA STRUCTURES", "Knuth", "", "007"},
      {"7", "哲学入門", "ﾃﾂｶﾞｸﾆｭｳﾓﾝ", "", "", "100", "", "岩波文庫", "ｲﾜﾅﾐﾌﾞﾝｺ"},
      {"8", "こころ", "ｺｺﾛ", "別人", "", "19"},
      {"9", "C:\\TEMP の使い方", "ﾊｽｳ", "", "", "5"},
      {"10", "三百三十六", "ｼｰ", "", "", "336", "時刻 12:30"},
      {"11", "番号なし", "ﾊﾞﾝｺﾞｳﾅｼ", "", "", ""},
  };
  DbfBuilder b;
  for (const char* name : {"登録番号", "著者名", "著者名ｶﾅ", "書名", "書名ｶﾅ", "注記", "叢書名", "叢書名ｶﾅ", "分類記号",
                           "件名", "内容紹介"}) {
    b.AddField(Sjis(name), name == std::string("登録番号") ? 'N' : 'C', name == std::string("登録番号") ? 10 : 40);
  }
  for (const Book& k : books) {
    b.AddRecord({k.no, Sjis(k.author), Sjis(k.author_kana), Sjis(k.title), Sjis(k.title_kana), Sjis(k.note),
                 Sjis(k.series), Sjis(k.series_kana), Sjis(k.code), Sjis(k.subject), Sjis(k.content)},
                k.deleted);
  }
  return b;
}

// The criteria of a search, and the statement lines the search page writes for them.
struct Criteria {
  std::string title1, title2, title3, author, keyword1, keyword2, keyword3, bunrui;
};

std::vector<std::string> SearchLines(const Criteria& c) {
  auto title = [](const std::string& w) {
    return "((書名 like \"%" + w + "%\") or (書名ｶﾅ like \"%" + w + "%\") or (叢書名 like \"%" + w +
           "%\") or (叢書名ｶﾅ like \"%" + w + "%\") or (注記 like \"%" + w + "%\"))";
  };
  auto keyword = [](const std::string& w) {
    std::string line = "AND (";
    const char* fields[] = {"件名", "内容紹介", "著者名", "著者名ｶﾅ", "書名", "書名ｶﾅ", "叢書名", "叢書名ｶﾅ", "注記"};
    for (const char* f : fields) {
      if (line.size() > 5) line += " or ";
      line += std::string("(") + f + " Like \"%" + w + "%\")";
    }
    return line + ")";
  };
  std::vector<std::string> lines{"select * from 図書", "where " + title(c.title1)};
  if (!c.title2.empty()) lines.push_back("AND " + title(c.title2));
  if (!c.title3.empty()) lines.push_back("AND " + title(c.title3));
  if (!c.author.empty()) {
    lines.push_back("AND ((著者名 like \"%" + c.author + "%\") or (著者名ｶﾅ like \"%" + c.author + "%\"))");
  }
  if (c.bunrui != "10") lines.push_back("AND 分類記号 like \"" + c.bunrui + "%\"");
  for (const std::string* k : {&c.keyword1, &c.keyword2, &c.keyword3}) {
    if (!k->empty()) lines.push_back(keyword(*k));
  }
  lines.push_back("order by 書名ｶﾅ");
  return lines;
}

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue_.Write(Sjis("図書.DBF"), BookTable());
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

TEST_F(QueryTest, SearchStatementsOfTheSearchPage) {
  struct Case {
    const char* what;
    Criteria criteria;
    Numbers expected;
  } cases[] = {
      {"class 3 alone: empty title pattern matches everything", {"", "", "", "", "", "", "", "3"}, {"10"}},
      {"class 1 takes 10, 100 and 19", {"", "", "", "", "", "", "", "1"}, {"4", "8", "7"}},
      {"no class field: an empty prefix also matches blank codes", {"番号", "", "", "", "", "", "", ""}, {"11"}},
      {"deleted records never appear", {"吾輩", "", "", "", "", "", "", "10"}, {"1"}},
      {"author in kanji", {"", "", "", "漱石", "", "", "", "10"}, {"2", "1"}},
      {"author in half-width kana", {"", "", "", "ﾅﾂﾒ", "", "", "", "10"}, {"2", "1"}},
      {"keyword2 alone, ASCII case ignored", {"", "", "", "", "", "sql", "", "10"}, {"3"}},
      {"series and its reading", {"ｲﾜﾅﾐ", "", "", "", "", "", "", "10"}, {"7"}},
      {"a colon inside the quoted pattern is no parameter", {"12:30", "", "", "", "", "", "", "10"}, {"10"}},
      {"one space is a criterion", {" ", "", "", "", "", "", "", "10"}, {"6", "10", "9"}},
      {"a backslash never matches a trail byte", {"\\", "", "", "", "", "", "", "10"}, {"9"}},
      {"a percent sign in a criterion is a wildcard", {"入%門", "", "", "", "", "", "", "10"}, {"3", "7"}},
      {"an underscore is one whole character", {"こ_ろ", "", "", "", "", "", "", "10"}, {"2", "8"}},
      {"every line", {"吾輩", "猫", "ﾈｺ", "漱石", "小説", "夏目", "ﾜｶﾞﾊｲ", "9"}, {"1"}},
      {"no match", {"存在しない", "", "", "", "", "", "", "10"}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(SearchLines(c.criteria)), c.expected) << c.what;
  }
}

TEST_F(QueryTest, OrderByIsStableWithBlanksFirst) {
  // Blank reading first; "DATA" (ASCII) before half-width katakana; the two ｺｺﾛ keep table order.
  EXPECT_EQ(Run(SearchLines({"", "", "", "", "", "", "", "10"})),
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
  std::string message = EngineError(SearchLines({"x\":y", "", "", "", "", "", "", "10"}));
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
