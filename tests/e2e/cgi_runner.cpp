// Process runner for the whole-program tests.
#include "tests/e2e/cgi_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

namespace shelfra::testing {

namespace {

// With SHELFRA_E2E_FASTCGI set, the web programs' requests go through a FastCGI responder of
// each (started once, ended at exit), sent by cgi-fcgi as a web server would send them: every
// test then shows that a long-running responder answers byte for byte as a CGI process does.
bool ThroughFastCgi(const std::string& program, const std::vector<std::string>& arguments) {
  const char* on = std::getenv("SHELFRA_E2E_FASTCGI");
  if (on == nullptr || *on == '\0' || !arguments.empty()) return false;
  return program == ProgramPath() || program == BuiltProgramPath("shelfra.cgi");
}

struct Responder {
  FastCgiResponder process;
  off_t log_read = 0;
};

// Tests send requests from several threads at once: the responders and their log offsets are
// shared, so they are looked at under this lock (else two threads read the same log lines).
std::mutex& RespondersLock() {
  static auto* lock = new std::mutex();
  return *lock;
}

std::map<std::string, Responder>& Responders() {
  static auto* responders = new std::map<std::string, Responder>();
  return *responders;
}

void EndResponders() {
  for (auto& [program, responder] : Responders()) StopFastCgiResponder(responder.process);
}

// `program`'s responder, started when there is none.
Responder& ResponderOf(const std::string& program) {
  Responder& responder = Responders()[program];
  if (responder.process.pid > 0) return responder;
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(EndResponders);
  }
  responder.process = StartFastCgiResponder(program);
  return responder;
}

// What the responder logged since the last call.
std::string NewLogLines(Responder& responder) {
  std::string lines;
  const int fd = open(responder.process.log.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return lines;
  char buf[4096];
  ssize_t n;
  while ((n = pread(fd, buf, sizeof buf, responder.log_read)) > 0) {
    lines.append(buf, static_cast<size_t>(n));
    responder.log_read += n;
  }
  close(fd);
  return lines;
}

}  // namespace

FastCgiResponder StartFastCgiResponder(const std::string& program, const std::vector<std::string>& arguments) {
  static int started = 0;
  FastCgiResponder responder;
  const char* tmp = std::getenv("TMPDIR");
  responder.socket = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/shelfra-e2e-" +
                     std::to_string(getpid()) + "-" + std::to_string(++started) + ".sock";
  responder.log = responder.socket + ".log";
  std::vector<std::string> words = {program, "--fastcgi", responder.socket};
  words.insert(words.end(), arguments.begin(), arguments.end());
  const int log = open(responder.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  responder.pid = fork();
  if (responder.pid == 0) {
    dup2(log, 2);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    char* envp[] = {nullptr};
    execve(program.c_str(), argv.data(), envp);
    _exit(127);
  }
  close(log);
  for (int i = 0; i < 500 && access(responder.socket.c_str(), F_OK) != 0; ++i) usleep(10000);
  return responder;
}

void StopFastCgiResponder(FastCgiResponder& responder) {
  if (responder.pid > 0 && kill(responder.pid, SIGTERM) == 0) waitpid(responder.pid, nullptr, 0);
  responder.pid = -1;
  unlink(responder.socket.c_str());
  unlink(responder.log.c_str());
}

std::string BuiltProgramPath(std::string_view name) {
  const char* dir = std::getenv("SHELFRA_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/" + std::string(name);
}

std::string ProgramPath() { return BuiltProgramPath("vovivavi.exe"); }

std::string IndexProgramPath() { return BuiltProgramPath("shelfra-index"); }

CgiResult RunCgi(const std::map<std::string, std::string>& environment, std::string_view input, int timeout_seconds) {
  return RunProgram(ProgramPath(), {}, environment, input, timeout_seconds);
}

CgiResult RunProgram(const std::string& program_path, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment, std::string_view input,
                     int timeout_seconds) {
  if (ThroughFastCgi(program_path, arguments)) {
    std::string socket;
    {
      std::lock_guard<std::mutex> hold(RespondersLock());
      socket = ResponderOf(program_path).process.socket;
    }
    CgiResult result = RunProgram("/usr/bin/cgi-fcgi", {"-bind", "-connect", socket}, environment, input, timeout_seconds);
    std::lock_guard<std::mutex> hold(RespondersLock());
    result.errors += NewLogLines(ResponderOf(program_path));  // the error log's lines of the request
    return result;
  }
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  std::string program = program_path;
  std::vector<std::string> env_strings;
  for (const auto& [name, value] : environment) env_strings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argument_strings = arguments;
  std::vector<char*> argv = {program.data()};
  for (std::string& a : argument_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);

  CgiResult result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  bool out_open = true, err_open = true;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  bool killed = false;
  char buf[65536];
  while (out_open || err_open) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (!killed && now.tv_sec - start.tv_sec >= timeout_seconds) {
      kill(pid, SIGKILL);
      killed = true;
    }
    pollfd fds[3];
    int n = 0;
    int out_i = -1, err_i = -1, in_i = -1;
    if (out_open) { fds[n] = {out_pipe[0], POLLIN, 0}; out_i = n++; }
    if (err_open) { fds[n] = {err_pipe[0], POLLIN, 0}; err_i = n++; }
    if (in_fd >= 0) { fds[n] = {in_fd, POLLOUT, 0}; in_i = n++; }
    if (poll(fds, static_cast<nfds_t>(n), 200) < 0 && errno != EINTR) break;
    if (out_i >= 0 && fds[out_i].revents) {
      ssize_t r = read(out_pipe[0], buf, sizeof buf);
      if (r > 0) result.output.append(buf, static_cast<size_t>(r)); else out_open = false;
    }
    if (err_i >= 0 && fds[err_i].revents) {
      ssize_t r = read(err_pipe[0], buf, sizeof buf);
      if (r > 0) result.errors.append(buf, static_cast<size_t>(r)); else err_open = false;
    }
    if (in_i >= 0 && fds[in_i].revents) {
      ssize_t w = write(in_fd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 || written == input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace shelfra::testing
