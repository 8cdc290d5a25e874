// Program entry of the UTF-8 front (shelfra.cgi): one CGI request, or many as a FastCGI
// responder (web/request_server.h), each answered alike; a failure of the catalogue is the
// friendly 500 page and one line of the error log carrying the page's reference.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

#include "base/error_log.h"
#include "base/exceptions.h"
#include "base/request_context.h"
#include "opac/front.h"
#include "opac/request.h"
#include "web/request_server.h"

namespace {

using shelfra::CgiEnvironment;

// The request's body, CONTENT_LENGTH bytes of standard input but at most
// kMaxRequestContent + 1 (so that a longer one shows as too long); "" when the length is no
// number. A body cut short by the server is what arrived.
std::string Content(CgiEnvironment& cgi, const std::string& length_text) {
  unsigned long long length = 0;
  const auto [end, error] = std::from_chars(length_text.data(), length_text.data() + length_text.size(), length);
  if (error != std::errc() || end != length_text.data() + length_text.size()) return std::string();
  const unsigned long long most = shelfra::opac::kMaxRequestContent + 1;
  const size_t wanted = static_cast<size_t>(std::min(length, most));
  std::string content(wanted, '\0');
  size_t done = 0;
  while (done < wanted) {
    const long n = cgi.ReadContent(content.data() + done, wanted - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  content.resize(done);
  return content;
}

// A reference the visitor can quote and the operator can find: the time and the process, and
// after a process's first request its number.
std::string Reference() {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%lx-%x", static_cast<long>(std::time(nullptr)),
                              static_cast<unsigned>(::getpid()));
  const unsigned long long number = shelfra::RequestNumber();
  if (number > 1 && n > 0) std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "-%llu", number);
  return text;
}

void Serve(CgiEnvironment& cgi) {
  using namespace shelfra;
  const auto Environment = [&cgi](std::string_view name) { return cgi.Variable(name); };
  // A server that went away fails the write: nothing more to say.
  const auto Write = [&cgi](const std::string& text) { (void)cgi.Write(text); };
  opac::Request request;
  request.method = Environment("REQUEST_METHOD");
  request.script_name = Environment("SCRIPT_NAME");
  request.path = Environment("PATH_INFO");
  request.if_none_match = Environment("HTTP_IF_NONE_MATCH");
  request.if_modified_since = Environment("HTTP_IF_MODIFIED_SINCE");
  request.origin = opac::Origin(Environment("HTTPS"), Environment("SERVER_NAME"), Environment("SERVER_PORT"));
  if (request.method == "POST") {
    request.content_type = Environment("CONTENT_TYPE");
    request.content = Content(cgi, Environment("CONTENT_LENGTH"));
  }
  const bool head = request.method == "HEAD";
  std::optional<std::vector<std::pair<std::string, std::string>>> parameters = opac::ParseQuery(Environment("QUERY_STRING"));
  if (!parameters) {
    Write(opac::CgiText(opac::BadQuery(request), head));
    return;
  }
  request.parameters = std::move(*parameters);
  std::string failure;
  try {
    Write(opac::CgiText(opac::Serve(request), head));
    return;
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
}

}  // namespace

int main(int argc, char** argv) {
  return shelfra::ServeRequests(shelfra::ReadServeOptions(argc, argv), "shelfra.cgi", Serve);
}
