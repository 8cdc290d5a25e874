// Whole-program tests of shelfra.cgi's harvesting interface (OAI-PMH at /oai): every error code
// of the protocol from a request, a record's fields with a hostile catalogue value escaped,
// complete lists through resumption tokens that a changed catalogue refuses, the edges of
// from and until, POST, and the validators of the routed answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

constexpr const char* kBase = "http://opac.example.jp:8080/cgi-bin/shelfra.cgi/oai";

std::string Body(const CgiResult& r) {
  const size_t end = r.output.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : r.output.substr(end + 4);
}

// The text between the first `open` and the `close` after it; "" when there is none.
std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  const size_t at = text.find(open);
  if (at == std::string::npos) return "";
  const size_t end = text.find(close, at + open.size());
  return end == std::string::npos ? "" : text.substr(at + open.size(), end - at - open.size());
}

std::string ErrorCode(const std::string& body) { return Between(body, "<error code=\"", "\""); }
std::string Token(const std::string& body) {
  const std::string element = Between(body, "<resumptionToken", "</resumptionToken>");
  return element.substr(std::min(element.size(), element.find('>') + 1));
}

// 150 books in table order 1..150, class digit = number % 10; book 7 withdrawn, book 3's title
// the placeholder HostileTitle replaces.
class OaiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    catalogue_.WriteBooks(Books(150));
    catalogue_.WriteLoans("登録番号,返却予定日,返却済\n");
    catalogue_.WriteSettings("[分類表示]\n9=<i>文学</i>\n");
  }

  static std::string Books(int count) {
    std::string books = "登録番号,書名,著者名,出版者,出版年,分類記号,ISBN,件名,内容紹介,除籍フラグ\n";
    for (int i = 1; i <= count; ++i) {
      const std::string n = std::to_string(i);
      books += n + "," + (i == 3 ? "PLACEHOLDR" : "本" + n) + ",著者" + n + ",出版社,2010年," + std::to_string(i % 10) +
               "13.6," + (i == 3 ? "4-10-101001-3" : "") + "," + (i == 3 ? "素粒子;宇宙　" : "") + "," +
               (i == 3 ? "a]]>b" : "") + "," + (i == 7 ? "T" : "F") + "\n";
    }
    return books;
  }

  // Book 3's title, in the table's own bytes: markup characters, controls, a byte that is no
  // Shift_JIS.
  void HostileTitle() {
    const std::string path = catalogue_.Directory() + "/" + Sjis("図書.DBF");
    std::ifstream in(path, std::ios::binary);
    std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = table.find("PLACEHOLDR");
    ASSERT_NE(at, std::string::npos);
    table.replace(at, 10, "<&>\"'\x01\x1F\x7F\xFFZ");
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(table.data(), static_cast<long>(table.size()));
  }

  CgiResult Run(std::string_view method, std::string_view query, std::string_view content = {},
                std::map<std::string, std::string> extra = {}) const {
    std::map<std::string, std::string> environment = catalogue_.Request("/oai", query, method);
    environment["SCRIPT_NAME"] = "/cgi-bin/shelfra.cgi";
    environment["SERVER_NAME"] = "opac.example.jp";
    environment["SERVER_PORT"] = "8080";
    if (method == "POST") environment["CONTENT_LENGTH"] = std::to_string(content.size());
    for (auto& [name, value] : extra) {
      if (!name.empty()) environment[name] = value;
    }
    return RunProgram(BuiltProgramPath("shelfra.cgi"), {}, environment, content);
  }
  std::string Get(std::string_view query) const { return Body(Run("GET", query)); }

  // The identifiers of a whole list, page by page through its tokens; the pages' cursors and
  // the completeListSize they carry in `cursors` and `size`.
  std::vector<std::string> Harvest(const std::string& query, std::vector<std::string>* cursors = nullptr,
                                   std::string* size = nullptr) const {
    std::vector<std::string> identifiers;
    std::string body = Get(query);
    for (int page = 0; page < 10; ++page) {
      for (size_t at = body.find("<identifier>"); at != std::string::npos; at = body.find("<identifier>", at + 1)) {
        identifiers.push_back(Between(body.substr(at), "<identifier>", "</identifier>"));
      }
      if (cursors) cursors->push_back(Between(body, "cursor=\"", "\""));
      if (size) *size = Between(body, "completeListSize=\"", "\"");
      const std::string token = Token(body);
      if (token.empty()) break;
      body = Get("verb=ListIdentifiers&resumptionToken=" + token);
    }
    return identifiers;
  }

  CatalogueFixture catalogue_;
};

TEST_F(OaiTest, EveryErrorOfTheProtocolComesFromTheRequestThatCausesIt) {
  struct Case {
    std::string query;
    std::string code;
    bool attributes;  // the request element names the arguments
  } cases[] = {
      {"", "badVerb", false},
      {"verb=Harvest", "badVerb", false},
      {"verb=Identify&verb=Identify", "badVerb", false},
      {"verb=Identify&metadataPrefix=oai_dc", "badArgument", false},
      {"verb=GetRecord&identifier=oai:opac.example.jp:1", "badArgument", false},
      {"verb=ListRecords&metadataPrefix=oai_dc&metadataPrefix=oai_dc", "badArgument", false},
      {"verb=ListRecords&metadataPrefix=", "badArgument", false},
      {"verb=ListRecords&metadataPrefix=oai_dc&resumptionToken=x", "badArgument", false},
      {"verb=ListRecords&metadataPrefix=oai_dc&from=2026-02-30", "badArgument", false},
      {"verb=ListRecords&metadataPrefix=oai_dc&from=2026-01-01&until=2027-01-01T00:00:00Z", "badArgument", false},
      {"verb=ListRecords&metadataPrefix=oai_dc&Set=class1", "badArgument", false},  // names are case-sensitive
      {"verb=%ZZ", "badArgument", false},
      {"verb=ListRecords&resumptionToken=0123456789abcdef.oai_dc....100.100.150", "badResumptionToken", true},
      {"verb=ListIdentifiers&resumptionToken=%3Cx%3E", "badResumptionToken", true},
      {"verb=ListSets&resumptionToken=x", "badResumptionToken", true},
      {"verb=ListRecords&metadataPrefix=marc21", "cannotDisseminateFormat", true},
      {"verb=GetRecord&identifier=oai:opac.example.jp:1&metadataPrefix=dc", "cannotDisseminateFormat", true},
      {"verb=GetRecord&identifier=oai:opac.example.jp:999&metadataPrefix=oai_dc", "idDoesNotExist", true},
      {"verb=GetRecord&identifier=oai:opac.example.jp:01&metadataPrefix=oai_dc", "idDoesNotExist", true},
      {"verb=GetRecord&identifier=oai:other.example.jp:1&metadataPrefix=oai_dc", "idDoesNotExist", true},
      {"verb=ListMetadataFormats&identifier=1", "idDoesNotExist", true},
      {"verb=ListMetadataFormats&identifier=oai:opac.example.jp:7", "noMetadataFormats", true},  // withdrawn
      {"verb=ListIdentifiers&metadataPrefix=oai_dc&set=class10", "noRecordsMatch", true},
      {"verb=ListIdentifiers&metadataPrefix=oai_dc&from=9999-12-31", "noRecordsMatch", true},
  };
  for (const Case& c : cases) {
    const CgiResult r = Run("GET", c.query);
    const std::string body = Body(r);
    EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: 200 OK") << c.query;
    EXPECT_NE(r.output.find("\r\nContent-Type: text/xml; charset=UTF-8\r\n"), std::string::npos) << c.query;
    EXPECT_EQ(ErrorCode(body), c.code) << c.query << "\n" << body;
    const std::string request = Between(body, "<request", "</request>");
    EXPECT_EQ(request == std::string(">") + kBase, !c.attributes) << c.query << ": " << request;
    EXPECT_EQ(request.find("<x>"), std::string::npos) << c.query;
    EXPECT_EQ(r.errors, "") << c.query;
  }
  // Without sets, asking for one is noSetHierarchy; the headers carry no setSpec.
  catalogue_.WriteSettings("[図書館]\nOAI分類セット=False\n");
  EXPECT_EQ(ErrorCode(Get("verb=ListSets")), "noSetHierarchy");
  EXPECT_EQ(ErrorCode(Get("verb=ListRecords&metadataPrefix=oai_dc&set=class1")), "noSetHierarchy");
  EXPECT_EQ(Get("verb=ListIdentifiers&metadataPrefix=oai_dc").find("<setSpec>"), std::string::npos);
}

TEST_F(OaiTest, ARecordCarriesTheBookEscapedAndAWithdrawnBookIsDeleted) {
  HostileTitle();
  const std::string record = Get("verb=GetRecord&identifier=oai:opac.example.jp:3&metadataPrefix=oai_dc");
  for (const std::string& part : {
           std::string("<request verb=\"GetRecord\" identifier=\"oai:opac.example.jp:3\" metadataPrefix=\"oai_dc\">") +
               kBase + "</request>",
           std::string("<header><identifier>oai:opac.example.jp:3</identifier><datestamp>"),
           std::string("</datestamp><setSpec>class3</setSpec></header>"),
           std::string("<dc:title>&lt;&amp;&gt;&quot;&apos;\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDZ</dc:title>"),
           std::string("<dc:creator>著者3</dc:creator>"),
           std::string("<dc:subject>313.6</dc:subject><dc:subject>社会科学</dc:subject>"
                       "<dc:subject>素粒子</dc:subject><dc:subject>宇宙</dc:subject>"),
           std::string("<dc:description>a]]&gt;b</dc:description>"),
           std::string("<dc:publisher>出版社</dc:publisher><dc:date>2010</dc:date><dc:type>Text</dc:type>"),
           std::string("<dc:identifier>urn:isbn:9784101010014</dc:identifier>"
                       "<dc:identifier>http://opac.example.jp:8080/cgi-bin/shelfra.cgi/book/3</dc:identifier>"),
           std::string("<dc:language>jpn</dc:language>")}) {
    EXPECT_NE(record.find(part), std::string::npos) << part << "\n" << record;
  }
  for (char c = 0; c < 0x20; ++c) {
    if (c != '\n') {
      EXPECT_EQ(record.find(c), std::string::npos) << static_cast<int>(c);
    }
  }
  const std::string withdrawn = Get("verb=GetRecord&identifier=oai:opac.example.jp:7&metadataPrefix=oai_dc");
  EXPECT_NE(withdrawn.find("<record><header status=\"deleted\"><identifier>oai:opac.example.jp:7</identifier>"),
            std::string::npos) << withdrawn;
  EXPECT_EQ(withdrawn.find("<metadata>"), std::string::npos);
  const std::string sets = Get("verb=ListSets");
  EXPECT_NE(sets.find("<set><setSpec>class9</setSpec><setName>9 &lt;i&gt;文学&lt;/i&gt;</setName></set>"),
            std::string::npos) << sets;
  EXPECT_NE(sets.find("<setSpec>class0</setSpec><setName>0 総記</setName>"), std::string::npos);
}

TEST_F(OaiTest, AListIsCompleteThroughItsTokensUntilTheCatalogueChanges) {
  std::vector<std::string> cursors;
  std::string size;
  const std::vector<std::string> all = Harvest("verb=ListIdentifiers&metadataPrefix=oai_dc", &cursors, &size);
  ASSERT_EQ(all.size(), 150u);
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 150u);
  EXPECT_EQ(all.front(), "oai:opac.example.jp:1");
  EXPECT_EQ(cursors, (std::vector<std::string>{"0", "100"}));
  EXPECT_EQ(size, "150");
  const std::vector<std::string> nine = Harvest("verb=ListIdentifiers&metadataPrefix=oai_dc&set=class9", nullptr, &size);
  EXPECT_EQ(nine.size(), 15u);
  EXPECT_EQ(nine[1], "oai:opac.example.jp:19");
  EXPECT_EQ(size, "");  // one page: no token at all
  EXPECT_EQ(Between(Get("verb=ListRecords&metadataPrefix=oai_dc&set=class7"),
                    "<identifier>oai:opac.example.jp:7</identifier>", "</record>"),
            "<datestamp>" + Between(Get("verb=Identify"), "<earliestDatestamp>", "<") +
                "</datestamp><setSpec>class7</setSpec></header>");  // withdrawn: a deleted record

  // A loan does not change the records, so the token stays good; a new book table refuses it.
  const std::string token = Token(Get("verb=ListRecords&metadataPrefix=oai_dc"));
  ASSERT_FALSE(token.empty());
  catalogue_.WriteLoans("登録番号,返却予定日,返却済\n5,2026-12-20,F\n");
  const std::string resumed = Get("verb=ListRecords&resumptionToken=" + token);
  EXPECT_EQ(ErrorCode(resumed), "");
  EXPECT_NE(resumed.find("<identifier>oai:opac.example.jp:101</identifier>"), std::string::npos);
  EXPECT_NE(resumed.find("<resumptionToken completeListSize=\"150\" cursor=\"100\"></resumptionToken>"),
            std::string::npos);
  catalogue_.WriteBooks(Books(150));
  const std::string refused = Get("verb=ListRecords&resumptionToken=" + token);
  EXPECT_EQ(ErrorCode(refused), "badResumptionToken") << refused;
  EXPECT_NE(refused.find("<request verb=\"ListRecords\" resumptionToken=\"" + token + "\">"), std::string::npos);
}

TEST_F(OaiTest, FromAndUntilIncludeTheirEdgesInBothGranularities) {
  const std::string stamp = Between(Get("verb=Identify"), "<earliestDatestamp>", "</earliestDatestamp>");
  ASSERT_EQ(stamp.size(), 20u) << stamp;
  std::tm tm{};
  ASSERT_NE(strptime(stamp.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm), nullptr);
  const std::time_t t = timegm(&tm);
  auto text = [](std::time_t time, const char* format) {
    char out[32];
    std::tm parts{};
    gmtime_r(&time, &parts);
    std::strftime(out, sizeof out, format, &parts);
    return std::string(out);
  };
  const char* seconds = "%Y-%m-%dT%H:%M:%SZ";
  struct Case {
    std::string arguments;
    bool records;
  } cases[] = {
      {"&from=" + stamp, true},
      {"&until=" + stamp, true},
      {"&from=" + stamp + "&until=" + stamp, true},
      {"&from=" + text(t + 1, seconds), false},
      {"&until=" + text(t - 1, seconds), false},
      {"&from=" + text(t, "%Y-%m-%d") + "&until=" + text(t, "%Y-%m-%d"), true},  // the whole day
      {"&until=" + text(t - 86400, "%Y-%m-%d"), false},
      {"&from=" + text(t + 86400, "%Y-%m-%d"), false},
      {"&from=" + text(t + 1, seconds) + "&until=" + text(t - 1, seconds), false},  // from after until
  };
  for (const Case& c : cases) {
    const std::string body = Get("verb=ListIdentifiers&metadataPrefix=oai_dc" + c.arguments);
    EXPECT_EQ(ErrorCode(body), c.records ? "" : "noRecordsMatch") << c.arguments;
  }
}

TEST_F(OaiTest, PostHeadAndValidatorsAnswerAsForEveryRoutedAddress) {
  const std::string form = "verb=GetRecord&identifier=oai%3Aopac.example.jp%3A2&metadataPrefix=oai_dc";
  const CgiResult get = Run("GET", form);
  const std::string etag = Between(get.output, "\r\nETag: ", "\r\n");
  ASSERT_FALSE(etag.empty());
  struct Case {
    std::string method, query, content, type, header, value, status, code;
  } cases[] = {
      {"POST", "", form, "application/x-www-form-urlencoded", "", "", "200 OK", ""},
      {"POST", "", form, "Application/X-WWW-Form-Urlencoded; charset=UTF-8", "HTTP_IF_NONE_MATCH", etag, "200 OK", ""},
      {"POST", "", form, "text/plain", "", "", "200 OK", "badArgument"},
      {"POST", "", std::string(70000, 'a'), "application/x-www-form-urlencoded", "", "", "200 OK", "badArgument"},
      {"POST", "verb=Identify", "verb=Identify", "application/x-www-form-urlencoded", "", "", "200 OK", "badVerb"},
      {"GET", form, "", "", "HTTP_IF_NONE_MATCH", etag, "304 Not Modified", ""},
      {"PUT", form, "", "", "", "", "405 Method Not Allowed", ""},
  };
  for (const Case& c : cases) {
    const CgiResult r = Run(c.method, c.query, c.content, {{"CONTENT_TYPE", c.type}, {c.header, c.value}});
    EXPECT_EQ(r.output.substr(0, r.output.find("\r\n")), "Status: " + c.status) << c.method << " " << c.type;
    if (c.status == "200 OK") {
      EXPECT_EQ(ErrorCode(Body(r)), c.code) << c.method << " " << c.type;
    }
    if (c.method == "PUT") {
      EXPECT_NE(r.output.find("\r\nAllow: GET, HEAD, POST\r\n"), std::string::npos);
    }
  }
  EXPECT_NE(Body(Run("POST", "", form, {{"CONTENT_TYPE", "application/x-www-form-urlencoded"}}))
                .find("<dc:title>本2</dc:title>"), std::string::npos);
  const CgiResult head = Run("HEAD", form);
  EXPECT_EQ(Body(head), "");
  EXPECT_EQ(Between(head.output, "Content-Length: ", "\r\n"), std::to_string(Body(get).size()));
}

TEST_F(OaiTest, TheSettingsNameTheRepositoryAndItsItems) {
  catalogue_.WriteSettings("[図書館]\n名称=市立<図書館>\nOAI識別子=lib.example.jp\nOAI管理者メール=a@lib.example.jp, b@lib.example.jp\n");
  const std::string identify = Get("verb=Identify");
  for (const char* part : {"<repositoryName>市立&lt;図書館&gt;</repositoryName>",
                           "<adminEmail>a@lib.example.jp</adminEmail>\n<adminEmail>b@lib.example.jp</adminEmail>",
                           "<repositoryIdentifier>lib.example.jp</repositoryIdentifier>",
                           "<deletedRecord>transient</deletedRecord>", "<granularity>YYYY-MM-DDThh:mm:ssZ</granularity>"}) {
    EXPECT_NE(identify.find(part), std::string::npos) << part << "\n" << identify;
  }
  EXPECT_EQ(ErrorCode(Get("verb=GetRecord&identifier=oai:lib.example.jp:2&metadataPrefix=oai_dc")), "");
  catalogue_.WriteSettings("[図書館]\nOAI識別子=bad id\n");
  const CgiResult fallback = Run("GET", "verb=Identify");
  EXPECT_NE(Body(fallback).find("<repositoryIdentifier>opac.example.jp</"), std::string::npos);
  EXPECT_NE(Body(fallback).find("<repositoryName>棚読 蔵書検索</repositoryName>"), std::string::npos);
  EXPECT_NE(fallback.errors.find("repository identifier setting bad id is no host name"), std::string::npos)
      << fallback.errors;
}

}  // namespace
}  // namespace shelfra::testing
