// The CGI and FastCGI serving of a program: its options, the listening socket, the loop of
// FastCGI requests (the protocol itself is libfcgi's) and its signals.
#include "web/request_server.h"

#include <arpa/inet.h>
#include <fcgiapp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/error_log.h"
#include "base/request_context.h"
#include "base/scoped_fd.h"

namespace shelfra {

namespace {

constexpr int kBacklog = 128;
constexpr int kMaxWrite = 1 << 20;  // libfcgi counts in int: a long page goes in pieces

// One FastCGI request as the CGI framework sees it.
class FastCgiEnvironment : public CgiEnvironment {
 public:
  explicit FastCgiEnvironment(FCGX_Request& request) : request_(request) {}
  std::string Variable(std::string_view name) override {
    const char* value = RequestVariable(name);
    return value != nullptr ? std::string(value) : std::string();
  }
  long ReadContent(char* buffer, size_t count) override {
    const int n = FCGX_GetStr(buffer, static_cast<int>(std::min<size_t>(count, kMaxWrite)), request_.in);
    return n >= 0 ? n : -1;
  }
  long Write(std::string_view bytes) override {
    for (size_t done = 0; done < bytes.size();) {
      const int piece = static_cast<int>(std::min<size_t>(bytes.size() - done, kMaxWrite));
      if (FCGX_PutStr(bytes.data() + done, piece, request_.out) != piece) return done > 0 ? static_cast<long>(done) : -1;
      done += static_cast<size_t>(piece);
    }
    return static_cast<long>(bytes.size());
  }

 private:
  FCGX_Request& request_;
};

// The state the signal handler and the detached process's hook look at.
volatile sig_atomic_t g_serving = 0;  // a request is being answered
volatile sig_atomic_t g_stop = 0;     // end after it
int g_listen_fd = -1;
FCGX_Request* g_request = nullptr;
FCGX_Stream* g_error_stream = nullptr;

void OnStopSignal(int) {
  if (!g_serving) ::_exit(0);  // waiting for a request: nothing is lost
  g_stop = 1;
}

void ToRequestError(const char* line, size_t size) {
  if (g_error_stream != nullptr) (void)FCGX_PutStr(line, static_cast<int>(size), g_error_stream);
}

// True when standard error leads nowhere (/dev/null, as spawn-fcgi and lighttpd without a
// log for its programs leave it): the log lines then go with the requests.
bool ErrorLogIsNowhere() {
  struct stat err, null;
  return ::fstat(STDERR_FILENO, &err) == 0 && ::stat("/dev/null", &null) == 0 && S_ISCHR(err.st_mode) &&
         err.st_rdev == null.st_rdev;
}

bool PositiveNumber(std::string_view text, long& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size() && out > 0;
}

std::string SocketError(const std::string& address, std::string_view what, int err) {
  return "cannot listen on " + address + ": " + std::string(what) + (err != 0 ? " (" + ErrnoText(err) + ")" : "");
}

// A Unix socket at `path`. A socket file already there that nobody answers on is an old
// responder's and is replaced; one somebody answers on, or any other file, is refused.
int UnixSocket(const std::string& path, std::string& error) {
  sockaddr_un where{};
  if (path.size() >= sizeof where.sun_path) {
    error = SocketError(path, "the path is too long for a socket", 0);
    return -1;
  }
  where.sun_family = AF_UNIX;
  std::memcpy(where.sun_path, path.c_str(), path.size() + 1);
  ScopedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    error = SocketError(path, "no socket", errno);
    return -1;
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = SocketError(path, "a file that is no socket is in the way", 0);
      return -1;
    }
    ScopedFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe.Valid() && ::connect(probe.Get(), reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) {
      error = SocketError(path, "another process serves it", 0);
      return -1;
    }
    if (errno != ECONNREFUSED || ::unlink(path.c_str()) != 0) {
      error = SocketError(path, "the socket there cannot be replaced", errno);
      return -1;
    }
  }
  const mode_t saved = ::umask(0117);  // the owner and the web server's group may connect
  const int bound = ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&where), sizeof where);
  const int bind_errno = errno;
  ::umask(saved);
  if (bound != 0 || ::listen(fd.Get(), kBacklog) != 0) {
    error = SocketError(path, bound != 0 ? "bind" : "listen", bound != 0 ? bind_errno : errno);
    return -1;
  }
  return fd.Release();
}

// A TCP socket on a loopback address: "127.0.0.1:PORT", ":PORT" (the same), "[::1]:PORT" or
// "localhost:PORT".
int LoopbackSocket(const std::string& address, std::string& error) {
  const size_t colon = address.rfind(':');
  std::string host = address.substr(0, colon);
  long port = 0;
  if (!PositiveNumber(std::string_view(address).substr(colon + 1), port) || port > 65535) {
    error = SocketError(address, "no port number after the ':'", 0);
    return -1;
  }
  if (host.empty() || host == "localhost") host = "127.0.0.1";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  sockaddr_storage where{};
  socklen_t size = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&where);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&where);
  if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1 && (ntohl(v4->sin_addr.s_addr) >> 24) == 127) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    size = sizeof *v4;
  } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1 && IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    size = sizeof *v6;
  } else {
    error = SocketError(address, "only a loopback address (127.0.0.1, [::1]) or a socket path may be given", 0);
    return -1;
  }
  ScopedFd fd(::socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (!fd.Valid() || ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&where), size) != 0 || ::listen(fd.Get(), kBacklog) != 0) {
    error = SocketError(address, "bind", errno);
    return -1;
  }
  return fd.Release();
}

// True when standard input is a listening socket: a FastCGI server started the program.
bool StartedOnSocket() {
  int listening = 0;
  socklen_t size = sizeof listening;
  return ::getsockopt(STDIN_FILENO, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0;
}

void InstallSignals() {
  struct sigaction stop{};
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESTART;  // the answer's reads and writes go on; the loop looks at g_stop
  sigemptyset(&stop.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &stop, nullptr);
  ::signal(SIGPIPE, SIG_IGN);  // a server that went away fails the write, not the process
  // The detached index build is no responder: it lets go of the sockets and of the request's
  // error stream.
  AddDetachHook([] {
    SetLogSink(nullptr);
    if (g_request != nullptr && g_request->ipcFd >= 0) ::close(g_request->ipcFd);
    if (g_listen_fd >= 0) ::close(g_listen_fd);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::signal(signal, SIG_DFL);
  });
}

void ServeOne(FCGX_Request& request, bool log_with_request, std::string_view program,
              const RequestHandler& handler) {
  FastCgiEnvironment environment(request);
  if (log_with_request) {
    g_error_stream = request.err;
    SetLogSink(ToRequestError);
  }
  try {
    BeginRequest(request.envp);
    handler(environment);
  } catch (...) {
    // The handlers answer their own failures; this is the last resort.
    LogLine(std::string(program) + ": 500 an unexpected failure ended the request");
    environment.Write("Status: 500 Internal Server Error\r\nContent-Type: text/plain\r\n\r\n");
  }
  EndRequest();
  SetLogSink(nullptr);
  g_error_stream = nullptr;
}

int ServeFastCgi(int listen_fd, long max_requests, std::string_view program, const RequestHandler& handler) {
  if (FCGX_Init() != 0) {
    LogLine(std::string(program) + ": cannot start the FastCGI library");
    return 1;
  }
  FCGX_Request request;
  if (FCGX_InitRequest(&request, listen_fd, 0) != 0) {
    LogLine(std::string(program) + ": cannot start the FastCGI library");
    return 1;
  }
  g_listen_fd = listen_fd;
  g_request = &request;
  InstallSignals();
  const bool log_with_request = ErrorLogIsNowhere();
  time_t logged_at = 0;
  for (long served = 0; !g_stop && (max_requests == 0 || served < max_requests);) {
    if (FCGX_Accept_r(&request) < 0) {
      const int err = errno;
      // A listening socket that is gone ends the process; any other failure (a connection
      // the server dropped at once, no descriptor left) is waited out, said at most once a
      // minute, and never spun on.
      if (err == EBADF || err == ENOTSOCK || err == EINVAL) {
        LogLine(std::string(program) + ": the FastCGI socket went away; ending");
        return 1;
      }
      if (const time_t now = ::time(nullptr); now - logged_at >= 60) {
        logged_at = now;
        LogLine(std::string(program) + ": a FastCGI connection could not be taken: " + ErrnoText(err));
      }
      ::usleep(10000);
      continue;
    }
    g_serving = 1;
    ServeOne(request, log_with_request, program, handler);
    FCGX_Finish_r(&request);
    g_serving = 0;
    ++served;
  }
  FCGX_Free(&request, 1);
  return 0;
}

}  // namespace

ServeOptions ReadServeOptions(int argc, char** argv) {
  ServeOptions options;
  const char* gateway = std::getenv("GATEWAY_INTERFACE");
  const char* method = std::getenv("REQUEST_METHOD");
  if ((gateway != nullptr && *gateway != '\0') || (method != nullptr && *method != '\0')) return options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--fastcgi" && has_value) {
      options.fastcgi_address = argv[++i];
    } else if (arg == "--max-requests" && has_value) {
      if (!PositiveNumber(argv[++i], options.max_requests)) options.error = "--max-requests wants a positive number";
    } else {
      options.error = "unknown option " + std::string(arg) + " (--fastcgi ADDRESS, --max-requests N)";
    }
  }
  const char* limit = std::getenv("SHELFRA_MAX_REQUESTS");
  if (options.max_requests == 0 && limit != nullptr && *limit != '\0' &&
      !PositiveNumber(limit, options.max_requests)) {
    options.error = "SHELFRA_MAX_REQUESTS wants a positive number";
  }
  return options;
}

int ServeRequests(const ServeOptions& options, std::string_view program, const RequestHandler& handler) {
  PosixCgiEnvironment process;
  process.EnsureOpen();  // a listening socket on standard input is open and stays
  if (!options.error.empty()) {
    LogLine(std::string(program) + ": " + options.error);
    return 2;
  }
  if (!options.fastcgi_address.empty()) {
    std::string error;
    const std::string& address = options.fastcgi_address;
    const int fd = address.find('/') != std::string::npos ? UnixSocket(address, error) : LoopbackSocket(address, error);
    if (fd < 0) {
      LogLine(std::string(program) + ": " + error);
      return 1;
    }
    return ServeFastCgi(fd, options.max_requests, program, handler);
  }
  if (StartedOnSocket()) return ServeFastCgi(STDIN_FILENO, options.max_requests, program, handler);
  BeginRequest(nullptr);
  handler(process);
  EndRequest();
  return 0;
}

}  // namespace shelfra
