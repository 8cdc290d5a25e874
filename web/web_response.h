// TWebResponse and TCGIResponse: status, header values and content of the answer, and the
// CGI header block written before the content.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/strings.h"

namespace shelfra {

class TWebRequest;

// An in-memory content stream: bytes and a read position.
struct TMemoryStream {
  std::string data;
  size_t position = 0;
};

// One cookie of the response.
struct TCookie {
  std::string name;
  std::string value;
  std::string domain;
  std::string path;
  bool secure = false;
  // "name=value; domain=...; path=...; secure", leaving out the empty parts.
  std::string HeaderValue() const;
};

// The reason phrase of an HTTP status code; empty for a code without one.
std::string_view StatusText(int code);

// Indexes of the response's text fields.
enum TResponseField {
  kVersion = 0, kReason = 1, kWWWAuthenticate = 3, kAllow = 5, kLocation = 6, kContentEncoding = 7,
  kContentType = 8, kContentVersion = 9, kDerivedFrom = 10, kTitle = 11,
};

class TWebResponse {
 public:
  // Requires: `request` outlives the response. Not owned.
  explicit TWebResponse(TWebRequest& request);
  virtual ~TWebResponse() = default;

  TWebRequest& Request() const { return request_; }
  // Text field 0 to 11; other indexes are ignored on set and read as empty.
  std::string StringVariable(int index) const;
  void SetStringVariable(int index, std::string value);

  int Status() const { return status_; }
  // A new code also sets Reason to StatusText(code).
  void SetStatus(int code);
  const std::string& Content() const { return content_; }
  // Also sets ContentLength to the text's byte count unless a content stream is set.
  void SetContent(std::string content);
  long long ContentLength() const { return content_length_; }
  void SetContentLength(long long length) { content_length_ = length; }
  TMemoryStream* ContentStream() const { return content_stream_.get(); }
  void SetContentStream(std::unique_ptr<TMemoryStream> stream);
  TStrings& ExtraHeaders() { return extra_headers_; }
  std::vector<TCookie>& Cookies() { return cookies_; }
  const std::string& ContentType() const { return fields_[kContentType]; }
  void SetContentType(std::string type) { fields_[kContentType] = std::move(type); }

  virtual void Send() = 0;
  bool IsSent() const { return sent_; }
  virtual void Redirect(std::string_view url) = 0;

 protected:
  TWebRequest& request_;  // not owned
  int status_ = 200;
  std::string fields_[12];
  long long content_length_ = 0;
  std::string content_;
  std::unique_ptr<TMemoryStream> content_stream_;
  TStrings extra_headers_;
  std::vector<TCookie> cookies_;
  bool sent_ = false;
};

class TCGIResponse : public TWebResponse {
 public:
  explicit TCGIResponse(TWebRequest& request);

  // Writes the header block (only when the request carries a protocol version), then the
  // content, as two writes. The block ends with "Content:\r\n\r\n". Write failures are ignored;
  // the response counts as sent afterwards.
  void Send() override;
  void Redirect(std::string_view url) override;
  // Copies the stream from its position to its end in pieces of at most 8192 bytes.
  void SendContentStream(TMemoryStream& stream);

 private:
  std::string HeaderBlock() const;
};

}  // namespace shelfra
