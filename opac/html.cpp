// HTML escaping and the Shift_JIS to UTF-8 display conversion.
#include "opac/html.h"

#include <cstdio>

#include "base/sjis_utf8.h"

namespace shelfra::opac {

std::string HtmlEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\t': case '\n': case '\r': out.push_back(c); break;
      default:
        // Other control characters are no text in HTML: a damaged value shows as damaged.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += "\xEF\xBF\xBD";
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

std::string FromSjis(std::string_view sjis) {
  std::string utf8;
  if (SjisToUtf8(sjis, utf8)) return utf8;
  utf8.clear();
  for (size_t at = 0; at < sjis.size();) {
    size_t size = 1;
    uint16_t code = SjisCodeAt(sjis, at, size);
    if (code == 0) code = 0xFFFD;  // size stays 1
    char bytes[3];
    utf8.append(bytes, PutUtf8(code, bytes));
    at += size;
  }
  return utf8;
}

std::string Shown(std::string_view sjis) { return HtmlEscape(FromSjis(sjis)); }

std::string NamedCharacter(uint32_t code) {
  std::string utf8;
  if (code >= 0x10000) {
    utf8.push_back(static_cast<char>(0xF0 | (code >> 18)));
    utf8.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code != 0) {
    char bytes[3];
    utf8.append(bytes, PutUtf8(static_cast<uint16_t>(code), bytes));
  }
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code));
  return HtmlEscape(utf8) + " (" + name + ")";
}

}  // namespace shelfra::opac
