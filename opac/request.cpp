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
