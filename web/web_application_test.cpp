#include "web/web_application.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "base/exceptions.h"
#include "tests/support/bytes_diff.h"
#include "tests/support/log_capture.h"
#include "tests/support/sjis.h"
#include "web/fake_cgi_environment.h"
#include "web/web_dispatcher.h"
#include "web/web_response.h"

namespace shelfra {
namespace {

// A module whose one default action runs `behaviour`.
std::function<void(TWebRequest&, TWebResponse&, bool&)> g_behaviour;

class TestModule : public TWebModule {
 public:
  explicit TestModule(TComponent* owner) : TWebModule(owner) { LoadDescription(); }
  std::string_view ClassName() const override { return "TTestModule"; }

 protected:
  void CreateComponents() override {
    TWebActionItem& item = Actions().Add();
    item.SetDefault(true);
    item.OnAction = [](TComponent&, TWebRequest& request, TWebResponse& response, bool& handled) {
      g_behaviour(request, response, handled);
    };
  }
};

class UndescribedModule : public TWebModule {
 public:
  explicit UndescribedModule(TComponent* owner) : TWebModule(owner) { LoadDescription(); }
  std::string_view ClassName() const override { return "TUndescribed"; }
};

std::string RunOnce(FakeCgiEnvironment& env, bool register_module = true) {
  TCGIApplication app(env);
  app.Initialize();
  if (register_module) app.RegisterModuleClass<TestModule>();
  app.Run();
  return env.Output();
}

std::string ErrorPage(std::string_view class_name, std::string_view message, std::string_view status_message) {
  std::string body = "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\n"
                     "Exception: " + std::string(class_name) + "<br>\r\nMessage: " + std::string(message) +
                     "<br></html>\r\n";
  return "Status: 500 " + std::string(status_message) + "\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
}

TEST(CgiApplicationTest, HandlerContentGoesOutWithTheDefaultHeaders) {
  g_behaviour = [](TWebRequest&, TWebResponse& response, bool&) { response.SetContent("page"); };
  FakeCgiEnvironment env;
  env.variables["SERVER_PROTOCOL"] = "HTTP/1.1";
  EXPECT_BYTES_EQ("Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\nContent:\r\n\r\npage",
                  RunOnce(env));
}

TEST(CgiApplicationTest, EscapingExceptionBecomesTheErrorPageAndNothingElse) {
  g_behaviour = [](TWebRequest& request, TWebResponse& response, bool&) {
    response.SetContent("partial");
    request.QueryValues();  // malformed escape
  };
  FakeCgiEnvironment env;
  env.variables["SERVER_PROTOCOL"] = "HTTP/1.1";
  env.variables["QUERY_STRING"] = "x=%4G";
  std::string message = testing::Sjis("'$4G' は整数ではありません");
  std::string out = RunOnce(env);
  EXPECT_BYTES_EQ(ErrorPage("EConvertError", message, message), out);
  EXPECT_EQ(env.writes.size(), 2u);  // header block, then body
}

TEST(CgiApplicationTest, ErrorPageIsWrittenWithoutProtocolToo) {
  g_behaviour = [](TWebRequest&, TWebResponse&, bool&) { throw Exception("boom"); };
  FakeCgiEnvironment env;
  EXPECT_BYTES_EQ(ErrorPage("Exception", "boom", "boom"), RunOnce(env));
}

TEST(CgiApplicationTest, MessageCannotBreakTheHeaderBlockOrInjectMarkup) {
  g_behaviour = [](TWebRequest&, TWebResponse&, bool&) {
    throw Exception("bad\r\nSet-Cookie: x=1 <script>\"&\"</script>");
  };
  FakeCgiEnvironment env;
  std::string out = RunOnce(env);
  EXPECT_BYTES_EQ(ErrorPage("Exception", "bad\r\nSet-Cookie: x=1 &lt;script&gt;&quot;&amp;&quot;&lt;/script&gt;",
                            "bad  Set-Cookie: x=1 <script>\"&\"</script>"),
                  out);
}

TEST(CgiApplicationTest, UnansweredRequestWritesNothing) {
  g_behaviour = [](TWebRequest&, TWebResponse& response, bool& handled) {
    response.SetContent("ignored");
    handled = false;
  };
  FakeCgiEnvironment env;
  env.variables["SERVER_PROTOCOL"] = "HTTP/1.1";
  EXPECT_EQ(RunOnce(env), "");
}

TEST(CgiApplicationTest, FrameworkErrorsUseTheirMessages) {
  FakeCgiEnvironment env;
  std::string no_module = testing::Sjis("データモジュールが登録されていません。");
  EXPECT_BYTES_EQ(ErrorPage("Exception", no_module, no_module), RunOnce(env, false));

  FakeCgiEnvironment env2;
  TCGIApplication app(env2);
  app.RegisterModuleClass<TestModule>();
  try {
    app.RegisterModuleClass<TestModule>();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), testing::Sjis("アプリケーションはデータモジュールを一つしか持つことができません。"));
  }

  FakeCgiEnvironment env3;
  TCGIApplication app3(env3);
  app3.RegisterModuleClass<UndescribedModule>();
  app3.Run();
  std::string not_found = testing::Sjis("TUndescribed リソースが見つかりません");
  EXPECT_BYTES_EQ(ErrorPage("EResNotFound", not_found, not_found), env3.Output());
}

TEST(CgiApplicationTest, ModuleStaysCachedAfterTheRequest) {
  g_behaviour = [](TWebRequest&, TWebResponse& response, bool&) { response.SetContent("x"); };
  FakeCgiEnvironment env;
  TCGIApplication app(env);
  app.RegisterModuleClass<TestModule>();
  app.Run();
  EXPECT_EQ(app.ComponentCount(), 1);
  app.SetMaxActiveModules(1);
  TComponent& first = app.ActivateModule();  // the cached one
  EXPECT_THROW(app.ActivateModule(), Exception);
  app.DeactivateModule(first);
}

// What follows the log line's time and pid, "" when nothing was logged.
std::string LoggedText(testing::LogCapture& capture) {
  std::string line = capture.Take();
  size_t start = line.find("]: ");
  return start == std::string::npos ? line : line.substr(start + 3);
}

TEST(CgiApplicationTest, ErrorPageWritesOneLogLineAndTheSamePage) {
  const std::string not_integer = testing::Sjis("'$4G' は整数ではありません");
  struct Case {
    const char* what;
    std::function<void()> raise;
    std::string page;
    std::string log;
  } cases[] = {
      {"Shift_JIS message", [&] { throw EConvertError(not_integer); },
       ErrorPage("EConvertError", not_integer, not_integer),
       "vovivavi.exe: 500 EConvertError: '$4G' は整数ではありません (path \"/Detail\", query \"NO=5&x=%4G\")\n"},
      {"control bytes", [] { throw Exception("bad\r\nline"); },
       ErrorPage("Exception", "bad\r\nline", "bad  line"),
       "vovivavi.exe: 500 Exception: bad\\r\\nline (path \"/Detail\", query \"NO=5&x=%4G\")\n"},
      {"std::exception", [] { throw std::runtime_error("plain"); },
       ErrorPage("Exception", "plain", "plain"),
       "vovivavi.exe: 500 Exception: plain (path \"/Detail\", query \"NO=5&x=%4G\")\n"},
      {"out of memory", [] { throw std::bad_alloc(); },
       ErrorPage("EOutOfMemory", "Out of memory", "Out of memory"),
       "vovivavi.exe: 500 EOutOfMemory: Out of memory\n"},
  };
  for (const Case& c : cases) {
    g_behaviour = [&c](TWebRequest&, TWebResponse& response, bool&) {
      response.SetContent("partial");
      c.raise();
    };
    FakeCgiEnvironment env;
    env.variables["SERVER_PROTOCOL"] = "HTTP/1.1";
    env.variables["PATH_INFO"] = "/Detail";
    env.variables["QUERY_STRING"] = "NO=5&x=%4G";
    testing::LogCapture capture;
    EXPECT_BYTES_EQ(c.page, RunOnce(env)) << c.what;
    EXPECT_EQ(LoggedText(capture), c.log) << c.what;
  }
}

TEST(CgiApplicationTest, AnsweredRequestLogsNothing) {
  g_behaviour = [](TWebRequest&, TWebResponse& response, bool&) { response.SetContent("page"); };
  FakeCgiEnvironment env;
  testing::LogCapture capture;
  RunOnce(env);
  EXPECT_EQ(capture.Take(), "");
}

TEST(CgiApplicationTest, LogNamesTheProgramAsItWasRun) {
  g_behaviour = [](TWebRequest&, TWebResponse&, bool&) { throw Exception("boom"); };
  struct Case {
    const char* argv0;
    const char* expected;
  } cases[] = {
      {"/usr/lib/cgi-bin/catalogue.cgi", "catalogue.cgi: 500 Exception: boom (path \"\", query \"\")\n"},
      {"search", "search: 500 Exception: boom (path \"\", query \"\")\n"},
      {"/usr/lib/cgi-bin/", "vovivavi.exe: 500 Exception: boom (path \"\", query \"\")\n"},
  };
  for (const Case& c : cases) {
    FakeCgiEnvironment env;
    TCGIApplication app(env);
    app.SetProgramName(c.argv0);
    app.RegisterModuleClass<TestModule>();
    testing::LogCapture capture;
    app.Run();
    EXPECT_EQ(LoggedText(capture), c.expected) << c.argv0;
  }
}

}  // namespace
}  // namespace shelfra
