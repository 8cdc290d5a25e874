// The UTF-8 front's request: method, path after the script name and the query's parameters,
// read strictly, so that a malformed address is answered 400 instead of being guessed at.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace shelfra::opac {

// The longest request body the front reads (a form of the harvesting interface); a request
// whose body is longer is refused.
inline constexpr size_t kMaxRequestContent = 64 * 1024;

struct Request {
  std::string method;       // REQUEST_METHOD as sent
  std::string script_name;  // SCRIPT_NAME: the base of every address the pages write
  std::string path;         // PATH_INFO, "" when absent
  std::vector<std::pair<std::string, std::string>> parameters;  // decoded, in order
  std::string if_none_match;      // the request's If-None-Match, "" when absent
  std::string if_modified_since;  // the request's If-Modified-Since, "" when absent
  std::string origin;  // "http://host[:port]" that absolute addresses start with (see Origin)
  std::string content_type;  // CONTENT_TYPE, "" when absent
  std::string content;       // a POST's body: at most kMaxRequestContent + 1 bytes of it

  // The value of the first parameter named `name` (case counts); "" when there is none.
  std::string Value(std::string_view name) const;
};

// The parameters of the query string `query` ("a=1&b=x+y"): "+" is a blank, "%XX" a byte;
// empty pieces between "&" are skipped and a piece without "=" has the empty value. Nothing when
// an escape is not "%" and two hex digits, or when a name or value is no well-formed UTF-8.
std::optional<std::vector<std::pair<std::string, std::string>>> ParseQuery(std::string_view query);

// The scheme, host and port of the server's absolute addresses from the CGI variables HTTPS
// ("on" or "1": https), SERVER_NAME and SERVER_PORT (left out when it is the scheme's own):
// "https://opac.example.org", "http://127.0.0.1:8080". A name that is not a host name (letters,
// digits, "-" and "." only, or an IPv6 address in brackets) gives "http://localhost", so no
// request can write markup or another site into an address.
std::string Origin(std::string_view https, std::string_view server_name, std::string_view server_port);

// `text` percent-escaped for a query value: ASCII letters, digits and "-._~" stay, every other
// byte becomes "%XX" (a blank too, as "%20").
std::string QueryEscape(std::string_view text);

}  // namespace shelfra::opac
