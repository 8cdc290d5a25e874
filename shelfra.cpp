// Program entry of the UTF-8 front (shelfra.cgi): one CGI request from the environment, one
// answer on standard output, exit code 0; a failure of the catalogue is the friendly 500 page
// and one line of the error log carrying the page's reference.
#include <algorithm>
#include <charconv>
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

// The request's body, CONTENT_LENGTH bytes of standard input but at most
// kMaxRequestContent + 1 (so that a longer one shows as too long); "" when the length is no
// number. A body cut short by the server is what arrived.
std::string Content(const std::string& length_text) {
  unsigned long long length = 0;
  const auto [end, error] = std::from_chars(length_text.data(), length_text.data() + length_text.size(), length);
  if (error != std::errc() || end != length_text.data() + length_text.size()) return std::string();
  const unsigned long long most = shelfra::opac::kMaxRequestContent + 1;
  const size_t wanted = static_cast<size_t>(std::min(length, most));
  std::string content(wanted, '\0');
  size_t done = 0;
  while (done < wanted) {
    const ssize_t n = ::read(STDIN_FILENO, content.data() + done, wanted - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  content.resize(done);
  return content;
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
  if (request.method == "POST") {
    request.content_type = Environment("CONTENT_TYPE");
    request.content = Content(Environment("CONTENT_LENGTH"));
  }
  const bool head = request.method == "HEAD";
  std::optional<std::vector<std::pair<std::string, std::string>>> parameters = opac::ParseQuery(Environment("QUERY_STRING"));
  if (!parameters) {
    Write(opac::CgiText(opac::BadQuery(request), head));
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
