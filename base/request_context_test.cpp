#include "base/request_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace shelfra {
namespace {

std::string Value(const char* v) { return v != nullptr ? v : "(none)"; }

// A FastCGI request's variables, not the process's, answer for the request; the host
// configuration's path alone falls back to the process's environment.
TEST(RequestContextTest, RequestVariablesComeBeforeTheProcessEnvironment) {
  ::setenv("SHELFRA_RC_TEST", "process", 1);
  ::setenv("SHELFRA_RC_ONLY_PROCESS", "process", 1);
  char a[] = "SHELFRA_RC_TEST=request";
  char b[] = "SHELFRA_RC_EMPTY=";
  char c[] = "SHELFRA_RC_TESTX=other";
  char* variables[] = {c, a, b, nullptr};
  const uint64_t before = RequestNumber();
  int started = 0;
  AddRequestStartHook([&started] { ++started; });

  BeginRequest(variables);
  EXPECT_EQ(RequestNumber(), before + 1);
  EXPECT_EQ(started, 1);
  struct Case {
    const char* name;
    std::string request, request_or_process;
  } cases[] = {
      {"SHELFRA_RC_TEST", "request", "request"},
      {"SHELFRA_RC_EMPTY", "", "(none)"},
      {"SHELFRA_RC_ONLY_PROCESS", "(none)", "process"},
      {"SHELFRA_RC", "(none)", "(none)"},
      {"SHELFRA_RC_TEST=request", "(none)", "(none)"},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(Value(RequestVariable(t.name)), t.request) << t.name;
    EXPECT_EQ(Value(RequestOrProcessVariable(t.name)), t.request_or_process) << t.name;
  }
  EndRequest();

  EXPECT_EQ(Value(RequestVariable("SHELFRA_RC_TEST")), "process");
  BeginRequest(nullptr);  // a CGI request: the process's environment is the request's
  EXPECT_EQ(Value(RequestVariable("SHELFRA_RC_TEST")), "process");
  EXPECT_EQ(started, 2);
  EndRequest();
  ::unsetenv("SHELFRA_RC_TEST");
  ::unsetenv("SHELFRA_RC_ONLY_PROCESS");
}

}  // namespace
}  // namespace shelfra
