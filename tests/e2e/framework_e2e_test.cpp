// Whole-program tests of the CGI cycle: framing, routing, error pages, exit codes.
#include <gtest/gtest.h>

// g++ 12.2 at -O1 with the sanitizers (scripts/sanitize.sh) wrongly warns that <regex>'s
// automaton copies an uninitialised std::function; clang knows no such warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#else
#include <regex>
#endif

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/support/bytes_diff.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

constexpr const char* kBooks =
    "登録番号,書名,書名ｶﾅ,著者名,分類記号\n"
    "1,こころ,ｺｺﾛ,夏目漱石,913.6\n";
constexpr const char* kLoans = "登録番号,返却予定日,返却済\n1,2026-12-20,F\n";

std::string ErrorPage(const std::string& class_name, const std::string& message) {
  std::string body = "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\n"
                     "Exception: " + class_name + "<br>\r\nMessage: " + message + "<br></html>\r\n";
  return "Status: 500 " + message + "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent:\r\n\r\n" + body;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

class FrameworkTest : public ::testing::Test {
 protected:
  FrameworkTest() {
    catalogue_.WriteBooks(kBooks);
    catalogue_.WriteLoans(kLoans);
  }
  CatalogueFixture catalogue_;
};

TEST_F(FrameworkTest, MalformedEscapeGivesTheConversionErrorPage) {
  CgiResult r = catalogue_.Get("", "title1=%4G");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_BYTES_EQ(ErrorPage("EConvertError", Sjis("'$4G' は整数ではありません")), r.output);
}

TEST_F(FrameworkTest, WithoutProtocolOnlyTheContentIsWritten) {
  auto env = catalogue_.Request("", "");
  env.erase("SERVER_PROTOCOL");
  CgiResult r = RunCgi(env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(StartsWith(r.output, "<HTML>\r\n<HEAD>\r\n")) << r.output.substr(0, 80);
}

TEST_F(FrameworkTest, HeaderBlockAnnouncesTheExactLength) {
  CgiResult r = catalogue_.Get("", "");
  size_t end = r.output.find("Content:\r\n\r\n");
  ASSERT_NE(end, std::string::npos);
  std::string header = r.output.substr(0, end);
  std::string body = r.output.substr(end + 12);
  EXPECT_BYTES_EQ("Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n",
                  header);
}

TEST_F(FrameworkTest, RoutesByPathAndMethod) {
  std::string form = catalogue_.Get("", "").output;
  std::string list = catalogue_.Get("/list", "").output;
  ASSERT_NE(form, list);
  struct Case {
    const char* method;
    const char* path;
    const char* query;
    const std::string& expected;
  } cases[] = {
      {"GET", "/other", "", form},    {"GET", "/list/", "", form},   {"POST", "/Detail", "NO=5", form},
      {"HEAD", "/Detail", "NO=1", form}, {"GET", "/LIST", "", list}, {"POST", "/List", "", list},
  };
  for (const Case& c : cases) {
    CgiResult r = RunCgi(catalogue_.Request(c.path, c.query, c.method));
    EXPECT_BYTES_EQ(c.expected, r.output) << c.method << " " << c.path;
  }
  EXPECT_NE(catalogue_.Get("/detail", "no=1").output, form);
}

TEST_F(FrameworkTest, HugeAnnouncedContentIsNotAllocated) {
  auto env = catalogue_.Request("", "");
  env["CONTENT_LENGTH"] = "2000000000";
  CgiResult r = RunCgi(env, "abc");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(StartsWith(r.output, "Status: 200 OK\r\n"));
}

TEST(FrameworkCatalogueTest, MissingTablesMakeEveryRequestTheEngineErrorPage) {
  CatalogueFixture empty;
  for (const char* path : {"", "/list", "/Detail"}) {
    CgiResult r = empty.Get(path, "");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(StartsWith(r.output, "Status: 500 ")) << path;
    EXPECT_NE(r.output.find("Exception: EDBEngineError<br>"), std::string::npos) << r.output;
  }
}

TEST(FrameworkCatalogueTest, ErrorPageWritesOneUtf8LineToStandardError) {
  CatalogueFixture empty;
  CgiResult r = empty.Get("/Detail", "NO=5");
  ASSERT_TRUE(StartsWith(r.output, "Status: 500 "));
  std::string message = r.output.substr(12, r.output.find("\r\n") - 12);  // Shift_JIS
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.errors, m, std::regex("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d shelfra\\[\\d+\\]: ")))
      << r.errors;
  EXPECT_EQ(r.errors.substr(m.length(0)),
            "vovivavi.exe: 500 EDBEngineError: " + Utf8(message) + " (path \"/Detail\", query \"NO=5\")\n");
  EXPECT_NE(Utf8(message).find("図書.DBF"), std::string::npos) << Utf8(message);
}

TEST_F(FrameworkTest, PagesWriteNothingToStandardError) {
  for (const char* path : {"", "/list", "/Detail"}) {
    CgiResult r = catalogue_.Get(path, "NO=1&title1=x");
    EXPECT_TRUE(StartsWith(r.output, "Status: 200 OK\r\n")) << path;
    EXPECT_EQ(r.errors, "") << path;
  }
}

TEST(FrameworkCatalogueTest, MissingLendingTableAloneIsEnoughForTheErrorPage) {
  CatalogueFixture catalogue;
  catalogue.WriteBooks(kBooks);
  CgiResult r = catalogue.Get("", "");
  EXPECT_TRUE(StartsWith(r.output, "Status: 500 "));
  EXPECT_NE(r.output.find("EDBEngineError"), std::string::npos);
}

TEST(FrameworkCatalogueTest, UnconfiguredAliasIsAnEngineError) {
  auto env = CatalogueFixture().Request("", "");
  env["SHELFRA_CONFIG"] = "/nonexistent/shelfra.conf";
  CgiResult r = RunCgi(env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(StartsWith(r.output, "Status: 500 "));
  EXPECT_NE(r.output.find("EDBEngineError"), std::string::npos);
}

}  // namespace
}  // namespace shelfra::testing
