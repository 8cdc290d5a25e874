// The process's CGI environment.
#include "web/cgi_environment.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace shelfra {

std::string PosixCgiEnvironment::Variable(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value ? std::string(value) : std::string();
}

long PosixCgiEnvironment::ReadContent(char* buffer, size_t count) {
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, count);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

long PosixCgiEnvironment::Write(std::string_view bytes) {
  // One logical write; the loop only finishes a write the kernel split (pipes, signals).
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? static_cast<long>(done) : -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<long>(done);
}

void PosixCgiEnvironment::EnsureOpen() {
  // Standard error too: a file the request opens later must never become descriptor 2, or an
  // error log line would be written into it.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int null_fd = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (null_fd >= 0 && null_fd != fd) {
        dup2(null_fd, fd);
        close(null_fd);
      }
    }
  }
}

}  // namespace shelfra
