#include "web/web_request.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "web/fake_cgi_environment.h"

namespace shelfra {
namespace {

TEST(CgiRequestTest, MethodTypeIgnoresAsciiCase) {
  struct Case {
    const char* method;
    TMethodType expected;
  } cases[] = {{"GET", mtGet}, {"get", mtGet}, {"Post", mtPost}, {"PUT", mtPut},
               {"HEAD", mtHead}, {"OPTIONS", mtAny}, {"", mtAny}};
  for (const Case& c : cases) {
    FakeCgiEnvironment env;
    env.variables["REQUEST_METHOD"] = c.method;
    EXPECT_EQ(TCGIRequest(env).MethodType(), c.expected) << c.method;
  }
}

TEST(CgiRequestTest, HttpVariablesFallBackToTheNameWithoutPrefix) {
  FakeCgiEnvironment env;
  env.variables["CONTENT_LENGTH"] = "5";
  env.variables["CONTENT_TYPE"] = "text/plain";
  env.variables["HTTP_HOST"] = "";
  env.variables["HOST"] = "fallback";
  env.input = "abcdefgh";
  TCGIRequest request(env);
  EXPECT_EQ(request.VariableInteger(kHttpContentLength), 5);
  EXPECT_EQ(request.ContentText(), "abcde");
  EXPECT_EQ(request.VariableText(kContent), "abcde");
  EXPECT_EQ(request.VariableText(kHttpContentType), "text/plain");
  EXPECT_EQ(request.VariableText(kHttpHost), "fallback");
  EXPECT_EQ(request.VariableInteger(kScriptName), -1);  // unset
}

TEST(CgiRequestTest, NamedVariablesReadTheirOwnEnvironmentVariable) {
  // Each name must index the environment variable it is named after: an index one off reads
  // nothing here, as only that one variable is set.
  struct Case {
    RequestVariable variable;
    const char* name;
  } cases[] = {{kRequestMethod, "REQUEST_METHOD"}, {kServerProtocol, "SERVER_PROTOCOL"},
               {kQueryString, "QUERY_STRING"},     {kPathInfo, "PATH_INFO"},
               {kScriptName, "SCRIPT_NAME"},       {kHttpContentLength, "HTTP_CONTENT_LENGTH"},
               {kServerPort, "SERVER_PORT"},       {kHttpAuthorization, "HTTP_AUTHORIZATION"}};
  for (const Case& c : cases) {
    FakeCgiEnvironment env;
    env.variables.emplace(c.name, "7");
    TCGIRequest request(env);
    EXPECT_EQ(request.VariableText(c.variable), "7") << c.name;
  }
  FakeCgiEnvironment env;
  env.variables[""] = "empty name";
  TCGIRequest request(env);
  EXPECT_EQ(request.VariableText(-1), "");
  EXPECT_EQ(request.VariableText(kRequestVariableCount), "");
}

TEST(CgiRequestTest, ContentReadIsOneBoundedRead) {
  FakeCgiEnvironment env;
  env.variables["CONTENT_LENGTH"] = "2000000000";
  env.input = "short";
  TCGIRequest request(env);
  EXPECT_EQ(request.ContentText(), "short");
  ASSERT_EQ(env.read_requests.size(), 1u);
  EXPECT_LE(env.read_requests[0], TCGIRequest::kMaxContentRead);

  FakeCgiEnvironment none;
  none.input = "ignored";
  TCGIRequest no_length(none);
  EXPECT_EQ(no_length.ContentText(), "");
  EXPECT_TRUE(none.read_requests.empty());
}

TEST(CgiRequestTest, LongEnvironmentValuesComeBackWhole) {
  FakeCgiEnvironment env;
  env.variables["QUERY_STRING"] = "q=" + std::string(10000, 'a');
  TCGIRequest request(env);
  EXPECT_EQ(request.QueryValues().Values("q").size(), 10000u);
}

TEST(CgiRequestTest, QueryValuesAreBuiltOnFirstUseAndFoundIgnoringCase) {
  FakeCgiEnvironment env;
  env.variables["QUERY_STRING"] = "KeyWord1=x&NO=12&a=1&a=2&b=c=d";
  TCGIRequest request(env);
  const TStrings& q = request.QueryValues();
  EXPECT_EQ(q.Values("keyword1"), "x");
  EXPECT_EQ(q.Values("No"), "12");
  EXPECT_EQ(q.Values("a"), "1");
  EXPECT_EQ(q.Values("b"), "c=d");
  EXPECT_EQ(q.Values("missing"), "");
  env.variables["QUERY_STRING"] = "NO=99";  // never rebuilt
  EXPECT_EQ(request.QueryValues().Values("NO"), "12");
}

TEST(CgiRequestTest, MalformedEscapeRaisesOnFirstUse) {
  FakeCgiEnvironment env;
  env.variables["QUERY_STRING"] = "x=%4G";
  TCGIRequest request(env);  // construction does not look at the query
  EXPECT_THROW(request.QueryValues(), EConvertError);
}

TEST(CgiRequestTest, HugeQueryStringsSplitInLinearTime) {
  // A 1 MB query of 100,000 fields, and one field of 1 MB: every entry kept, in order, and
  // fast (a quadratic splitter would take minutes here).
  std::string many;
  for (int i = 0; i < 100000; ++i) {
    many.append("f").append(std::to_string(i % 10)).append("=").append(3, 'a' + i % 26).append("&");
  }
  many.resize(1 << 20, 'z');
  FakeCgiEnvironment env;
  env.variables["QUERY_STRING"] = many;
  TCGIRequest request(env);
  const TStrings& values = request.QueryValues();
  EXPECT_EQ(values.Count(), 100001);
  EXPECT_EQ(values.Values("f7"), "hhh");
  EXPECT_EQ(values[99999], "f9=ddd");

  FakeCgiEnvironment env2;
  env2.variables["QUERY_STRING"] = "title1=" + std::string(1 << 20, '+') + "%41";
  TCGIRequest request2(env2);
  std::string value = request2.QueryValues().Values("title1");
  EXPECT_EQ(value.size(), (1u << 20) + 1);
  EXPECT_EQ(value.back(), 'A');
}

}  // namespace
}  // namespace shelfra
