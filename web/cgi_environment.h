// CgiEnvironment: the seam between the CGI framework and the operating system (environment
// variables, standard input, standard output), so tests can run a request in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace shelfra {

class CgiEnvironment {
 public:
  virtual ~CgiEnvironment() = default;
  // The value of an environment variable; unset reads as empty.
  virtual std::string Variable(std::string_view name) = 0;
  // One read of up to `count` bytes of request content; the count read, -1 on failure.
  virtual long ReadContent(char* buffer, size_t count) = 0;
  // One write of all of `bytes` to the answer; the count written, -1 on failure.
  virtual long Write(std::string_view bytes) = 0;
  // Makes sure standard input, output and error are open before the request is read.
  virtual void EnsureOpen() {}
};

// The process's own environment, standard input and standard output (unbuffered).
class PosixCgiEnvironment : public CgiEnvironment {
 public:
  std::string Variable(std::string_view name) override;
  long ReadContent(char* buffer, size_t count) override;
  long Write(std::string_view bytes) override;
  // Opens /dev/null on standard input, output or error when the server left them closed.
  void EnsureOpen() override;
};

}  // namespace shelfra
