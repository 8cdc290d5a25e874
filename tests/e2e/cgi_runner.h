// Runs the built program as a web server would: a given environment (nothing inherited),
// request content on standard input, the answer captured from standard output.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace shelfra::testing {

struct CgiResult {
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error
  int exit_code = -1;  // -1 when the process did not exit normally
  int signal = 0;      // the signal that ended it, if any
};

// Path of build/vovivavi.exe, from SHELFRA_BINARY_DIR.
std::string ProgramPath();
// Path of another program of the build tree (an operator's command), from SHELFRA_BINARY_DIR.
std::string BuiltProgramPath(std::string_view name);
// Runs `program` with `arguments` after its name, exactly `environment` and `input` on
// standard input. With SHELFRA_E2E_FASTCGI set, a web program run without arguments answers
// through a FastCGI responder of its own instead (started on first use, ended at exit). The process is killed after `timeout_seconds` (then exit_code is -1 and
// signal SIGKILL).
CgiResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment, std::string_view input = {},
                     int timeout_seconds = 60);
// A FastCGI responder of a program, started with "--fastcgi" on a Unix socket of its own, with
// nothing in its environment and its standard error (the error log) in a file beside the socket.
struct FastCgiResponder {
  int pid = -1;
  std::string socket;
  std::string log;
};
// Starts `program --fastcgi SOCKET` with `arguments` after it; returns once the socket is there
// (or after 5 s).
FastCgiResponder StartFastCgiResponder(const std::string& program, const std::vector<std::string>& arguments = {});
// SIGTERM when it still runs (not waited for when it ended already and was reaped), then
// removes its socket and log.
void StopFastCgiResponder(FastCgiResponder& responder);

// Path of build/shelfra-index, the operator's index command.
std::string IndexProgramPath();
// Runs the CGI program (ProgramPath) as RunProgram does, without arguments.
CgiResult RunCgi(const std::map<std::string, std::string>& environment, std::string_view input = {},
                 int timeout_seconds = 60);

}  // namespace shelfra::testing
