#include "web/web_response.h"

#include <gtest/gtest.h>

#include "tests/support/bytes_diff.h"
#include "tests/support/sjis.h"
#include "web/fake_cgi_environment.h"
#include "web/web_request.h"

namespace shelfra {
namespace {

class CgiResponseTest : public ::testing::Test {
 protected:
  CgiResponseTest() { env_.variables["SERVER_PROTOCOL"] = "HTTP/1.1"; }
  FakeCgiEnvironment env_;
};

TEST_F(CgiResponseTest, HeaderBlockAndContentAreTwoWrites) {
  TCGIRequest request(env_);
  TCGIResponse response(request);
  response.SetContent("<p>hi</p>");
  response.Send();
  ASSERT_EQ(env_.writes.size(), 2u);
  EXPECT_BYTES_EQ("Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\nContent:\r\n\r\n", env_.writes[0]);
  EXPECT_BYTES_EQ("<p>hi</p>", env_.writes[1]);
  EXPECT_TRUE(response.IsSent());
}

TEST_F(CgiResponseTest, EmptyContentHasNoLengthLineAndNoContentWrite) {
  TCGIRequest request(env_);
  TCGIResponse response(request);
  response.SetContent("");
  response.Send();
  EXPECT_BYTES_EQ("Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n", env_.Output());
  EXPECT_EQ(env_.writes.size(), 1u);
}

TEST_F(CgiResponseTest, ContentLengthCountsShiftJisBytes) {
  TCGIRequest request(env_);
  TCGIResponse response(request);
  response.SetContent(testing::Sjis("図書館資料の検索です"));  // ten double-byte characters
  response.Send();
  EXPECT_NE(env_.writes[0].find("Content-Length: 20\r\n"), std::string::npos);
}

TEST_F(CgiResponseTest, StatusLineUsesTheReasonTable) {
  struct Case {
    int status;
    const char* line;
  } cases[] = {{404, "Status: 404 Not Found\r\n"}, {299, "Status: 200 OK\r\n"}, {0, "Status: 200 OK\r\n"},
               {412, "Status: 412 Unless True\r\n"}, {302, "Status: 302 Moved Temporarily\r\n"}};
  for (const Case& c : cases) {
    FakeCgiEnvironment env;
    env.variables["SERVER_PROTOCOL"] = "HTTP/1.0";
    TCGIRequest request(env);
    TCGIResponse response(request);
    response.SetStatus(c.status);
    response.SetContent("x");
    response.Send();
    EXPECT_EQ(env.writes[0].rfind(c.line, 0), 0u) << c.status << ": " << env.writes[0];
  }
}

TEST_F(CgiResponseTest, OptionalLinesComeInTheirOrder) {
  TCGIRequest request(env_);
  TCGIResponse response(request);
  response.SetStringVariable(kLocation, "/x");
  response.SetStringVariable(kAllow, "GET");
  response.Cookies().push_back({"id", "7", "", "/", false});
  response.SetStringVariable(kDerivedFrom, "d");
  response.SetStringVariable(kTitle, "t");
  response.SetStringVariable(kWWWAuthenticate, "Basic");
  response.ExtraHeaders().Add("X-One=1");
  response.ExtraHeaders().Add("x-one=2");  // lookup by name finds the first value
  response.SetStringVariable(kContentVersion, "v");
  response.SetStringVariable(kContentEncoding, "gzip");
  response.SetContent("x");
  response.Send();
  EXPECT_BYTES_EQ(
      "Status: 200 OK\r\nLocation: /x\r\nAllow: GET\r\nSet-Cookie: id=7; path=/\r\nDerived-From: d\r\nTitle: t\r\n"
      "WWW-Authenticate: Basic\r\nX-One: 1\r\nx-one: 1\r\nContent-Version: v\r\nContent-Encoding: gzip\r\n"
      "Content-Type: text/html\r\nContent-Length: 1\r\nContent:\r\n\r\n",
      env_.writes[0]);
}

TEST(CgiResponseWithoutProtocolTest, OnlyTheContentIsWritten) {
  FakeCgiEnvironment env;
  TCGIRequest request(env);
  TCGIResponse response(request);
  EXPECT_EQ(response.StringVariable(kVersion), "1.0");
  response.SetContent("body");
  response.Send();
  EXPECT_BYTES_EQ("body", env.Output());
}

TEST(CgiResponseWithoutProtocolTest, StreamGoesOutInPiecesOf8192) {
  FakeCgiEnvironment env;
  TCGIRequest request(env);
  TCGIResponse response(request);
  auto stream = std::make_unique<TMemoryStream>();
  stream->data.assign(20000, 'z');
  response.SetContentStream(std::move(stream));
  EXPECT_EQ(response.ContentLength(), 20000);
  response.Send();
  ASSERT_EQ(env.writes.size(), 3u);
  EXPECT_EQ(env.writes[0].size(), 8192u);
  EXPECT_EQ(env.writes[2].size(), 20000u - 2 * 8192u);
}

}  // namespace
}  // namespace shelfra
