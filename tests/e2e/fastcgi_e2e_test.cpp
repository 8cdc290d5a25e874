// Whole-program tests of the FastCGI responder: one process answering many requests exactly
// as CGI processes answer them, whatever changes between them, and refusing what it must.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/e2e/opac_support.h"
#include "tests/support/bytes_diff.h"

namespace shelfra::testing {
namespace {

constexpr const char* kBooksA = "登録番号,書名,書名ｶﾅ,著者名,分類記号\n1,こころ,ｺｺﾛ,夏目漱石,913.6\n";
constexpr const char* kBooksB =
    "登録番号,書名,書名ｶﾅ,著者名,分類記号\n2,坊っちゃん,ﾎﾞｯﾁｬﾝ,夏目漱石,913.6\n3,門,ﾓﾝ,夏目漱石,913.6\n";
constexpr const char* kLoans = "登録番号,返却予定日,返却済\n";

// A responder of `program` on a socket of its own, ended (SIGTERM) with the test.
class Responder {
 public:
  explicit Responder(const std::string& program, const std::vector<std::string>& extra = {})
      : process_(StartFastCgiResponder(program, extra)) {}
  ~Responder() { StopFastCgiResponder(process_); }
  CgiResult Send(const std::map<std::string, std::string>& environment) const {
    return RunProgram("/usr/bin/cgi-fcgi", {"-bind", "-connect", process_.socket}, environment);
  }
  // The responder's exit status once it ended by itself within `seconds`; -1 while it runs.
  int ExitWithin(int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
      int status = 0;
      if (waitpid(process_.pid, &status, WNOHANG) == process_.pid) {
        process_.pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10000);
    }
    return -1;
  }
  // Sends SIGTERM; the exit status as ExitWithin gives it.
  int Terminate() {
    kill(process_.pid, SIGTERM);
    return ExitWithin(10);
  }
  const std::string& Socket() const { return process_.socket; }
  // Its standard error so far: the error log.
  std::string Log() const {
    std::ifstream in(process_.log);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  FastCgiResponder process_;
};

// Requests naming two catalogues in turn through SHELFRA_CONFIG, a table replaced and a host
// configuration gone between them: every answer is the CGI process's, byte for byte, and a
// failing request leaves the next one sound.
TEST(FastCgiTest, EveryRequestIsAnsweredAsACgiProcessAnswersIt) {
  CatalogueFixture a, b;
  a.WriteBooks(kBooksA);
  a.WriteLoans(kLoans);
  b.WriteBooks(kBooksB);
  b.WriteLoans(kLoans);
  for (const std::string& program : {ProgramPath(), BuiltProgramPath("shelfra.cgi")}) {
    const bool old_front = program == ProgramPath();
    Responder responder(program);
    const auto request = [&](const CatalogueFixture& c) {
      return old_front ? c.Request("", "bunrui=9") : c.Request("/search", "class=9");
    };
    const auto expect_same = [&](const CatalogueFixture& c, const char* step) {
      CgiResult cgi = RunProgram(program, {}, request(c));
      CgiResult fast = responder.Send(request(c));
      EXPECT_EQ(fast.exit_code, 0) << step;
      EXPECT_BYTES_EQ(cgi.output, fast.output) << program << ": " << step;
    };
    expect_same(a, "first catalogue");
    expect_same(b, "second catalogue");
    expect_same(a, "first again");
    b.WriteBooks(kBooksA);  // replaced between two requests
    expect_same(b, "second, its table replaced");
    std::map<std::string, std::string> gone = request(a);
    gone["SHELFRA_CONFIG"] = a.Directory() + "/missing.conf";
    CgiResult failed = responder.Send(gone);
    EXPECT_NE(failed.output.find("500"), std::string::npos) << failed.output.substr(0, 200);
    EXPECT_NE(responder.Log().find(": 500 "), std::string::npos) << "one line in the error log";
    expect_same(a, "after a failed request");
  }
}

TEST(FastCgiTest, EndsAfterItsRequestsAndOnSigterm) {
  CatalogueFixture c;
  c.WriteBooks(kBooksA);
  c.WriteLoans(kLoans);
  Responder limited(ProgramPath(), {"--max-requests", "2"});
  EXPECT_EQ(limited.Send(c.Request("", "")).exit_code, 0);
  EXPECT_EQ(limited.ExitWithin(0), -1);
  EXPECT_EQ(limited.Send(c.Request("", "")).exit_code, 0);
  EXPECT_EQ(limited.ExitWithin(10), 0);

  Responder waiting(BuiltProgramPath("shelfra.cgi"));
  EXPECT_EQ(waiting.Send(c.Request("/", "")).exit_code, 0);
  EXPECT_EQ(waiting.Terminate(), 0);
}

// What is in the way of the socket is never removed, another responder's socket never taken
// over, and no address but the machine's own listened on.
TEST(FastCgiTest, RefusesAddressesItMustNotTake) {
  const std::string dir = ::testing::TempDir();
  const std::string file = dir + "fastcgi_e2e_planted_" + std::to_string(getpid());
  std::ofstream(file) << "someone's file\n";
  Responder live(ProgramPath());
  struct Case {
    std::string address, words;
  } cases[] = {
      {file, "no socket"},
      {live.Socket(), "another process serves it"},
      {"192.0.2.1:9000", "loopback"},
      {"127.0.0.1:http", "port"},
  };
  for (const Case& t : cases) {
    CgiResult r = RunProgram(ProgramPath(), {"--fastcgi", t.address}, {}, {}, 10);
    EXPECT_EQ(r.exit_code, 1) << t.address;
    EXPECT_NE(r.errors.find(t.words), std::string::npos) << t.address << ": " << r.errors;
  }
  std::ifstream kept(file);
  std::string line;
  std::getline(kept, line);
  EXPECT_EQ(line, "someone's file");
  std::remove(file.c_str());
}

}  // namespace
}  // namespace shelfra::testing
