// Whole-program tests of shelfra.cgi's JSON interface: every answer is JSON open to any origin,
// errors included, and never a 500 for any input; a search gives the HTML list's books in its
// order; a book gives every field; an ISBN finds every copy in either form; catalogue text
// reaches the JSON escaped; validators and 304 as on the pages.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/opac_support.h"

namespace shelfra::testing {
namespace {

using Json = nlohmann::json;

class ApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue_.WriteBooks(
        "登録番号,書名,書名ｶﾅ,著者名,著者名ｶﾅ,出版年,登録日,分類記号,ISBN,禁帯出,内容紹介\n"
        "1,いぬ と 海,ｲﾇﾄｳﾐ,山田,ﾔﾏﾀﾞ,1999,2023-01-10,913,4-10-101001-3,F,\n"
        "2,あおい いぬ,ｱｵｲｲﾇ,佐藤,ｻﾄｳ,2010,2018-05-01,913,978-4-10-101001-4,T,\n"
        "3,\"</script><b>\"\"いぬ\"\"</b>\",ｲﾇｽﾞｶﾝ,阿部,ｱﾍﾞ,,2019-03-03,480,,F,\"a\\b\"\n"
        "2000000001,ねこ,ﾈｺ,,,,,913,,F,\n");
    catalogue_.WriteLoans("登録番号,返却予定日,返却済\n1,2026-12-20,F\n");
  }
  CgiResult Get(std::string_view path, std::string_view query = "") const {
    return RunShelfra(catalogue_, "GET", path, query, {{"SERVER_NAME", "opac.example.org"}, {"SERVER_PORT", "80"}});
  }
  // The JSON of an answer with `status` (its code and words); null, with a failure, otherwise.
  Json Answer(std::string_view path, std::string_view query, const std::string& status) const {
    const CgiResult r = Get(path, query);
    const std::string where = std::string(path) + "?" + std::string(query);
    EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: " + status) << where << "\n" << r.errors;
    for (const char* header : {"\r\nContent-Type: application/json; charset=UTF-8\r\n",
                               "\r\nAccess-Control-Allow-Origin: *\r\n"}) {
      EXPECT_NE(r.output.find(header), std::string::npos) << where << " lacks " << header;
    }
    EXPECT_EQ(r.errors, "") << where;
    return Json::parse(Body(r), nullptr, false);
  }
  std::vector<std::string> JsonNumbers(const Json& books) const {
    std::vector<std::string> numbers;
    for (const Json& book : books) numbers.push_back(std::to_string(book.value("number", 0)));
    return numbers;
  }

  CatalogueFixture catalogue_;
};

TEST_F(ApiTest, ErrorsAreJsonWithTheirStatusAndCode) {
  struct Case {
    std::string path, query, status, code;
  } cases[] = {
      {"/api/v1/search", "", "400 Bad Request", "empty_search"},
      {"/api/v1/search", "class=10", "400 Bad Request", "bad_class"},
      {"/api/v1/search", "class=9&per=7", "400 Bad Request", "bad_paging"},
      {"/api/v1/search", "class=9&sort=price", "400 Bad Request", "bad_sort"},
      {"/api/v1/search", "author=a+b+c+d+e+f+g+h+i+j+k", "400 Bad Request", "too_many_words"},
      {"/api/v1/search", "q=%ZZ", "400 Bad Request", "bad_query"},
      {"/api/v1/book/9", "", "404 Not Found", "not_found"},
      {"/api/v1/book/01", "", "404 Not Found", "not_found"},
      {"/api/v1/isbn/12", "", "400 Bad Request", "bad_isbn"},
      {"/api/v2/search", "q=a", "404 Not Found", "not_found"},
      {"/api", "", "404 Not Found", "not_found"},
  };
  for (const Case& c : cases) {
    const Json j = Answer(c.path, c.query, c.status);
    EXPECT_EQ(j["error"]["code"], c.code) << c.path << "?" << c.query;
    EXPECT_EQ(j["error"]["status"], std::stoi(c.status)) << c.path;
  }
  const CgiResult post = RunShelfra(catalogue_, "POST", "/api/v1/search", "q=a");
  EXPECT_NE(post.output.find("Status: 405 Method Not Allowed\r\n"), std::string::npos);
  EXPECT_NE(post.output.find("\r\nAllow: GET, HEAD, OPTIONS\r\n"), std::string::npos);
  const CgiResult preflight = RunShelfra(catalogue_, "OPTIONS", "/api/v1/search", "q=a");
  EXPECT_EQ(preflight.output.substr(0, 24), "Status: 204 No Content\r\n");
  EXPECT_NE(preflight.output.find("\r\nAccess-Control-Allow-Headers: If-None-Match, If-Modified-Since\r\n"),
            std::string::npos);
  EXPECT_EQ(Body(preflight), "");
}

TEST_F(ApiTest, ASearchGivesTheListsBooksInItsOrderWithTheirStates) {
  for (const std::string& query : {"q=" + Utf8Escape("いぬ"), "q=" + Utf8Escape("いぬ") + "&sort=new",
                                  "title=" + Utf8Escape("いぬ") + "&class=9", std::string("q=4101010013")}) {
    const Json j = Answer("/api/v1/search", query, "200 OK");
    EXPECT_EQ(JsonNumbers(j["books"]), Numbers(Body(Get("/search", query)), "/book/")) << query;
    EXPECT_EQ(j["total"], j["books"].size()) << query;
  }
  const Json j = Answer("/api/v1/search", "q=" + Utf8Escape("いぬ") + "&per=20", "200 OK");
  EXPECT_EQ(j["total"], 3);
  EXPECT_EQ(j["start"], 1);
  EXPECT_EQ(j["pages"], 1);
  const Json& first = j["books"][0];  // the reading order: あおい いぬ
  EXPECT_EQ(first["number"], 2);
  EXPECT_EQ(first["state"], "reference_only");
  EXPECT_EQ(first["due"], nullptr);
  EXPECT_EQ(first["url"], "http://opac.example.org/cgi-bin/shelfra.cgi/book/2");
  EXPECT_EQ(j["books"][2]["state"], "on_loan");
  EXPECT_EQ(j["books"][2]["due"], "12/20/26");
  EXPECT_EQ(j["classes"][0], (Json{{"class", "4"}, {"name", "自然科学"}, {"count", 1}}));
  EXPECT_EQ(j["links"]["html"], "http://opac.example.org/cgi-bin/shelfra.cgi/search?q=%E3%81%84%E3%81%AC&page=1");
  EXPECT_FALSE(j["links"].contains("next"));
  // A character the catalogue cannot hold finds nothing, and says which.
  const Json none = Answer("/api/v1/search", "q=" + Utf8Escape("😀"), "200 OK");
  EXPECT_EQ(none["total"], 0);
  EXPECT_EQ(none["unsearchable"], Json::array({"U+1F600"}));
}

TEST_F(ApiTest, BooksAndIsbnLookUpsGiveEveryFieldEscaped) {
  const Json book = Answer("/api/v1/book/3", "", "200 OK");
  EXPECT_EQ(book["title"], "</script><b>\"いぬ\"</b>");
  EXPECT_EQ(book["contents"], "a\\b");
  EXPECT_EQ(book["call_number"], "480//");
  EXPECT_EQ(book["registered_on"], "3/3/19");
  for (const char* field : {"title_reading", "series", "author_reading", "pages", "place", "note", "subjects"}) {
    EXPECT_TRUE(book.contains(field)) << field;
  }
  // Either form of the one ISBN finds both copies, hyphens or not.
  for (const char* isbn : {"4101010013", "4-10-101001-3", "9784101010014", "978-4-10-101001-4"}) {
    const Json j = Answer(std::string("/api/v1/isbn/") + isbn, "", "200 OK");
    EXPECT_EQ(JsonNumbers(j["copies"]), (std::vector<std::string>{"1", "2"})) << isbn;
    EXPECT_EQ(j["isbn13"], "9784101010014") << isbn;
  }
  EXPECT_EQ(Answer("/api/v1/isbn/9784000000000", "", "200 OK")["count"], 0);
  // A registration number of the field's ten digits has its page, its link and its answer.
  EXPECT_EQ(Answer("/api/v1/book/2000000001", "", "200 OK")["title"], "ねこ");
  EXPECT_EQ(Get("/book/2000000001").output.substr(0, 15), "Status: 200 OK\r");
  // (A one-book answer: its row is read after the outline has walked past it.)
  const std::string list = Body(Get("/search", "q=" + Utf8Escape("ねこ")));
  EXPECT_EQ(Numbers(list, "/book/"), std::vector<std::string>{"2000000001"}) << list;
  // Validators as on the pages.
  const std::string etag = [&] {
    const CgiResult a = Get("/api/v1/book/1");
    const size_t at = a.output.find("ETag: ");
    return a.output.substr(at + 6, a.output.find("\r\n", at) - at - 6);
  }();
  const CgiResult again = RunShelfra(catalogue_, "GET", "/api/v1/book/1", "", {{"HTTP_IF_NONE_MATCH", etag}});
  EXPECT_EQ(again.output.substr(0, 25), "Status: 304 Not Modified\r");
}

}  // namespace
}  // namespace shelfra::testing
