// Strict query decoding.
#include "opac/request.h"

#include "base/sjis_utf8.h"

namespace shelfra::opac {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Decode(std::string_view piece) {
  std::string out;
  out.reserve(piece.size());
  for (size_t at = 0; at < piece.size(); ++at) {
    const char c = piece[at];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else {
      if (piece.size() - at < 3) return std::nullopt;
      const int high = HexDigit(piece[at + 1]);
      const int low = HexDigit(piece[at + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out.push_back(static_cast<char>(high * 16 + low));
      at += 2;
    }
  }
  for (size_t at = 0; at < out.size();) {
    uint32_t code = 0;
    size_t size = 0;
    if (!Utf8CodeAt(out, at, code, size)) return std::nullopt;
    at += size;
  }
  return out;
}

}  // namespace

std::string Request::Value(std::string_view name) const {
  for (const auto& [key, value] : parameters) {
    if (key == name) return value;
  }
  return std::string();
}

std::optional<std::vector<std::pair<std::string, std::string>>> ParseQuery(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> parameters;
  while (!query.empty()) {
    const size_t end = query.find('&');
    const std::string_view piece = query.substr(0, end);
    query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
    if (piece.empty()) continue;
    const size_t equals = piece.find('=');
    std::optional<std::string> name = Decode(piece.substr(0, equals));
    std::optional<std::string> value =
        Decode(equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1));
    if (!name || !value) return std::nullopt;
    parameters.emplace_back(std::move(*name), std::move(*value));
  }
  return parameters;
}

std::string Origin(std::string_view https, std::string_view server_name, std::string_view server_port) {
  const bool secure = https == "on" || https == "1";
  auto host_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
  };
  bool host = !server_name.empty() && server_name.size() <= 253;
  if (host && server_name.front() == '[') {  // an IPv6 address
    host = server_name.size() > 2 && server_name.back() == ']';
    for (char c : server_name.substr(1, server_name.size() - 2)) {
      host = host && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.');
    }
  } else {
    for (char c : server_name) host = host && host_char(c);
  }
  bool port = !server_port.empty() && server_port.size() <= 5;
  for (char c : server_port) port = port && c >= '0' && c <= '9';
  std::string origin = secure ? "https://" : "http://";
  if (!host) return origin + "localhost";
  origin += server_name;
  if (port && server_port != (secure ? "443" : "80")) origin.append(":").append(server_port);
  return origin;
}

std::string QueryEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
        b == '_' || b == '~') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    }
  }
  return out;
}

}  // namespace shelfra::opac
