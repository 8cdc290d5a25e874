// Benchmark launcher: runs one command several times the way a web server runs a CGI program
// (a fresh process, standard input empty, standard output a pipe that is read to the end) and
// prints the wall time and the peak resident memory of every run as one JSON line.
//
// Usage: spawn_time [--runs N] [--warmup N] [--save FILE] [--stdout pipe|null] [--env NAME=VALUE]...
//                   -- COMMAND [ARG...]
//   --runs     measured runs (default 5)
//   --warmup   runs before the measured ones, not reported (default 1)
//   --save     the standard output of the first run (warm-up or measured) goes to FILE
//   --stdout   "null" sends standard output to /dev/null instead of the pipe
//   --env      adds or replaces a variable in the command's environment only (for LD_PRELOAD)
// The command inherits this process's environment. The wall time runs from just before the
// spawn to the return of wait4, so it includes process start, dynamic linking and the reading of
// every output byte. Output: {"wall_ms":[...],"cpu_ms":[...],"maxrss_kb":[...],"status":[...],
// "bytes":[...]}, one entry per measured run. The exit status is 3 when any run, warm-up
// included, exited with a status other than 0.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

struct RunResult {
  double wall_ms = 0;
  double cpu_ms = 0;  // user and system time of the command
  long maxrss_kb = 0;
  int status = 0;  // exit code, or 128 + signal number
  size_t bytes = 0;
};

double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "spawn_time: %s: %s\n", what, std::strerror(errno));
  std::exit(2);
}

// Runs argv once; the output is appended to save_fd when it is not -1.
RunResult RunOnce(char** argv, char** envp, bool to_pipe, int save_fd) {
  int pipe_fds[2] = {-1, -1};
  if (to_pipe && pipe2(pipe_fds, O_CLOEXEC) != 0) Fail("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (to_pipe) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }

  RunResult result;
  double start = NowMs();
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    Fail(argv[0]);
  }
  if (to_pipe) {
    close(pipe_fds[1]);
    static char buffer[1 << 20];
    for (;;) {
      ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      result.bytes += static_cast<size_t>(n);
      if (save_fd >= 0 && write(save_fd, buffer, static_cast<size_t>(n)) != n) Fail("write");
    }
    close(pipe_fds[0]);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) Fail("wait4");
  }
  result.wall_ms = NowMs() - start;
  result.maxrss_kb = usage.ru_maxrss;
  result.cpu_ms = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

int ToCount(const char* text, const char* option) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < 0 || value > 100000) {
    std::fprintf(stderr, "spawn_time: %s needs a count, not '%s'\n", option, text);
    std::exit(2);
  }
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5, warmup = 1;
  const char* save_path = nullptr;
  bool to_pipe = true;
  std::vector<std::string> extra_env;
  int i = 1;
  bool have_command = false;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      have_command = ++i < argc;
      break;
    }
    if (i + 1 >= argc) break;
    if (arg == "--runs") {
      runs = ToCount(argv[++i], "--runs");
    } else if (arg == "--warmup") {
      warmup = ToCount(argv[++i], "--warmup");
    } else if (arg == "--save") {
      save_path = argv[++i];
    } else if (arg == "--stdout") {
      to_pipe = std::string(argv[++i]) != "null";
    } else if (arg == "--env") {
      extra_env.push_back(argv[++i]);
    } else {
      break;
    }
  }
  if (!have_command) {
    std::fprintf(stderr,
                 "usage: spawn_time [--runs N] [--warmup N] [--save FILE] [--stdout pipe|null] "
                 "[--env NAME=VALUE]... -- COMMAND [ARG...]\n");
    return 2;
  }
  char** command = argv + i;

  // The command's environment: ours, with the --env entries added or replacing same names.
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) {
    std::string_view entry = *e;
    bool replaced = false;
    for (const std::string& extra : extra_env) {
      size_t name_end = extra.find('=');
      if (entry.substr(0, name_end + 1) == std::string_view(extra).substr(0, name_end + 1)) replaced = true;
    }
    if (!replaced) envp.push_back(*e);
  }
  for (std::string& extra : extra_env) envp.push_back(extra.data());
  envp.push_back(nullptr);

  int save_fd = -1;
  if (save_path) {
    save_fd = open(save_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (save_fd < 0) Fail(save_path);
  }
  std::vector<RunResult> results;
  bool failed = false;
  for (int run = 0; run < warmup + runs; ++run) {
    RunResult r = RunOnce(command, envp.data(), to_pipe, run == 0 ? save_fd : -1);
    failed = failed || r.status != 0;
    if (run >= warmup) results.push_back(r);
  }
  if (save_fd >= 0) close(save_fd);

  // {"wall_ms":[...],"cpu_ms":[...],"maxrss_kb":[...],"status":[...],"bytes":[...]}
  std::string out = "{";
  auto add = [&](const char* key, auto field) {
    if (out.size() > 1) out += ',';
    out += '"';
    out += key;
    out += "\":[";
    for (size_t k = 0; k < results.size(); ++k) {
      if (k) out += ',';
      out += field(results[k]);
    }
    out += ']';
  };
  auto ms = [](double value) {
    char number[64];
    std::snprintf(number, sizeof number, "%.3f", value);
    return std::string(number);
  };
  add("wall_ms", [&](const RunResult& r) { return ms(r.wall_ms); });
  add("cpu_ms", [&](const RunResult& r) { return ms(r.cpu_ms); });
  add("maxrss_kb", [](const RunResult& r) { return std::to_string(r.maxrss_kb); });
  add("status", [](const RunResult& r) { return std::to_string(r.status); });
  add("bytes", [](const RunResult& r) { return std::to_string(r.bytes); });
  out += "}\n";
  std::fputs(out.c_str(), stdout);
  return failed ? 3 : 0;
}
