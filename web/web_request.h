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

// Number of request variables; valid indexes are 0 to 28 (25 is the content).
inline constexpr int kRequestVariableCount = 29;
inline constexpr int kContentVariable = 25;

class TWebRequest {
 public:
  virtual ~TWebRequest() = default;

  TMethodType MethodType() const { return method_type_; }
  // The text of request variable `index` (0 to 28); the content for 25.
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
