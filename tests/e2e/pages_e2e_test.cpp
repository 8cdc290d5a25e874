// Whole-program tests of the catalogue pages: search form, result list, detail page.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/support/bytes_diff.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

constexpr const char* kBooks =
    "登録番号,書名,書名ｶﾅ,著者名,著者名ｶﾅ,叢書名,出版者,出版年,頁（ｐ）,大きさ,分類記号,図書記号,巻冊記号,保管場所,内容紹介,"
    "注記,件名\n"
    "123,こころ,ｺｺﾛ,夏目漱石,ﾅﾂﾒ ｿｳｾｷ,岩波文庫,岩波書店,1989,326,15,913.6,ナツ,1,文庫棚,先生と私の物語,,小説\n"
    "7,銀河鉄道の夜,ｷﾞﾝｶﾞ ﾃﾂﾄﾞｳ ﾉ ﾖﾙ,宮沢賢治,ﾐﾔｻﾞﾜ ｹﾝｼﾞ,新潮文庫,新潮社,1989,354,16,913.6,ミヤ,,文庫棚,,,童話\n"
    "45,猫の歴史,ﾈｺ ﾉ ﾚｷｼ,山田太郎,ﾔﾏﾀﾞ ﾀﾛｳ,,猫出版,2001,200,19,489.5,ヤマ,,一般書架,猫と人の歴史,,猫\n"
    "46,\"猫\"\"と暮らす\",ﾈｺ ﾄ ｸﾗｽ,佐藤花子,ｻﾄｳ ﾊﾅｺ,,猫出版,2010,150,21,645.7,サト,,一般書架,,,猫\n"
    "300,哲学入門,ﾃﾂｶﾞｸ ﾆｭｳﾓﾝ,鈴木一郎,ｽｽﾞｷ ｲﾁﾛｳ,,哲学社,1999,,,100,スズ,,一般書架,,,\n";
constexpr const char* kLoans =
    "登録番号,返却予定日,返却済\n"
    "7,2026-11-01,T\n"
    "45,2026-10-01,T\n"
    "45,2026-12-24,F\n"
    "45,2027-01-10,F\n"
    "123,2026-12-20,F\n";

std::string ReadSource(const std::string& relative) {
  std::ifstream in(SourceDir() + "/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A template of app/res as the program sends it: Shift_JIS, every line ended by CR LF, with
// the given tags replaced.
std::string Page(const std::string& resource, const std::vector<std::pair<std::string, std::string>>& tags) {
  std::string text = ReadSource("app/res/" + resource);
  for (const auto& [tag, value] : tags) {
    for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + value.size())) {
      text.replace(at, tag.size(), value);
    }
  }
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += "\r\n"; else crlf.push_back(c);
  }
  return Sjis(crlf);
}

// A whole answer written out under tests/e2e/fixtures, header block included. The file is UTF-8
// with LF line ends so that a change to the page reads as changed lines in a diff; the program
// ends every line with CR LF and writes Shift_JIS, so each LF becomes CR LF (a CR LF already
// there, as a checkout may write it, stays one line end) and the text is converted.
std::string FixtureAnswer(const std::string& name) {
  std::string text = ReadSource("tests/e2e/fixtures/" + name);
  EXPECT_FALSE(text.empty()) << "missing or empty fixture tests/e2e/fixtures/" << name;
  std::string crlf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') crlf += "\r\n"; else crlf.push_back(text[i]);
  }
  return Sjis(crlf);
}

std::string Answer(const std::string& body) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent:\r\n\r\n" + body;
}

class PagesTest : public ::testing::Test {
 protected:
  PagesTest() {
    catalogue_.WriteBooks(kBooks);
    catalogue_.WriteLoans(kLoans);
  }
  std::string Body(std::string_view path, std::string_view query) {
    CgiResult r = catalogue_.Get(path, query);
    EXPECT_EQ(r.exit_code, 0);
    size_t end = r.output.find("Content:\r\n\r\n");
    return end == std::string::npos ? r.output : r.output.substr(end + 12);
  }
  CatalogueFixture catalogue_;
};

TEST_F(PagesTest, SearchFormWithoutSettingsShowsTheDefaults) {
  std::string expected = FixtureAnswer("search_form_default.txt");
  EXPECT_BYTES_EQ(expected, catalogue_.Get("", "").output);
  // The untouched form comes back as the form; so does a request that names no criterion.
  EXPECT_BYTES_EQ(expected,
                  catalogue_.Get("", "title1=&title2=&title3=&Author=&KeyWord1=&KeyWord2=&KeyWord3=&Bunrui=10").output);
}

TEST_F(PagesTest, SearchFormTakesBannerAndClassNamesFromTheSettings) {
  // The banner and class 3 from the file, the other nine class names still the defaults.
  catalogue_.WriteSettings("[web棚読]\n メッセージ = \"年末年始は休館します\"\n[分類表示]\n3=社会\n");
  EXPECT_BYTES_EQ(FixtureAnswer("search_form_settings.txt"), catalogue_.Get("", "").output);
}

TEST_F(PagesTest, ResultListOfOneBookIsExact) {
  std::string expected = Sjis(
      "<head>\r\n<title>棚読(Shelfra)　検索結果一覧</title>\r\n</head>\r\n該当する資料は1件です\r\n"
      "<Table Width=\"100%\" Align=\"Center\" Border=1 BgColor=\"#FCFBE2\"><Caption  Align=\"Top\">棚読(Shelfra)　検索結果一覧"
      "</Caption>\r\n"
      "<TR><TH>登録番号</TH><TH>分類記号</TH><TH>図書記号</TH><TH>巻冊記号</TH><TH>書名</TH><TH>叢書名</TH><TH>著者名</TH>"
      "<TH>出版者</TH><TH>出版年</TH><TH>頁（ｐ）</TH><TH>大きさ</TH></TR>\r\n"
      "<TR><TD><A HREF=\"/cgi-bin/vovivavi.exe/Detail?NO=123\">123</A></TD><TD>913.6</TD><TD>ナツ</TD><TD>1</TD>"
      "<TD>こころ</TD><TD>岩波文庫</TD><TD>夏目漱石</TD><TD>岩波書店</TD><TD>1989</TD><TD>326</TD><TD>15</TD></TR>\r\n"
      "</Table><H3 align=\"right\"><A HREF = 'JavaScript:history.back();'>[検索画面に戻る]</a></H3>\r\n");
  EXPECT_BYTES_EQ(Answer(expected), catalogue_.Get("", "title1=" + Escape("こころ")).output);
}

TEST_F(PagesTest, ListWithoutSearchHasNoCountAndNoRows) {
  std::string expected = Sjis(
      "<head>\r\n<title>棚読(Shelfra)　検索結果一覧</title>\r\n</head>\r\n"
      "<Table Width=\"100%\" Align=\"Center\" Border=1 BgColor=\"#FCFBE2\"><Caption  Align=\"Top\">棚読(Shelfra)　検索結果一覧"
      "</Caption>\r\n"
      "<TR><TH>登録番号</TH><TH>分類記号</TH><TH>図書記号</TH><TH>巻冊記号</TH><TH>書名</TH><TH>叢書名</TH><TH>著者名</TH>"
      "<TH>出版者</TH><TH>出版年</TH><TH>頁（ｐ）</TH><TH>大きさ</TH></TR>\r\n"
      "</Table><H3 align=\"right\"><A HREF = 'JavaScript:history.back();'>[検索画面に戻る]</a></H3>\r\n");
  EXPECT_BYTES_EQ(Answer(expected), catalogue_.Get("/list", "").output);
}

// The registration numbers of the result rows, in page order, and the count line.
std::pair<std::string, std::vector<std::string>> Rows(const std::string& body) {
  std::vector<std::string> numbers;
  const std::string marker = "/Detail?NO=";
  for (size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at + 1)) {
    numbers.push_back(body.substr(at + marker.size(), body.find('"', at) - at - marker.size()));
  }
  std::string count;
  size_t start = body.find(Sjis("該当する資料は"));
  if (start != std::string::npos) count = Utf8(body.substr(start, body.find("\r\n", start) - start));
  return {count, numbers};
}

TEST_F(PagesTest, SearchesCombineTheirCriteria) {
  using V = std::vector<std::string>;
  struct Case {
    std::string query;
    std::string count;
    V numbers;
  } cases[] = {
      {"title1=" + Escape("猫"), "該当する資料は2件です", {"46", "45"}},  // ordered by reading: ﾈｺ ﾄ before ﾈｺ ﾉ
      {"Bunrui=9", "該当する資料は2件です", {"7", "123"}},
      {"Bunrui=1", "該当する資料は1件です", {"300"}},  // "1" is a prefix: 100 starts with it
      {"title1=" + Escape("猫") + "&Bunrui=4", "該当する資料は1件です", {"45"}},
      {"Author=" + Escape("夏目"), "該当する資料は1件です", {"123"}},
      {"KeyWord2=" + Escape("童話"), "該当する資料は1件です", {"7"}},
      {"title1=" + Escape("存在しない"), "該当する資料は0件です", {}},
      // "%" stays the wildcard; rows come in the order of the reading.
      {"title1=%25", "該当する資料は5件です", {"7", "123", "300", "46", "45"}},
      {"title1=+", "該当する資料は4件です", {"7", "300", "46", "45"}},  // one space is a criterion
  };
  for (const Case& c : cases) {
    auto [count, numbers] = Rows(Body("", c.query));
    EXPECT_EQ(count, c.count) << c.query;
    EXPECT_EQ(numbers, c.numbers) << c.query;
  }
}

TEST_F(PagesTest, DoubleQuotesInSearchWordsAreSearchedLiterally) {
  // The classic attempt to widen the statement finds nothing ...
  auto [count, numbers] = Rows(Body("", "title1=%22+or+%221%22%3D%221"));
  EXPECT_EQ(count, "該当する資料は0件です");
  // ... while a quote that is really in a title finds that book.
  auto [count2, numbers2] = Rows(Body("", "title1=" + Escape("猫\"と")));
  EXPECT_EQ(numbers2, std::vector<std::string>{"46"});
}

std::vector<std::pair<std::string, std::string>> DetailTags(const std::string& number, const std::string& status) {
  return {{"<#Seikyu>", "913.6/ナツ/1"}, {"<#No>", number},  {"<#Title>", "こころ"},
          {"<#Author>", "夏目漱石"},     {"<#Series>", "岩波文庫"}, {"<#Publisher>", "岩波書店"},
          {"<#Year>", "1989"},           {"<#Size>", "15(cm)"}, {"<#Page>", "326p."},
          {"<#Place>", "文庫棚"},         {"<#Content>", "先生と私の物語"}, {"<#Kashidashi>", status}};
}

TEST_F(PagesTest, DetailPageShowsTheBookAndItsOpenLoan) {
  std::string expected = Answer(Page("detail.html", DetailTags("123", "貸出中 返却予定日は12/20/26")));
  EXPECT_BYTES_EQ(expected, catalogue_.Get("/Detail", "NO=123").output);
  EXPECT_BYTES_EQ(expected, catalogue_.Get("/detail", "no=123").output);
}

TEST_F(PagesTest, DetailPageUsesTheLocaleDatePattern) {
  catalogue_.AppendConfig("[Locale]\nShortDateFormat=yyyy/mm/dd\n");
  std::string expected = Answer(Page("detail.html", DetailTags("123", "貸出中 返却予定日は2026/12/20")));
  EXPECT_BYTES_EQ(expected, catalogue_.Get("/Detail", "NO=123").output);
}

TEST_F(PagesTest, LendingStatusComesFromTheFirstOpenLoan) {
  std::string returned_only = Body("/Detail", "NO=7");
  EXPECT_NE(returned_only.find(Sjis("銀河鉄道の夜")), std::string::npos);
  EXPECT_EQ(returned_only.find(Sjis("貸出中")), std::string::npos);
  std::string several = Body("/Detail", "NO=45");
  EXPECT_NE(several.find(Sjis("貸出中 返却予定日は12/24/26")), std::string::npos);
}

TEST_F(PagesTest, RegistrationNumberPaddingFollowsTheSettings) {
  struct Case {
    std::string settings;
    std::string shown;
  } cases[] = {
      {"", "123"},
      {"[番号設定]\n詰め文字=True\n", "000123"},
      {"[番号設定]\n詰め文字=true\n", "123"},
      {"[番号設定]\n詰め文字=True\n標準=False\n桁=8\n", "00000123"},
      {"[番号設定]\n詰め文字=True\n標準=False\n", "000123"},
      {"[番号設定]\n詰め文字=True\n標準=False\n桁=0x0A\n", "0000000123"},
      {"[番号設定]\n詰め文字=True\n標準=False\n桁=20\n", "123"},
      {"[番号設定]\n詰め文字=True\n標準=False\n桁=eight\n", "000123"},
  };
  for (const Case& c : cases) {
    catalogue_.WriteSettings(c.settings);
    std::string expected = Answer(Page("detail.html", DetailTags(c.shown, "貸出中 返却予定日は12/20/26")));
    EXPECT_BYTES_EQ(expected, catalogue_.Get("/Detail", "NO=123").output) << c.settings;
  }
}

TEST_F(PagesTest, NegativeDigitCountEndsInTheFormatError) {
  catalogue_.WriteSettings("[番号設定]\n詰め文字=True\n標準=False\n桁=-3\n");
  CgiResult r = catalogue_.Get("/Detail", "NO=123");
  EXPECT_EQ(r.output.rfind("Status: 500 ", 0), 0u);
  EXPECT_NE(r.output.find(Sjis("書式文字列 '%.-3d' は正しくないか引数の型と一致しません")), std::string::npos);
}

TEST_F(PagesTest, UnknownOrMalformedNumbersGiveTheInvalidNumberPage) {
  std::string expected = Answer(Sjis("<H1>指定された番号は無効です</H1>"));
  for (const char* query : {"", "NO=", "NO=abc", "NO=999", "NO=12.5", "NO=-1"}) {
    EXPECT_BYTES_EQ(expected, catalogue_.Get("/Detail", query).output) << query;
  }
}

TEST_F(PagesTest, ApostropheAndColonInASearchWordAreSearchedLiterally) {
  for (const char* query : {"title1=Children%27s%3A+x", "title1=%27%3A", "Author=%60a%3Ab"}) {
    auto [count, numbers] = Rows(Body("", query));
    EXPECT_EQ(count, "該当する資料は0件です") << query;
  }
}

TEST(PagesCatalogueTest, BookWithoutNumberStillLinksWithAnEmptyNumber) {
  CatalogueFixture catalogue;
  catalogue.WriteBooks("登録番号,書名,書名ｶﾅ\n,番号なし,ﾊﾞﾝｺﾞｳ\n");
  catalogue.WriteLoans("登録番号\n");
  CgiResult r = catalogue.Get("", "title1=" + Escape("番号なし"));
  EXPECT_NE(r.output.find("<TR><TD><A HREF=\"/cgi-bin/vovivavi.exe/Detail?NO=\"></A></TD>"), std::string::npos)
      << Utf8(r.output);
}

TEST(PagesCatalogueTest, FieldMissingFromTheBookTableEndsTheDetailPageWithItsName) {
  CatalogueFixture catalogue;
  catalogue.WriteBooksWithSchema("name,type,length,decimals\n登録日,D,8,0\n登録番号,N,10,0\n書名,C,40,0\n",
                                 "登録番号,書名\n5,題名\n");
  catalogue.WriteLoans("登録番号\n");
  CgiResult r = catalogue.Get("/Detail", "NO=5");
  std::string message = Sjis("ZoshoTable: 項目 '分類記号' が見つかりません");
  EXPECT_EQ(r.output.rfind("Status: 500 " + message + "\r\n", 0), 0u) << Utf8(r.output);
  EXPECT_NE(r.output.find("Exception: EDatabaseError<br>"), std::string::npos);
  // A search statement naming a field the table lacks is refused by the engine.
  CgiResult list = catalogue.Get("", "title1=" + Escape("題名"));
  EXPECT_EQ(list.output.rfind("Status: 500 ", 0), 0u);
  EXPECT_NE(list.output.find(Sjis("書名ｶﾅ")), std::string::npos) << Utf8(list.output);
  EXPECT_NE(list.output.find("Exception: EDBEngineError<br>"), std::string::npos);
}

}  // namespace
}  // namespace shelfra::testing
