// Whole-program tests of search folding: a visitor's hiragana, katakana, half-width kana and
// full-width letters find the same books, listed in reading order and shown as stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

// Readings are half-width, as the catalogue keeps them, except where a book says otherwise.
constexpr const char* kBooks =
    "登録番号,書名,書名ｶﾅ,著者名,著者名ｶﾅ,叢書名,叢書名ｶﾅ,分類記号\n"
    "1,吾輩は猫である,ﾜｶﾞﾊｲ ﾊ ﾈｺ ﾃﾞｱﾙ,夏目漱石,ﾅﾂﾒ ｿｳｾｷ,,,913.6\n"
    "2,子猫の本,ｺﾈｺ ﾉ ﾎﾝ,山田花子,ﾔﾏﾀﾞ ﾊﾅｺ,,,645.7\n"
    "3,ねこぢる,ﾈｺﾁﾞﾙ,ねこぢるy,ﾈｺﾁﾞﾙ ﾜｲ,,,726.1\n"
    "4,パンの本,ﾊﾟﾝ ﾉ ﾎﾝ,佐藤一郎,ｻﾄｳ ｲﾁﾛｳ,,,596.6\n"
    "5,はんこの話,ﾊﾝｺ ﾉ ﾊﾅｼ,鈴木次郎,ｽｽﾞｷ ｼﾞﾛｳ,,,739\n"
    "6,SQL入門,SQL ﾆｭｳﾓﾝ,Codd,ｺｯﾄﾞ,データベース叢書,ﾃﾞｰﾀﾍﾞｰｽ ｿｳｼｮ,007.6\n"
    "7,ＳＱＬ実践,ＳＱＬ ｼﾞｯｾﾝ,田中三郎,ﾀﾅｶ ｻﾌﾞﾛｳ,,,007.6\n"
    "10,赤い本,あか ﾉ ﾎﾝ,,,,,310\n"
    "9,青い本,アオ ﾉ ﾎﾝ,,,,,320\n"
    "8,愛の本,ｱｲ ﾉ ﾎﾝ,,,,,330\n";

class FoldingTest : public ::testing::Test {
 protected:
  FoldingTest() {
    catalogue_.WriteBooks(kBooks);
    catalogue_.WriteLoans("登録番号,返却予定日,返却済\n");
  }

  // The registration numbers of the result rows in page order; the count line must agree.
  std::vector<std::string> Numbers(const std::string& query, std::string* body_out = nullptr) {
    CgiResult r = catalogue_.Get("", query);
    EXPECT_EQ(r.exit_code, 0) << query;
    std::vector<std::string> numbers;
    const std::string marker = "/Detail?NO=";
    for (size_t at = r.output.find(marker); at != std::string::npos; at = r.output.find(marker, at + 1)) {
      numbers.push_back(r.output.substr(at + marker.size(), r.output.find('"', at) - at - marker.size()));
    }
    std::string count = Sjis("該当する資料は" + std::to_string(numbers.size()) + "件です\r\n");
    EXPECT_NE(r.output.find(count), std::string::npos) << query << "\n" << Utf8(r.output);
    if (body_out != nullptr) *body_out = r.output;
    return numbers;
  }

  CatalogueFixture catalogue_;
};

using V = std::vector<std::string>;

TEST_F(FoldingTest, KanaOfAnyScriptAndWidthFindTheSameBooks) {
  struct Case {
    std::string query;
    V numbers;
  } cases[] = {
      // Hiragana from the on-screen keyboard finds the half-width readings, in reading order.
      {"title1=" + Escape("ねこ"), {"2", "3", "1"}},
      {"title1=" + Escape("ネコ"), {"2", "3", "1"}},
      {"title1=" + Escape("ﾈｺ"), {"2", "3", "1"}},
      {"Author=" + Escape("なつめ"), {"1"}},
      {"KeyWord1=" + Escape("でーたべーす"), {"6"}},
      {"title1=" + Escape("ねこぢる") + "&Author=" + Escape("ﾈｺﾁﾞﾙ"), {"3"}},
      // Pa is one letter: ha does not find it, pa does in any form.
      {"title1=" + Escape("ﾊ"), {"5", "1"}},
      {"title1=" + Escape("ぱん"), {"4"}},
      {"title1=" + Escape("ﾊﾟﾝ"), {"4"}},
      // Voiced and unvoiced stay apart.
      {"title1=" + Escape("ちる"), {}},
      {"title1=" + Escape("ぢる"), {"3"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Numbers(c.query), c.numbers) << c.query;
  }
}

TEST_F(FoldingTest, FullWidthAndAsciiLettersFindTheSameBooks) {
  for (const std::string& word : {std::string("sql"), std::string("SQL"), Escape("ＳＱＬ"), Escape("ｓｑｌ")}) {
    EXPECT_EQ(Numbers("title1=" + word), (V{"7", "6"})) << word;  // SQL ジッセン before SQL ニュウモン
  }
  EXPECT_EQ(Numbers("title1=" + Escape("Ｃｏｄｄ")), V{});   // an author is no title word
  EXPECT_EQ(Numbers("Author=" + Escape("Ｃｏｄｄ")), V{"6"});
}

TEST_F(FoldingTest, ResultsComeInSyllabaryOrderAndShowTheStoredText) {
  std::string body;
  // Readings "ｱｲ", "アオ" and "あか" sort together, whatever the table order.
  EXPECT_EQ(Numbers("Bunrui=3", &body), (V{"8", "9", "10"}));
  std::string all;
  // ASCII sorts before kana; ha, ba and pa follow one another.
  EXPECT_EQ(Numbers("title1=%25", &all), (V{"7", "6", "8", "9", "10", "2", "3", "5", "4", "1"}));
  // Titles are shown as stored, full-width letters included.
  EXPECT_NE(all.find(Sjis("<TD>ＳＱＬ実践</TD>")), std::string::npos);
  EXPECT_NE(all.find(Sjis("<TD>SQL入門</TD>")), std::string::npos);
}

}  // namespace
}  // namespace shelfra::testing
