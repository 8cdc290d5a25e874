// Whole-program tests of shelfra.cgi, the UTF-8 front, run as a web server runs it: every answer
// carries its security headers and is never a 500 for any input; the result list pages through
// the same books, in the same order, as vovivavi.exe lists; catalogue values reach the pages
// escaped; a book's page shows its call number and state; the list's orders, rows' states,
// classes, identifiers and the help of an empty answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/e2e/opac_support.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

class OpacTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string books = "登録番号,書名,書名ｶﾅ,著者名,分類記号,図書記号,巻冊記号,禁帯出\n";
    for (int i = 1; i <= 45; ++i) {
      books += std::to_string(i) + ",ねこ" + std::to_string(i) + ",ﾈｺ" + std::to_string(i % 7) + ",著者" +
               std::to_string(i % 3) + ",913." + std::to_string(i % 4) + ",ナツ,," + (i == 5 ? "T" : "F") + "\n";
    }
    books += "46,\"<script>alert(1)</script> & \"\"ねこ\"\"\",,<b>誰か</b>,9,,,F\n";
    catalogue_.WriteBooks(books);
    catalogue_.WriteLoans("登録番号,返却予定日,返却済\n5,2026-12-20,F\n6,2026-12-21,T\n");
    catalogue_.WriteSettings("[分類表示]\n9=<i>文学</i>\n");
  }

  CgiResult Run(std::string_view method, std::string_view path, std::string_view query,
                const std::map<std::string, std::string>& headers = {}) const {
    return RunShelfra(catalogue_, method, path, query, headers);
  }
  CgiResult Get(std::string_view path, std::string_view query = "") const { return Run("GET", path, query); }

  CatalogueFixture catalogue_;
};

// `page` without the book page's linked data, a data block that is no script: what is left
// must hold no script element.
std::string WithoutLinkedData(std::string page) {
  const std::string open = "<script type=\"application/ld+json\">";
  const size_t at = page.find(open);
  if (at != std::string::npos) page.erase(at, page.find("</script>", at) + 9 - at);
  return page;
}

TEST_F(OpacTest, EveryAnswerHasItsStatusAndHeadersAndNoInputMakesA500) {
  struct Case {
    std::string method, path, query;
    std::string status;  // the Status line's code and words
    std::string text;    // in the body
  } cases[] = {
      {"GET", "", "", "200 OK", "<label for=\"f-q\">"},
      {"GET", "/", "", "200 OK", "&lt;i&gt;文学&lt;/i&gt;"},  // the settings' class name as text
      {"GET", "/search", "", "200 OK", "探したい語を入れるか"},
      {"GET", "/search", "q=" + Utf8Escape("😀"), "200 OK", "😀 (U+1F600)"},
      {"GET", "/search", "title=" + Utf8Escape("ね〜"), "200 OK", "検索できません： 〜 (U+301C)"},
      {"GET", "/search", "title=" + Utf8Escape("いぬ"), "200 OK", "見つかりませんでした"},
      {"GET", "/search", "q=%ZZ", "400 Bad Request", "アドレスが正しくありません"},
      {"GET", "/search", "q=%E3%81", "400 Bad Request", "アドレス"},
      {"GET", "/search", "title=" + Escape("ねこ"), "400 Bad Request", "アドレス"},  // Shift_JIS is no UTF-8
      {"GET", "/search", "class=10", "400 Bad Request", "分類の指定"},
      {"GET", "/search", "class=9&per=30", "400 Bad Request", "表示件数"},
      {"GET", "/search", "class=9&page=0", "400 Bad Request", "表示件数"},
      {"GET", "/search", "class=9&page=99999999999", "400 Bad Request", "表示件数"},
      {"GET", "/search", "author=a+b+c+d+e+f+g+h+i+j+k", "400 Bad Request", "10語まで"},
      {"GET", "/book/999", "", "404 Not Found", "見つかりませんでした"},
      {"GET", "/book/1x", "", "404 Not Found", "見つかりませんでした"},
      {"GET", "/book/", "", "404 Not Found", "見つかりませんでした"},
      {"GET", "/Detail", "NO=1", "404 Not Found", "見つかりませんでした"},
      {"POST", "/search", "class=9", "405 Method Not Allowed", "この方法では"},
      {"DELETE", "/", "", "405 Method Not Allowed", "この方法では"},
  };
  for (const Case& c : cases) {
    const CgiResult r = Run(c.method, c.path, c.query);
    const std::string where = c.method + " " + c.path + "?" + c.query;
    EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: " + c.status) << where << "\n" << r.errors;
    for (const char* header : {"\r\nContent-Type: text/html; charset=UTF-8\r\n", "\r\nX-Content-Type-Options: nosniff\r\n",
                               "\r\nContent-Security-Policy: default-src 'none'; style-src 'self';",
                               "\r\nReferrer-Policy: same-origin\r\n"}) {
      EXPECT_NE(r.output.find(header), std::string::npos) << where << " lacks " << header;
    }
    EXPECT_NE(Body(r).find(c.text), std::string::npos) << where << "\n" << Body(r);
    EXPECT_NE(Body(r).find("<html lang=\"ja\">"), std::string::npos) << where;
    EXPECT_EQ(r.errors, "") << where;
    if (c.method == "POST" || c.method == "DELETE") {
      EXPECT_NE(r.output.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << where;
    }
  }
  const CgiResult head = Run("HEAD", "/search", "class=9");
  EXPECT_EQ(head.output.substr(0, 15), "Status: 200 OK\r");
  EXPECT_EQ(Body(head), "");
  EXPECT_NE(head.output.find("Content-Length: " + std::to_string(Body(Get("/search", "class=9")).size()) + "\r\n"),
            std::string::npos);
}

TEST_F(OpacTest, ResultPagesWalkTheOldListInItsOrder) {
  const std::vector<std::string> old_list = Numbers(catalogue_.Get("", "title1=" + Escape("ねこ")).output, "NO=");
  ASSERT_EQ(old_list.size(), 46u);
  struct Case {
    std::string query, count;
    size_t first, rows;
    std::vector<std::string> links;  // of the page links
  } cases[] = {
      {"", "46件中 1–20件", 0, 20, {"page=2\">次のページ", "page=3\">最後のページ"}},
      {"&page=2", "46件中 21–40件", 20, 20, {"page=1\">最初", "page=1\">前", "page=3\">次"}},
      {"&page=3", "46件中 41–46件", 40, 6, {"page=2\">前のページ"}},
      {"&page=9", "46件中 41–46件", 40, 6, {"3ページ目 / 全3ページ"}},  // past the end: the last page
      {"&per=50", "46件中 1–46件", 0, 46, {"1ページ目 / 全1ページ"}},
      {"&per=100&page=1", "46件中 1–46件", 0, 46, {"<li aria-current=\"true\">100件"}},
  };
  for (const Case& c : cases) {
    const CgiResult r = Get("/search", "title=" + Utf8Escape("ねこ") + c.query);
    const std::string body = Body(r);
    EXPECT_NE(body.find(c.count), std::string::npos) << c.query << "\n" << body;
    const std::vector<std::string> expected(old_list.begin() + c.first, old_list.begin() + c.first + c.rows);
    EXPECT_EQ(Numbers(body, "/book/"), expected) << c.query;
    for (const std::string& link : c.links) EXPECT_NE(body.find(link), std::string::npos) << c.query << ": " << link;
  }
  // Full-width blanks separate words: two title words and an author.
  const std::string words = "title=" + Utf8Escape("ねこ　1") + "&author=" + Utf8Escape(" 著者1 ");
  EXPECT_EQ(Numbers(Body(Get("/search", words)), "/book/"),
            Numbers(catalogue_.Get("", "title1=" + Escape("ねこ") + "&title2=1&Author=" + Escape("著者1")).output, "NO="));
}

TEST_F(OpacTest, CatalogueValuesAreEscapedAndTheBookPageShowsCallNumberAndState) {
  const std::string list = Body(Get("/search", "title=" + Utf8Escape("ねこ") + "&per=100"));
  const std::string escaped = "&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;ねこ&quot;";
  EXPECT_NE(list.find(escaped), std::string::npos);
  EXPECT_NE(list.find("&lt;b&gt;誰か&lt;/b&gt;"), std::string::npos);
  const std::string book46 = Body(Get("/book/46"));
  for (const std::string& page : {list, book46}) {
    EXPECT_EQ(WithoutLinkedData(page).find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
  }
  EXPECT_NE(book46.find("<title>" + escaped + " - "), std::string::npos);
  const std::string titled = Body(Get("/search", "title=%3Cb%3E&author=a&page=2"));
  EXPECT_NE(titled.find("<title>検索結果「&lt;b&gt; a」 2ページ目 - "), std::string::npos);
  // "Search again" fills the search page's boxes with this search.
  EXPECT_NE(titled.find("/cgi-bin/shelfra.cgi/?title=%3Cb%3E&amp;author=a\">条件を変えて探す"), std::string::npos)
      << titled;
  EXPECT_NE(Body(Get("/", "title=%3Cb%3E&author=a")).find("name=\"title\" value=\"&lt;b&gt;\""), std::string::npos);
  struct Case {
    std::string number;
    std::vector<std::string> texts;
  } cases[] = {
      {"5", {"<h1>ねこ5</h1>", "913.1/ナツ/", "貸出中（返却予定日 12/20/26）", "禁帯出"}},
      {"6", {"913.2/ナツ/", "貸出できます"}},  // its loan is returned
  };
  for (const Case& c : cases) {
    const std::string page = Body(Get("/book/" + c.number));
    for (const std::string& text : c.texts) EXPECT_NE(page.find(text), std::string::npos) << c.number << ": " << text << "\n" << page;
  }
}

TEST_F(OpacTest, TheBookPageSearchesItsAuthorAndLeadsBackOnlyIntoThisProgramsList) {
  const std::string list = Body(Get("/search", "title=" + Utf8Escape("ねこ") + "&page=2"));
  const std::string back = "title%3D%25E3%2581%25AD%25E3%2581%2593%26page%3D2";
  ASSERT_NE(list.find("?back=" + back + "\""), std::string::npos) << list;
  const std::string to_list = "/cgi-bin/shelfra.cgi/search?title=%E3%81%AD%E3%81%93&amp;page=2\">検索結果に戻る";
  const std::string book = Body(Get("/book/21", "back=" + back));
  EXPECT_NE(book.find(to_list), std::string::npos) << book;
  EXPECT_NE(book.find("/cgi-bin/shelfra.cgi/search?author=" + Utf8Escape("著者") + "0\">この著者の資料を探す"),
            std::string::npos) << book;
  EXPECT_EQ(book.find("この叢書"), std::string::npos);  // no series
  // Anything but a list's own parameters gives no back link; values are escaped afresh.
  struct Case {
    std::string back, link;  // link: "" for none
  } cases[] = {
      {"https%3A%2F%2Fevil.example%2F", ""},
      {"%2F%2Fevil.example%2Fsearch%3Fq%3D1", ""},
      {"q%3D1%26next%3Dhttps%3A%2F%2Fevil.example", ""},
      {"title%3D%25ZZ", ""},
      {"", ""},
      {"q%3D%22%3E%3Cscript%3E", "search?q=%22%3E%3Cscript%3E\">"},
      {"class%3D9%26per%3D50", "search?class=9&amp;per=50\">"},
  };
  for (const Case& c : cases) {
    const std::string page = Body(Get("/book/21", "back=" + c.back));
    const size_t at = page.find("検索結果に戻る");
    if (c.link.empty()) {
      EXPECT_EQ(at, std::string::npos) << c.back;
    } else {
      EXPECT_NE(page.find(c.link + "検索結果に戻る"), std::string::npos) << c.back << "\n" << page;
    }
    EXPECT_EQ(WithoutLinkedData(page).find("<script"), std::string::npos) << c.back;
  }
}

TEST_F(OpacTest, TheSettingsNameTheLibraryAndLinkOnlyItsWebAddresses) {
  EXPECT_EQ(Body(Get("/")).find("class=\"library\""), std::string::npos);  // no section: no name, no links
  catalogue_.WriteSettings(
      "[図書館]\n名称=<b>市立図書館</b>\nホームページ=https://lib.example.jp/?a=1&b=\"x\"\n"
      "アクセシビリティ方針=javascript:alert(1)\n");
  for (const std::string& page : {Body(Get("/")), Body(Get("/book/1")), Body(Get("/book/999"))}) {
    EXPECT_NE(page.find("<span class=\"library\">&lt;b&gt;市立図書館&lt;/b&gt;</span>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"https://lib.example.jp/?a=1&amp;b=&quot;x&quot;\">図書館のホームページ</a>"),
              std::string::npos) << page;
    EXPECT_EQ(page.find("javascript"), std::string::npos);
    EXPECT_EQ(page.find("アクセシビリティ方針"), std::string::npos);
  }
}

// The value of the answer's header `name`; "" when it has none.
std::string Header(const CgiResult& r, const std::string& name) {
  const size_t at = r.output.find("\r\n" + name + ": ");
  if (at == std::string::npos || at > r.output.find("\r\n\r\n")) return "";
  const size_t from = at + name.size() + 4;
  return r.output.substr(from, r.output.find("\r\n", from) - from);
}

TEST_F(OpacTest, AnAnswerWhoseValidatorsTheBrowserHoldsIs304UntilTheCatalogueChanges) {
  const CgiResult first = Get("/search", "class=9");
  const std::string etag = Header(first, "ETag"), modified = Header(first, "Last-Modified");
  ASSERT_NE(etag, "");
  ASSERT_NE(modified, "");
  EXPECT_EQ(Header(Get("/book/46"), "ETag"), etag);  // one catalogue, one identity
  EXPECT_EQ(Header(Get("/book/999"), "ETag"), etag);
  struct Case {
    std::string method, path, header, value, status;
  } cases[] = {
      {"GET", "/search", "HTTP_IF_NONE_MATCH", etag, "304 Not Modified"},
      {"HEAD", "/search", "HTTP_IF_NONE_MATCH", "\"x\", W/" + etag, "304 Not Modified"},
      {"GET", "/search", "HTTP_IF_MODIFIED_SINCE", modified, "304 Not Modified"},
      {"GET", "/search", "HTTP_IF_NONE_MATCH", "\"x\"", "200 OK"},
      {"GET", "/search", "HTTP_IF_MODIFIED_SINCE", "Thu, 01 Jan 1970 00:00:00 GMT", "200 OK"},
      {"GET", "/book/999", "HTTP_IF_NONE_MATCH", etag, "404 Not Found"},  // only a 200 is not modified
  };
  for (const Case& c : cases) {
    const CgiResult r = Run(c.method, c.path, "class=9", {{c.header, c.value}});
    EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: " + c.status) << c.header << ": " << c.value;
    if (c.status.starts_with("304")) {
      EXPECT_TRUE(r.output.ends_with("\r\n\r\n")) << r.output;
      EXPECT_EQ(Body(r), "");
      EXPECT_EQ(Header(r, "ETag"), etag);
      EXPECT_EQ(Header(r, "Content-Length"), "");
    }
  }
  catalogue_.WriteLoans("登録番号,返却予定日,返却済\n5,2026-12-20,T\n");
  const CgiResult after = Run("GET", "/search", "class=9", {{"HTTP_IF_NONE_MATCH", etag}});
  EXPECT_EQ(after.output.substr(0, 15), "Status: 200 OK\r");
  EXPECT_NE(Header(after, "ETag"), etag);
  EXPECT_NE(Body(after), "");
}

// A catalogue for the list's orders, states, classes and identifiers: the answer of q=いぬ is,
// in reading order, 2 3 1 4.
class OpacListTest : public OpacTest {
 protected:
  void SetUp() override {
    catalogue_.WriteBooks(
        "登録番号,書名,書名ｶﾅ,著者名,著者名ｶﾅ,出版年,登録日,分類記号,ISBN,禁帯出,不明図書,除籍フラグ\n"
        "1,いぬ と 海,ｲﾇﾄｳﾐ,山田,ﾔﾏﾀﾞ,1999,2023-01-10,913,4-10-101001-3,F,F,F\n"
        "2,あおい いぬ,ｱｵｲｲﾇ,佐藤,ｻﾄｳ,2010年,2018-05-01,913,,T,F,F\n"
        "3,いぬ図鑑,ｲﾇｽﾞｶﾝ,阿部,ｱﾍﾞ,,2019-03-03,480,9784061234567,F,T,F\n"
        "4,ろうけん いぬ,ｲﾇﾉﾚｷｼ,,,2005,,210,,F,F,T\n"
        "5,ねこ,ﾈｺ,山田,ﾔﾏﾀﾞ,2001,2021-01-01,913,,F,F,F\n");
    catalogue_.WriteLoans("登録番号,返却予定日,返却済\n1,2026-12-20,F\n3,2026-12-21,T\n");
  }
};

TEST_F(OpacListTest, OrdersStatesClassesAndIdentifiers) {
  struct Case {
    std::string query;
    std::vector<std::string> numbers;
    std::vector<std::string> texts;
  } cases[] = {
      {"q=" + Utf8Escape("いぬ"), {"2", "3", "1", "4"},
       {"<li aria-current=\"true\">よみ順", "sort=title&amp;page=1\">書名順", "class=9&amp;page=1\">9 文学 (2)",
        "class=4&amp;page=1\">4 自然科学 (1)"}},
      {"q=" + Utf8Escape("いぬ") + "&sort=reading", {"2", "3", "1", "4"}, {}},
      {"q=" + Utf8Escape("いぬ") + "&sort=title", {"2", "1", "3", "4"}, {"sort=title&amp;per=50&amp;page=1\">50件"}},
      {"q=" + Utf8Escape("いぬ") + "&sort=author", {"3", "2", "1", "4"}, {}},  // no author last
      {"q=" + Utf8Escape("いぬ") + "&sort=year", {"1", "4", "2", "3"}, {}},    // "2010年" is 2010
      {"q=" + Utf8Escape("いぬ") + "&sort=-year", {"2", "4", "1", "3"}, {}},
      {"q=" + Utf8Escape("いぬ") + "&sort=new", {"1", "3", "2", "4"}, {}},
      {"q=" + Utf8Escape("いぬ") + "&class=9&sort=new", {"1", "2"},
       {"<li aria-current=\"true\">9 文学 (2)", "sort=new&amp;page=1\">すべての分類"}},
      // ISBN-13 of the ISBN-10 stored, and the other way round; a registration number.
      {"q=978-4-10-101001-4", {"1"}, {"登録番号またはISBNが一致", "1件中 1–1件"}},
      {"q=4061234560", {"3"}, {}},
      {"q=406123456-0&class=9", {},  // the help counts the identified book too
       {"見つかりませんでした", "<li>すべての項目「406123456-0」: 1件</li>", "分類「9」を外して探す (1件)"}},
      {"q=5", {"5"}, {"登録番号またはISBNが一致"}},
  };
  auto check = [&](std::string_view how) {
    for (const Case& c : cases) {
      const std::string body = Body(Get("/search", c.query));
      EXPECT_EQ(Numbers(body, "/book/"), c.numbers) << how << c.query;
      for (const std::string& text : c.texts) {
        EXPECT_NE(body.find(text), std::string::npos) << how << c.query << ": " << text << "\n" << body;
      }
    }
  };
  check("scanned: ");
  const std::vector<std::string> newest = Numbers(Body(Get("/new")), "/book/");
  EXPECT_EQ(newest, (std::vector<std::string>{"1", "5", "3", "2", "4"}));  // no registration date last
  // The same from the index, its ISBN keys and class order included (made first by
  // shelfra-index).
  catalogue_.AppendConfig("[Index]\nDirectory=" + catalogue_.Directory() + "/cache\n");
  ASSERT_EQ(RunProgram(BuiltProgramPath("shelfra-index"), {}, catalogue_.Request("", "")).exit_code, 0);
  check("indexed: ");
  EXPECT_EQ(Numbers(Body(Get("/new")), "/book/"), newest);  // the index's kept order, only the page read
  const std::string list = Body(Get("/search", "q=" + Utf8Escape("いぬ")));
  const std::vector<std::pair<std::string, std::string>> states = {
      {"1", "貸出中（返却予定日 12/20/26）"}, {"2", "館内利用のみ（禁帯出）"}, {"3", "所在不明"}, {"4", "除籍"}};
  for (const auto& [number, state] : states) {
    const size_t row = list.find("/book/" + number + "?back=");
    ASSERT_NE(row, std::string::npos) << number;
    const std::string term = "<dt>利用状況</dt><dd>";
    EXPECT_EQ(list.substr(list.find(term, row) + term.size(), state.size()), state) << number;
    // The book page says it alike (a missing book is not "on the shelf" too).
    EXPECT_NE(Body(Get("/book/" + number)).find(term + state + "</dd>"), std::string::npos) << number;
  }
  EXPECT_NE(Body(Get("/search", "q=5")).find("<dt>利用状況</dt><dd>貸出できます</dd>"), std::string::npos);
  EXPECT_EQ(Get("/search", "q=a&sort=price").output.substr(0, 20), "Status: 400 Bad Requ");
}

TEST_F(OpacListTest, AnEmptyAnswerCountsEachCriterionAloneAndOffersToDropTheOneThatEmptiesIt) {
  const std::string body = Body(Get("/search", "title=" + Utf8Escape("いぬ") + "&author=" + Utf8Escape("誰も")));
  for (const char* text : {"見つかりませんでした", "<li>書名・よみ「いぬ」: 4件</li>", "<li>著者名・よみ「誰も」: 0件</li>",
                                  "?title=%E3%81%84%E3%81%AC&amp;page=1\">著者名・よみ「誰も」を外して探す (4件)</a>"}) {
    EXPECT_NE(body.find(text), std::string::npos) << text << "\n" << body;
  }
  EXPECT_EQ(body.find("書名・よみ「いぬ」を外して"), std::string::npos);  // the author alone finds nothing
}

TEST_F(OpacTest, AnUnreadableCatalogueIsTheFriendly500WithTheLogsReference) {
  std::filesystem::remove(catalogue_.Directory() + "/" + Sjis("図書.DBF"));
  const CgiResult r = Get("/search", "class=9");
  EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: 500 Internal Server Error");
  const std::string mark = "shelfra.cgi: 500 [";
  const size_t start = r.errors.find(mark);
  ASSERT_NE(start, std::string::npos) << r.errors;
  const size_t end = r.errors.find("] EDBEngineError: ", start);
  ASSERT_NE(end, std::string::npos) << r.errors;
  const std::string reference = r.errors.substr(start + mark.size(), end - start - mark.size());
  EXPECT_EQ(reference.find_first_not_of("0123456789abcdef-"), std::string::npos) << reference;
  EXPECT_NE(Body(r).find("お伝えください：" + reference + "</p>"), std::string::npos) << Body(r);
}

}  // namespace
}  // namespace shelfra::testing
