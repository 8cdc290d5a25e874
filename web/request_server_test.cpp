#include "web/request_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace shelfra {
namespace {

ServeOptions Read(std::vector<std::string> words) {
  std::vector<char*> argv;
  static char name[] = "program";
  argv.push_back(name);
  for (std::string& w : words) argv.push_back(w.data());
  return ReadServeOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(RequestServerTest, ReadsTheCommandLine) {
  struct Case {
    std::vector<std::string> words;
    std::string address;
    long max_requests;
    bool error;
  } cases[] = {
      {{}, "", 0, false},
      {{"--fastcgi", "/run/shelfra/v.sock"}, "/run/shelfra/v.sock", 0, false},
      {{"--fastcgi", "127.0.0.1:9000", "--max-requests", "500"}, "127.0.0.1:9000", 500, false},
      {{"--max-requests", "0"}, "", 0, true},
      {{"--max-requests", "ten"}, "", 0, true},
      {{"--fastcgi"}, "", 0, true},
      {{"search", "words"}, "", 0, true},
  };
  for (const Case& t : cases) {
    const ServeOptions options = Read(t.words);
    const std::string line = t.words.empty() ? "(none)" : t.words[0];
    EXPECT_EQ(options.fastcgi_address, t.address) << line;
    EXPECT_EQ(options.max_requests, t.max_requests) << line;
    EXPECT_EQ(!options.error.empty(), t.error) << line << ": " << options.error;
  }
}

// A CGI server may pass the words of a query string without '=' as arguments: started as a
// CGI program, the program reads none, so no visitor can make it listen anywhere.
TEST(RequestServerTest, ACgiRequestTakesNoOptions) {
  ::setenv("GATEWAY_INTERFACE", "CGI/1.1", 1);
  const ServeOptions options = Read({"--fastcgi", "/tmp/planted.sock"});
  ::unsetenv("GATEWAY_INTERFACE");
  EXPECT_EQ(options.fastcgi_address, "");
  EXPECT_EQ(options.error, "");
}

TEST(RequestServerTest, TheLimitMayComeFromTheEnvironment) {
  ::setenv("SHELFRA_MAX_REQUESTS", "1000", 1);
  EXPECT_EQ(Read({}).max_requests, 1000);
  EXPECT_EQ(Read({"--max-requests", "7"}).max_requests, 7);
  ::setenv("SHELFRA_MAX_REQUESTS", "-1", 1);
  EXPECT_NE(Read({}).error, "");
  ::unsetenv("SHELFRA_MAX_REQUESTS");
}

}  // namespace
}  // namespace shelfra
