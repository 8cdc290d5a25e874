// What the UTF-8 front answers a request with, before it is written as CGI output.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace shelfra::opac {

struct Answer {
  int status = 200;
  std::string content_type = "text/html; charset=UTF-8";
  std::vector<std::pair<std::string, std::string>> headers;  // besides the type and the security headers
  std::string body;
};

}  // namespace shelfra::opac
