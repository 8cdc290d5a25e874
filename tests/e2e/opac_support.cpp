// Running shelfra.cgi in the whole-program tests.
#include "tests/e2e/opac_support.h"

namespace shelfra::testing {

std::string Utf8Escape(const std::string& utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) out.append("%").append(1, hex[c >> 4]).append(1, hex[c & 15]);
  return out;
}

CgiResult RunShelfra(const CatalogueFixture& catalogue, std::string_view method, std::string_view path,
                     std::string_view query, const std::map<std::string, std::string>& headers) {
  std::map<std::string, std::string> environment = catalogue.Request(path, query, method);
  environment["SCRIPT_NAME"] = "/cgi-bin/shelfra.cgi";
  environment.insert(headers.begin(), headers.end());
  return RunProgram(BuiltProgramPath("shelfra.cgi"), {}, environment);
}

std::string Body(const CgiResult& r) {
  const size_t end = r.output.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : r.output.substr(end + 4);
}

std::vector<std::string> Numbers(const std::string& page, const std::string& before) {
  // (Read by hand: g++ 12's sanitizer build warns falsely inside std::regex.)
  std::vector<std::string> numbers;
  for (size_t at = page.find(before); at != std::string::npos; at = page.find(before, at + 1)) {
    size_t end = at + before.size();
    while (end < page.size() && page[end] >= '0' && page[end] <= '9') ++end;
    if (end > at + before.size() && end < page.size() && (page[end] == '"' || page[end] == '?')) {
      numbers.push_back(page.substr(at + before.size(), end - at - before.size()));
    }
  }
  return numbers;
}

}  // namespace shelfra::testing
