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
  EXPECT_EQ(request.VariableInteger(16), 5);
  EXPECT_EQ(request.ContentText(), "abcde");
  EXPECT_EQ(request.VariableText(25), "abcde");
  EXPECT_EQ(request.VariableText(15), "text/plain");
  EXPECT_EQ(request.VariableText(10), "fallback");
  EXPECT_EQ(request.VariableInteger(23), -1);  // unset
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

}  // namespace
}  // namespace shelfra
