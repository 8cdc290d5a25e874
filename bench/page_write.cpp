// Benchmark of writing a long result page: the old front's web module answers one class search
// in-process (by default bunrui=9, the longest list of a generated catalogue), then the table
// producer writes the same page again several times, and only those writes are timed. Prints
// the page's size, its rows, an FNV-1a hash of its bytes, the MB/s (10^6 bytes a second) of
// every write and the median, and the median by the thread's CPU time (steadier where others
// load the machine), as one JSON line.
//
// Usage: page_write [--writes K] [--query QUERY_STRING] [--rounds N --baseline PROGRAM]
//   --writes    timed writes after one untimed one (default 5); the median is reported
//   --query     the request's query string (default "bunrui=9")
//   --baseline  another build of this program (made from an older tree): every round runs it
//               and this program as fresh processes, in turns, the one going first changing
//               from round to round; prints each round's medians, then the median of the
//               rounds of each and their ratio, and fails (exit status 1) when the two pages
//               differ in a byte
//   --rounds    rounds of the comparison (default 9)
// The catalogue is the one SHELFRA_CONFIG's host configuration names (the alias Vadoz).
//
// A plain timing program rather than a Google Benchmark one: the comparison runs two builds
// side by side and checks that their pages agree byte for byte, which a benchmark library's
// loop has no place for; and the program builds wherever the project does.
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/web_module1.h"
#include "base/exceptions.h"
#include "data/query.h"
#include "web/cgi_environment.h"
#include "web/web_request.h"
#include "web/web_response.h"

extern char** environ;

namespace {

using namespace shelfra;

// The request's variables, in memory; the page is not sent anywhere.
class BenchEnvironment : public CgiEnvironment {
 public:
  std::map<std::string, std::string, std::less<>> variables;
  std::string Variable(std::string_view name) override {
    auto it = variables.find(name);
    return it == variables.end() ? std::string() : it->second;
  }
  long ReadContent(char* /*buffer*/, size_t /*count*/) override { return 0; }
  long Write(std::string_view bytes) override { return static_cast<long>(bytes.size()); }
};

// Wall time, or with `cpu` the time this thread ran (steadier on a machine others load too).
double NowSeconds(bool cpu = false) {
  timespec ts;
  clock_gettime(cpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "page_write: %s\n", what.c_str());
  std::exit(2);
}

int ToCount(const char* text, const char* option) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < 1 || value > 1000) {
    Fail(std::string(option) + " needs a count from 1 to 1000, not '" + text + "'");
  }
  return static_cast<int>(value);
}

// One process's measurement: the search, one untimed write, then `writes` timed ones.
int Measure(const std::string& query, int writes) {
  BenchEnvironment env;
  env.variables = {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}, {"SCRIPT_NAME", "/cgi-bin/vovivavi.exe"}};
  std::string page;
  std::vector<double> mb_s, cpu_mb_s;
  int rows = 0;
  try {
    TWebModule1 module(nullptr);
    TCGIRequest request(env);
    TCGIResponse response(request);
    if (!module.Dispatch(request, response)) Fail("no action answered '" + query + "'");
    rows = module.QueryZosho->Active() ? module.QueryZosho->CountRecords() : 0;
    for (int w = 0; w <= writes; ++w) {
      module.QueryZosho->First();
      const double start = NowSeconds(), cpu_start = NowSeconds(true);
      std::string written = module.DataSetTableProducer1->ProduceContent();
      const double seconds = NowSeconds() - start, cpu_seconds = NowSeconds(true) - cpu_start;
      if (w > 0) {
        mb_s.push_back(static_cast<double>(written.size()) / seconds / 1e6);
        cpu_mb_s.push_back(static_cast<double>(written.size()) / cpu_seconds / 1e6);
      }
      if (w > 0 && written != page) Fail("the page changed from one write to the next");
      page.swap(written);
    }
  } catch (const Exception& e) {
    Fail(std::string(e.ClassName()) + ": " + e.Message());
  }
  std::string out = "{\"bytes\":";
  out.append(std::to_string(page.size()));
  out.append(",\"rows\":").append(std::to_string(rows));
  char hash[32];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(page)));
  out.append(",\"fnv\":\"").append(hash).append("\",\"mb_s\":[");
  char number[32];
  for (size_t i = 0; i < mb_s.size(); ++i) {
    std::snprintf(number, sizeof number, "%s%.1f", i ? "," : "", mb_s[i]);
    out += number;
  }
  std::snprintf(number, sizeof number, "%.1f", Median(mb_s));
  out.append("],\"median_mb_s\":").append(number);
  std::snprintf(number, sizeof number, "%.1f", Median(cpu_mb_s));
  out.append(",\"median_cpu_mb_s\":").append(number).append("}\n");
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

// What one spawned measurement printed.
struct RunLine {
  double median = 0;
  double cpu_median = 0;
  std::string fnv;
  long long bytes = 0;
};

// Runs `program` with `args` and reads its JSON line.
RunLine RunChild(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) Fail(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) Fail(program + ": " + std::strerror(rc));
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail(program + " failed");
  auto value_of = [&](std::string_view key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) Fail(program + " printed no " + std::string(key) + ": " + text);
    return text.c_str() + at + key.size();
  };
  RunLine line;
  line.median = std::strtod(value_of("\"median_mb_s\":"), nullptr);
  line.cpu_median = std::strtod(value_of("\"median_cpu_mb_s\":"), nullptr);
  line.bytes = std::strtoll(value_of("\"bytes\":"), nullptr, 10);
  line.fnv = std::string(value_of("\"fnv\":\""), 16);
  return line;
}

// The comparison: this program against `baseline`, in turns.
int Compare(const std::string& baseline, const std::string& query, int writes, int rounds) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) Fail("cannot find this program's own file");
  const std::string program(self, static_cast<size_t>(n));
  const std::vector<std::string> args = {"--writes", std::to_string(writes), "--query", query};
  std::vector<double> before, after, cpu_before, cpu_after;
  RunLine first_before, first_after;
  std::printf("round  before MB/s  after MB/s  (by CPU time: before  after)\n");
  for (int r = 0; r < rounds; ++r) {
    RunLine b, a;
    if (r % 2 == 0) {
      b = RunChild(baseline, args);
      a = RunChild(program, args);
    } else {
      a = RunChild(program, args);
      b = RunChild(baseline, args);
    }
    if (r == 0) {
      first_before = b;
      first_after = a;
    }
    before.push_back(b.median);
    after.push_back(a.median);
    cpu_before.push_back(b.cpu_median);
    cpu_after.push_back(a.cpu_median);
    std::printf("%5d  %11.1f  %10.1f  %20.1f  %5.1f\n", r + 1, b.median, a.median, b.cpu_median, a.cpu_median);
  }
  const double mb = Median(before), ma = Median(after), cb = Median(cpu_before), ca = Median(cpu_after);
  std::printf("median %10.1f  %10.1f  %20.1f  %5.1f\n", mb, ma, cb, ca);
  std::printf("after/before %.2f (by CPU time %.2f), page of %lld bytes\n", ma / mb, ca / cb, first_after.bytes);
  if (first_before.fnv != first_after.fnv || first_before.bytes != first_after.bytes) {
    std::printf("PAGE DIFFERS FROM THE BASELINE'S (%lld bytes, fnv %s; baseline %lld bytes, fnv %s)\n",
                first_after.bytes, first_after.fnv.c_str(), first_before.bytes, first_before.fnv.c_str());
    return 1;
  }
  std::printf("pages identical (fnv %s)\n", first_after.fnv.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int writes = 5, rounds = 9;
  std::string query = "bunrui=9";
  std::string baseline;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) Fail("usage: page_write [--writes K] [--query Q] [--rounds N --baseline PROGRAM]");
    if (arg == "--writes") {
      writes = ToCount(argv[++i], "--writes");
    } else if (arg == "--rounds") {
      rounds = ToCount(argv[++i], "--rounds");
    } else if (arg == "--query") {
      query = argv[++i];
    } else if (arg == "--baseline") {
      baseline = argv[++i];
    } else {
      Fail(std::string("unknown option '").append(arg).append("'"));
    }
  }
  const char* config = std::getenv("SHELFRA_CONFIG");
  if (config == nullptr || *config == '\0') Fail("SHELFRA_CONFIG names no host configuration");
  if (!baseline.empty()) return Compare(baseline, query, writes, rounds);
  return Measure(query, writes);
}
