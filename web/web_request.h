// TWebRequest and TCGIRequest: the request of one CGI process - method, the numbered request
// variables, the content read from standard input and the query fields.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/strings.h"

namespace shelfra {

class CgiEnvironment;

enum TMethodType { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4 };

// The numbered request variables, named after the environment variable each one reads
// (an HTTP_ name falls back to the name without that prefix); kContent is the request content.
enum RequestVariable : int {
  kRequestMethod = 0,
  kServerProtocol = 1,
  kUrl = 2,
  kQueryString = 3,
  kPathInfo = 4,
  kPathTranslated = 5,
  kHttpCacheControl = 6,
  kHttpDate = 7,
  kHttpAccept = 8,
  kHttpFrom = 9,
  kHttpHost = 10,
  kHttpIfModifiedSince = 11,
  kHttpReferer = 12,
  kHttpUserAgent = 13,
  kHttpContentEncoding = 14,
  kHttpContentType = 15,
  kHttpContentLength = 16,
  kHttpContentVersion = 17,
  kHttpDerivedFrom = 18,
  kHttpExpires = 19,
  kHttpTitle = 20,
  kRemoteAddr = 21,
  kRemoteHost = 22,
  kScriptName = 23,
  kServerPort = 24,
  kContent = 25,
  kHttpConnection = 26,
  kHttpCookie = 27,
  kHttpAuthorization = 28,
};

// Number of request variables; valid indexes are 0 to 28.
inline constexpr int kRequestVariableCount = kHttpAuthorization + 1;

class TWebRequest {
 public:
  virtual ~TWebRequest() = default;

  TMethodType MethodType() const { return method_type_; }
  // The text of request variable `index` (a RequestVariable); the content for kContent, empty
  // for an index outside 0 to 28.
  virtual std::string VariableText(int index) = 0;
  // The variable as an integer; -1 when it is empty or no integer.
  int32_t VariableInteger(int index);
  // -1 for an empty text; no caller reads a date.
  double VariableDate(int index);
  // The query fields, split from QUERY_STRING on first use and kept for the request's life.
  // Raises EConvertError on a malformed escape (on that first use).
  const TStrings& QueryValues();
  const std::string& ContentText() const { return content_; }

  virtual long ReadBytes(char* buffer, size_t count) = 0;
  virtual std::string ReadText(int count) = 0;
  virtual long WriteBytes(const char* buffer, size_t count) = 0;
  // Writes all of `text` at once; false for an empty text or a short or failed write.
  virtual bool WriteText(std::string_view text) = 0;

 protected:
  TMethodType method_type_ = mtAny;
  std::string content_;

 private:
  std::optional<TStrings> query_values_;
};

// The request built from the CGI environment.
class TCGIRequest : public TWebRequest {
 public:
  // Reads the method and the request content (at most kMaxContentRead bytes in one read).
  // Requires: `environment` outlives the request. Not owned.
  explicit TCGIRequest(CgiEnvironment& environment);

  // Upper bound of the one content read: nothing in this system reads the content, so a
  // request that announces gigabytes must not make the process allocate them.
  static constexpr size_t kMaxContentRead = 1 << 20;

  // The environment variable `name`; when empty and `name` starts with "HTTP_", the variable
  // named by the rest after those five bytes. Values of any length are returned whole.
  std::string ServerField(std::string_view name);
  std::string VariableText(int index) override;
  long ReadBytes(char* buffer, size_t count) override;
  std::string ReadText(int count) override;
  long WriteBytes(const char* buffer, size_t count) override;
  bool WriteText(std::string_view text) override;

 private:
  CgiEnvironment& environment_;  // not owned
};

}  // namespace shelfra
