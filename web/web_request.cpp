// The CGI request.
#include "web/web_request.h"

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "web/cgi_environment.h"
#include "web/http_fields.h"

namespace shelfra {

namespace {

// Environment variable of each request variable, in RequestVariable order; kContent has none.
constexpr std::string_view kVariableNames[kRequestVariableCount] = {
    "REQUEST_METHOD",       "SERVER_PROTOCOL",   "URL",
    "QUERY_STRING",         "PATH_INFO",         "PATH_TRANSLATED",
    "HTTP_CACHE_CONTROL",   "HTTP_DATE",         "HTTP_ACCEPT",
    "HTTP_FROM",            "HTTP_HOST",         "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",         "HTTP_USER_AGENT",   "HTTP_CONTENT_ENCODING",
    "HTTP_CONTENT_TYPE",    "HTTP_CONTENT_LENGTH", "HTTP_CONTENT_VERSION",
    "HTTP_DERIVED_FROM",    "HTTP_EXPIRES",      "HTTP_TITLE",
    "REMOTE_ADDR",          "REMOTE_HOST",       "SCRIPT_NAME",
    "SERVER_PORT",          "",                  "HTTP_CONNECTION",
    "HTTP_COOKIE",          "HTTP_AUTHORIZATION",
};

}  // namespace

int32_t TWebRequest::VariableInteger(int index) { return StrToIntDef(VariableText(index), -1); }

double TWebRequest::VariableDate(int index) {
  (void)VariableText(index);
  return -1;
}

const TStrings& TWebRequest::QueryValues() {
  if (!query_values_) {
    TStrings list;
    SplitFields("&", "", VariableText(kQueryString), list, true, false);
    query_values_ = std::move(list);
  }
  return *query_values_;
}

TCGIRequest::TCGIRequest(CgiEnvironment& environment) : environment_(environment) {
  static constexpr std::string_view kMethods[] = {"GET", "PUT", "POST", "HEAD"};
  static constexpr TMethodType kTypes[] = {mtGet, mtPut, mtPost, mtHead};
  std::string method = VariableText(kRequestMethod);
  for (size_t i = 0; i < 4; ++i) {
    if (SameTextAscii(method, kMethods[i])) {
      method_type_ = kTypes[i];
      break;
    }
  }
  content_ = ReadText(VariableInteger(kHttpContentLength));
}

std::string TCGIRequest::ServerField(std::string_view name) {
  std::string value = environment_.Variable(name);
  if (value.empty() && name.substr(0, 5) == "HTTP_") value = environment_.Variable(name.substr(5));
  return value;
}

std::string TCGIRequest::VariableText(int index) {
  if (index == kContent) return content_;
  if (index < 0 || index >= kRequestVariableCount) return std::string();
  return ServerField(kVariableNames[index]);
}

long TCGIRequest::ReadBytes(char* buffer, size_t count) { return environment_.ReadContent(buffer, count); }

std::string TCGIRequest::ReadText(int count) {
  if (count <= 0) return std::string();
  std::vector<char> buffer(std::min(static_cast<size_t>(count), kMaxContentRead));
  long n = ReadBytes(buffer.data(), buffer.size());
  if (n <= 0) return std::string();
  return std::string(buffer.data(), static_cast<size_t>(n));
}

long TCGIRequest::WriteBytes(const char* buffer, size_t count) {
  return environment_.Write(std::string_view(buffer, count));
}

bool TCGIRequest::WriteText(std::string_view text) {
  if (text.empty()) return false;
  return environment_.Write(text) == static_cast<long>(text.size());
}

}  // namespace shelfra
