// Program entry of the UTF-8 front (shelfra.cgi): one CGI request from the environment, one
// answer on standard output, exit code 0; a failure of the catalogue is the friendly 500 page
// and one line of the error log carrying the page's reference.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

#include "base/error_log.h"
#include "base/exceptions.h"
#include "opac/front.h"
#include "opac/request.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void Write(const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;  // the server went away: nothing more to say
    done += static_cast<size_t>(n);
  }
}

// A reference the visitor can quote and the operator can find: the time and the process.
std::string Reference() {
  char text[32];
  std::snprintf(text, sizeof text, "%lx-%x", static_cast<long>(std::time(nullptr)), static_cast<unsigned>(::getpid()));
  return text;
}

}  // namespace

int main() {
  using namespace shelfra;
  opac::Request request;
  request.method = Environment("REQUEST_METHOD");
  request.script_name = Environment("SCRIPT_NAME");
  request.path = Environment("PATH_INFO");
  request.if_none_match = Environment("HTTP_IF_NONE_MATCH");
  request.if_modified_since = Environment("HTTP_IF_MODIFIED_SINCE");
  request.origin = opac::Origin(Environment("HTTPS"), Environment("SERVER_NAME"), Environment("SERVER_PORT"));
  const bool head = request.method == "HEAD";
  std::optional<std::vector<std::pair<std::string, std::string>>> parameters = opac::ParseQuery(Environment("QUERY_STRING"));
  if (!parameters) {
    Write(opac::CgiText(opac::BadRequest(request.script_name, request.path), head));
    return 0;
  }
  request.parameters = std::move(*parameters);
  std::string failure;
  try {
    Write(opac::CgiText(opac::Serve(request), head));
    return 0;
  } catch (const Exception& e) {
    failure = std::string(e.ClassName()) + ": " + e.Message();
  } catch (const std::bad_alloc&) {
    failure = "EOutOfMemory: Out of memory";
  } catch (const std::exception& e) {
    failure = std::string("Exception: ") + e.what();
  }
  const std::string reference = Reference();
  Write(opac::CgiText(opac::ServerError(request.script_name, request.path, reference), head));
  LogLine("shelfra.cgi: 500 [" + reference + "] " + failure);
  return 0;
}
