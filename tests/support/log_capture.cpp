// The error log caught in a pipe.
#include "tests/support/log_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "base/error_log.h"

namespace shelfra::testing {

LogCapture::LogCapture() {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  read_fd_ = fds[0];
  write_fd_ = fds[1];
  fcntl(read_fd_, F_SETFL, O_NONBLOCK);
  SetLogFdForTesting(write_fd_);
}

LogCapture::~LogCapture() {
  SetLogFdForTesting(-1);
  close(read_fd_);
  close(write_fd_);
}

std::string LogCapture::Take() {
  std::string out;
  char buf[8192];
  for (;;) {
    ssize_t n = read(read_fd_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace shelfra::testing
