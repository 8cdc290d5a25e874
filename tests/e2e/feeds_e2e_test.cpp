// Whole-program tests of shelfra.cgi's OpenSearch description, Atom feeds, new arrivals and
// linked data: the description's templates, the feeds' OpenSearch elements and paging links,
// their entries in the HTML list's order, catalogue text escaped in a feed and in JSON-LD, the
// new arrivals newest first, and the validators of a feed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "opac/xml.h"
#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"

namespace shelfra::testing {
namespace {

std::string Utf8Escape(const std::string& utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) out += std::string("%") + hex[c >> 4] + hex[c & 15];
  return out;
}

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// The day of January 2020 book `i` was registered on; 0 for books 10 and 20, which have none.
int RegisteredDay(int i) { return i % 10 == 0 ? 0 : (i * 7) % 25 + 1; }

// 25 books whose title holds ねこ, read in number order; book 1 has a year with a month, pages
// and an ISBN, 3 is on loan, 4 for use in the library only, 5 missing, 6 withdrawn, and 7's
// title, author and publisher are markup.
class FeedsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string books = "登録番号,書名,書名ｶﾅ,著者名,出版者,出版年,頁（ｐ）,登録日,分類記号,ISBN,禁帯出,不明図書,除籍フラグ\n";
    for (int i = 1; i <= 25; ++i) {
      const int day = RegisteredDay(i);
      books += std::to_string(i) + "," +
               (i == 7 ? "\"<script>ねこ</script> & \"\"x\"\"\",ﾈｺ07,<b>誰か</b>,</script><!--,"
                       : "ねこ" + std::to_string(i) + ",ﾈｺ" + TwoDigits(i) + ",著者" + std::to_string(i % 3) + ",出版社,") +
               (i == 1 ? "2003.5,\"xii, 326p\"," : "1999,,") + (day ? "2020-01-" + TwoDigits(day) : "") + ",913," +
               (i == 1 ? "4-10-101001-3," : ",") + (i == 4 ? "T," : "F,") + (i == 5 ? "T," : "F,") +
               (i == 6 ? "T" : "F") + "\n";
    }
    catalogue_.WriteBooks(books);
    catalogue_.WriteLoans("登録番号,返却予定日,返却済\n3,2026-12-20,F\n");
  }

  CgiResult Run(std::string_view path, std::string_view query, const std::map<std::string, std::string>& more = {}) const {
    std::map<std::string, std::string> environment = catalogue_.Request(path, query);
    environment["SCRIPT_NAME"] = "/cgi-bin/shelfra.cgi";
    for (const auto& [name, value] : more) environment[name] = value;
    return RunProgram(BuiltProgramPath("shelfra.cgi"), {}, environment);
  }
  std::string Body(std::string_view path, std::string_view query = "") const {
    const CgiResult r = Run(path, query);
    EXPECT_EQ(r.errors, "") << path << "?" << query;
    return r.output.substr(std::min(r.output.size(), r.output.find("\r\n\r\n") + 4));
  }

  CatalogueFixture catalogue_;
};

std::string Header(const CgiResult& r, const std::string& name) {
  const size_t at = r.output.find("\r\n" + name + ": ");
  if (at == std::string::npos || at > r.output.find("\r\n\r\n")) return "";
  const size_t from = at + name.size() + 4;
  return r.output.substr(from, r.output.find("\r\n", from) - from);
}

// The text of the first element `name` at or after `from`; "" when there is none.
std::string Element(const std::string& xml, const std::string& name, size_t from = 0) {
  const size_t at = xml.find("<" + name + ">", from);
  if (at == std::string::npos) return "";
  const size_t start = at + name.size() + 2;
  return xml.substr(start, xml.find("</" + name + ">", start) - start);
}

// The registration numbers of the books a feed's entries are, in order (from their ids).
std::vector<std::string> EntryNumbers(const std::string& feed) {
  std::vector<std::string> numbers;
  for (size_t at = feed.find("<entry>"); at != std::string::npos; at = feed.find("<entry>", at + 1)) {
    const std::string id = Element(feed, "id", at);
    numbers.push_back(id.substr(id.rfind("/book/") + 6));
  }
  return numbers;
}

// The registration numbers an HTML list's rows link to, in order.
std::vector<std::string> RowNumbers(const std::string& page) {
  std::vector<std::string> numbers;
  const std::string before = "<h2><a href=\"/cgi-bin/shelfra.cgi/book/";
  for (size_t at = page.find(before); at != std::string::npos; at = page.find(before, at + 1)) {
    const size_t from = at + before.size();
    numbers.push_back(page.substr(from, page.find_first_not_of("0123456789", from) - from));
  }
  return numbers;
}

TEST_F(FeedsTest, TheDescriptionTemplatesEveryFormatAndEveryPageLinksIt) {
  catalogue_.WriteSettings("[図書館]\n名称=あいうえおかきくけこさしすせそたちつ<&>\n");
  const CgiResult r = Run("/opensearch.xml", "", {{"HTTPS", "on"}, {"SERVER_NAME", "opac.example.org"}, {"SERVER_PORT", "8443"}});
  EXPECT_EQ(Header(r, "Content-Type"), "application/opensearchdescription+xml");
  const std::string base = "https://opac.example.org:8443/cgi-bin/shelfra.cgi";
  const std::string query = "?q={searchTerms}&amp;page={startPage?}\" indexOffset=\"1\" pageOffset=\"1\"/>\n";
  EXPECT_EQ(r.output.substr(r.output.find("\r\n\r\n") + 4),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<OpenSearchDescription xmlns=\"" + opac::kOpenSearchNamespace +
            "\">\n<ShortName>あいうえおかきくけこさしすせそた</ShortName>\n"
            "<Description>あいうえおかきくけこさしすせそたちつ&lt;&amp;&gt; 蔵書を書名・著者名・キーワードで探します。</Description>\n"
            "<InputEncoding>UTF-8</InputEncoding>\n<OutputEncoding>UTF-8</OutputEncoding>\n<Language>ja</Language>\n"
            "<Url type=\"text/html\" template=\"" + base + "/search" + query +
            "<Url type=\"application/atom+xml\" template=\"" + base + "/search.atom" + query +
            "<Url type=\"application/json\" template=\"" + base + "/api/v1/search" + query +
            "<Url type=\"application/opensearchdescription+xml\" rel=\"self\" template=\"" + base + "/opensearch.xml\"/>\n"
            "</OpenSearchDescription>\n");
  const std::string link = "<link rel=\"search\" type=\"application/opensearchdescription+xml\" "
                           "title=\"あいうえおかきくけこさしすせそた\" href=\"/cgi-bin/shelfra.cgi/opensearch.xml\">\n";
  for (const char* path : {"/", "/search", "/book/1", "/new", "/no/such/page"}) {
    EXPECT_NE(Body(path, "q=1").find(link), std::string::npos) << path;
  }
}

TEST_F(FeedsTest, ASearchFeedPagesThroughTheHtmlListsBooksWithItsOpenSearchElements) {
  const std::string search = "title=" + Utf8Escape("ねこ");
  const std::string feed_base = "http://localhost/cgi-bin/shelfra.cgi/search.atom?" + search;
  struct Case {
    std::string query, start, per, page;
    std::vector<std::string> links, no_links;
  } cases[] = {
      {"", "1", "20", "1", {"rel=\"next\" type=\"application/atom+xml\" href=\"" + feed_base + "&amp;page=2\"",
                            "rel=\"last\" type=\"application/atom+xml\" href=\"" + feed_base + "&amp;page=2\""},
       {"rel=\"previous\""}},
      {"&page=2", "21", "20", "2", {"rel=\"previous\" type=\"application/atom+xml\" href=\"" + feed_base + "&amp;page=1\""},
       {"rel=\"next\""}},
      {"&page=9", "21", "20", "2", {"rel=\"self\" type=\"application/atom+xml\" href=\"" + feed_base + "&amp;page=2\""}, {}},
      {"&sort=new&per=50", "1", "50", "1",
       {"rel=\"alternate\" type=\"text/html\" href=\"http://localhost/cgi-bin/shelfra.cgi/search?" + search +
        "&amp;sort=new&amp;per=50&amp;page=1\""},
       {"rel=\"previous\"", "rel=\"next\""}},
  };
  for (const Case& c : cases) {
    const CgiResult r = Run("/search.atom", search + c.query);
    EXPECT_EQ(Header(r, "Content-Type"), "application/atom+xml; charset=UTF-8") << c.query;
    const std::string feed = r.output.substr(r.output.find("\r\n\r\n") + 4);
    EXPECT_EQ(Element(feed, "opensearch:totalResults"), "25") << c.query;
    EXPECT_EQ(Element(feed, "opensearch:startIndex"), c.start) << c.query;
    EXPECT_EQ(Element(feed, "opensearch:itemsPerPage"), c.per) << c.query;
    EXPECT_NE(feed.find("<opensearch:Query role=\"request\" count=\"" + c.per + "\" startPage=\"" + c.page + "\"/>"),
              std::string::npos) << c.query;
    EXPECT_EQ(Element(feed, "id"), feed_base + (c.query.find("sort") == std::string::npos ? "" : "&amp;sort=new&amp;per=50") + "&amp;page=1");
    for (const std::string& link : c.links) EXPECT_NE(feed.find(link), std::string::npos) << c.query << ": " << link;
    for (const std::string& link : c.no_links) EXPECT_EQ(feed.find(link), std::string::npos) << c.query << ": " << link;
    const std::string list = Body("/search", search + c.query);
    EXPECT_EQ(EntryNumbers(feed), RowNumbers(list)) << c.query;
    EXPECT_NE(list.find("<link rel=\"alternate\" type=\"application/atom+xml\""), std::string::npos) << c.query;
  }
  const std::string feed = Body("/search.atom", "q=" + Utf8Escape("ねこ 1") + "&per=100");
  EXPECT_NE(feed.find("searchTerms=\"ねこ 1\""), std::string::npos);
  EXPECT_EQ(EntryNumbers(feed), RowNumbers(Body("/search", "q=" + Utf8Escape("ねこ 1") + "&per=100")));
}

TEST_F(FeedsTest, NewArrivalsAreNewestFirstAsAPageAndAsAFeed) {
  std::vector<std::pair<int, int>> days;  // (-day, number): books without a day last, in number order
  for (int i = 1; i <= 25; ++i) days.emplace_back(RegisteredDay(i) ? -RegisteredDay(i) : 1, i);
  std::sort(days.begin(), days.end());
  std::vector<std::string> expected;
  for (const auto& [day, number] : days) expected.push_back(std::to_string(number));
  const std::vector<std::string> first(expected.begin(), expected.begin() + 20), rest(expected.begin() + 20, expected.end());
  EXPECT_EQ(RowNumbers(Body("/new")), first);
  EXPECT_EQ(RowNumbers(Body("/new", "page=2")), rest);
  EXPECT_EQ(RowNumbers(Body("/new", "per=50")), expected);
  const std::string feed = Body("/new.atom", "per=50");
  EXPECT_EQ(EntryNumbers(feed), expected);
  // A registration date is midnight in Japan; a book without one has the catalogue's time.
  EXPECT_EQ(Element(feed, "updated", feed.find("<entry>")), "2020-01-25T00:00:00+09:00");
  EXPECT_EQ(Element(feed, "updated", feed.find("/book/10</id>")), Element(feed, "updated"));
  EXPECT_NE(feed.find("<summary>著者名: 著者0　出版者: 出版社　出版年: 1999　請求番号: 913//　利用状況: 貸出できます</summary>"),
            std::string::npos) << feed;
  EXPECT_NE(feed.find("<summary>著者名: 著者0　出版者: 出版社　出版年: 1999　請求番号: 913//　利用状況: 貸出中（返却予定日 12/20/26）</summary>"),
            std::string::npos);
  const std::string feed_link = "<link rel=\"alternate\" type=\"application/atom+xml\" title=\"新着資料\" "
                                "href=\"/cgi-bin/shelfra.cgi/new.atom?page=1\">";
  EXPECT_NE(Body("/").find(feed_link), std::string::npos);
  EXPECT_NE(Body("/").find("<a href=\"/cgi-bin/shelfra.cgi/new\">"), std::string::npos);
  EXPECT_NE(Body("/new").find(feed_link), std::string::npos);
  EXPECT_NE(Body("/new", "page=2").find("<a href=\"/cgi-bin/shelfra.cgi/new?page=1\">"), std::string::npos);
}

// The JSON-LD of a book page, parsed; null when the page has none.
nlohmann::json LinkedData(const std::string& page) {
  const std::string open = "<script type=\"application/ld+json\">";
  const size_t at = page.find(open);
  if (at == std::string::npos) return nullptr;
  const std::string text = page.substr(at + open.size(), page.find("</script>", at) - at - open.size());
  EXPECT_EQ(text.find_first_of("<>&"), std::string::npos) << text;
  return nlohmann::json::parse(text);
}

TEST_F(FeedsTest, CatalogueTextIsEscapedInTheFeedAndTheLinkedData) {
  const std::string feed = Body("/search.atom", "title=" + Utf8Escape("ねこ") + "&per=50");
  EXPECT_NE(feed.find("<title>&lt;script&gt;ねこ&lt;/script&gt; &amp; &quot;x&quot;</title>"), std::string::npos);
  EXPECT_NE(feed.find("<author><name>&lt;b&gt;誰か&lt;/b&gt;</name></author>"), std::string::npos);
  for (const char* markup : {"<script", "<b>", "</script>", "<!--"}) EXPECT_EQ(feed.find(markup), std::string::npos) << markup;
  const std::string page = Body("/book/7", "back=page%3D2");
  EXPECT_NE(page.find("<link rel=\"canonical\" href=\"http://localhost/cgi-bin/shelfra.cgi/book/7\">"), std::string::npos);
  const nlohmann::json data = LinkedData(page);
  EXPECT_EQ(data["name"], "<script>ねこ</script> & \"x\"");
  EXPECT_EQ(data["author"], nlohmann::json({{"@type", "Person"}, {"name", "<b>誰か</b>"}}));
  EXPECT_EQ(data["publisher"], nlohmann::json({{"@type", "Organization"}, {"name", "</script><!--"}}));
}

TEST_F(FeedsTest, TheLinkedDataDescribesTheBookAndOffersItAsItsStateAllows) {
  const nlohmann::json first = LinkedData(Body("/book/1"));
  EXPECT_EQ(first["@context"], "https://schema.org");
  EXPECT_EQ(first["@type"], "Book");
  EXPECT_EQ(first["datePublished"], "2003-05");
  EXPECT_EQ(first["numberOfPages"], 326);
  EXPECT_EQ(first["isbn"], "4-10-101001-3");
  EXPECT_EQ(first["inLanguage"], "ja");
  EXPECT_EQ(first["url"], "http://localhost/cgi-bin/shelfra.cgi/book/1");
  EXPECT_EQ(first["offers"]["sku"], "913//");
  EXPECT_FALSE(LinkedData(Body("/book/2")).contains("numberOfPages"));
  struct Case {
    std::string number, availability;  // "" for no offer
  } cases[] = {{"2", "https://schema.org/InStock"}, {"3", "https://schema.org/OutOfStock"},
               {"4", "https://schema.org/InStoreOnly"}, {"5", ""}, {"6", ""}};
  for (const Case& c : cases) {
    const nlohmann::json data = LinkedData(Body("/book/" + c.number));
    if (c.availability.empty()) {
      EXPECT_FALSE(data.contains("offers")) << c.number;
    } else {
      EXPECT_EQ(data["offers"]["availability"], c.availability) << c.number;
    }
  }
}

TEST_F(FeedsTest, AFeedIsNotModifiedWhileTheCatalogueIsAndRefusesWhatTheListRefuses) {
  for (const char* path : {"/search.atom", "/new.atom", "/opensearch.xml"}) {
    const std::string etag = Header(Run(path, "q=1"), "ETag");
    ASSERT_NE(etag, "") << path;
    const CgiResult again = Run(path, "q=1", {{"HTTP_IF_NONE_MATCH", etag}});
    EXPECT_EQ(again.output, "Status: 304 Not Modified\r\nETag: " + etag + "\r\nLast-Modified: " + Header(again, "Last-Modified") +
                                "\r\nCache-Control: no-cache\r\n\r\n") << path;
  }
  struct Case {
    std::string path, query, text;
  } cases[] = {
      {"/search.atom", "class=10", "分類の指定"},     {"/search.atom", "q=1&per=30", "表示件数"},
      {"/search.atom", "q=1&sort=price", "並び順"},   {"/search.atom", "", "探したい語を入れるか"},
      {"/search.atom", "q=" + Utf8Escape("😀"), "(U+1F600)"}, {"/new", "page=0", "表示件数"},
      {"/new.atom", "per=30", "表示件数"},
  };
  for (const Case& c : cases) {
    const CgiResult r = Run(c.path, c.query);
    EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: 400 Bad Request") << c.path << "?" << c.query;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.path << "?" << c.query;
  }
}

}  // namespace
}  // namespace shelfra::testing
