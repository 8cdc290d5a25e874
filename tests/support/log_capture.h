// Test helper: catches the error log's lines in a pipe instead of standard error.
#pragma once

#include <string>

namespace shelfra::testing {

// While it lives, LogLine writes into a pipe this object reads. Not copyable.
class LogCapture {
 public:
  LogCapture();   // aborts when no pipe can be made
  ~LogCapture();  // standard error again
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // All bytes written since the last call (lines are short; the pipe never fills).
  std::string Take();

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
};

}  // namespace shelfra::testing
