// The CGI response.
#include "web/web_response.h"

#include <algorithm>

#include "base/format.h"
#include "base/hooks.h"
#include "base/text.h"
#include "web/web_request.h"

namespace shelfra {

std::string TCookie::HeaderValue() const {
  std::string out = name + "=" + value;
  if (!domain.empty()) out += "; domain=" + domain;
  if (!path.empty()) out += "; path=" + path;
  if (secure) out += "; secure";
  return out;
}

std::string_view StatusText(int code) {
  switch (code) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-Authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Moved Temporarily";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "None Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Unless True";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "";
  }
}

TWebResponse::TWebResponse(TWebRequest& request) : request_(request) {}

std::string TWebResponse::StringVariable(int index) const {
  if (index < 0 || index > 11) return std::string();
  return fields_[index];
}

void TWebResponse::SetStringVariable(int index, std::string value) {
  if (index < 0 || index > 11) return;
  fields_[index] = std::move(value);
}

void TWebResponse::SetStatus(int code) {
  if (code == status_) return;
  status_ = code;
  fields_[kReason] = std::string(StatusText(code));
}

void TWebResponse::SetContent(std::string content) {
  content_ = std::move(content);
  if (!content_stream_) content_length_ = static_cast<long long>(content_.size());
}

void TWebResponse::SetContentStream(std::unique_ptr<TMemoryStream> stream) {
  if (stream.get() == content_stream_.get()) return;
  content_stream_ = std::move(stream);
  content_length_ = content_stream_ ? static_cast<long long>(content_stream_->data.size())
                                    : static_cast<long long>(content_.size());
}

TCGIResponse::TCGIResponse(TWebRequest& request) : TWebResponse(request) {
  if (request.VariableText(kServerProtocol).empty()) fields_[kVersion] = "1.0";
  fields_[kReason] = "OK";
  fields_[kContentType] = "text/html";
}

std::string TCGIResponse::HeaderBlock() const {
  std::string block;
  auto line = [&block](std::string_view name, const std::string& value) {
    if (value.empty()) return;
    block.append(name);
    block.append(": ");
    block.append(value);
    block.append("\r\n");
  };
  std::string status = (!fields_[kReason].empty() && status_ > 0)
                           ? Format("%d %s", {status_, fields_[kReason]})
                           : std::string("200 OK");
  line("Status", status);
  line("Location", fields_[kLocation]);
  line("Allow", fields_[kAllow]);
  for (const TCookie& cookie : cookies_) line("Set-Cookie", cookie.HeaderValue());
  line("Derived-From", fields_[kDerivedFrom]);
  line("Title", fields_[kTitle]);
  line("WWW-Authenticate", fields_[kWWWAuthenticate]);
  for (const std::string& entry : extra_headers_) {
    std::string name = entry.substr(0, entry.find('='));
    block.append(name);
    block.append(": ");
    block.append(extra_headers_.Values(name));
    block.append("\r\n");
  }
  line("Content-Version", fields_[kContentVersion]);
  line("Content-Encoding", fields_[kContentEncoding]);
  line("Content-Type", fields_[kContentType]);
  if (!content_.empty() || content_stream_) line("Content-Length", IntToStr(content_length_));
  block.append("Content:\r\n\r\n");
  return block;
}

void TCGIResponse::Send() {
  // Nothing is written yet: a hook that raises (a table changed while the page was read)
  // leaves the answer to the 500 page.
  RunBeforeSendHooks();
  if (!request_.VariableText(kServerProtocol).empty()) request_.WriteText(HeaderBlock());
  if (!content_stream_) {
    request_.WriteText(content_);
  } else {
    SendContentStream(*content_stream_);
    SetContentStream(nullptr);
  }
  sent_ = true;
}

void TCGIResponse::SendContentStream(TMemoryStream& stream) {
  while (stream.position < stream.data.size()) {
    size_t piece = std::min<size_t>(8192, stream.data.size() - stream.position);
    request_.WriteBytes(stream.data.data() + stream.position, piece);
    stream.position += piece;
  }
}

void TCGIResponse::Redirect(std::string_view url) {
  fields_[kLocation] = std::string(url);
  SetStatus(302);
  fields_[kContentType] = "text/html";
  SetContent(Format("<html><head><title>Moved</title></head><body>This page has moved to <a href=\"%s\">%s</a>."
                    "</body></html>\r\n",
                    {url, url}));
  Send();
}

}  // namespace shelfra
