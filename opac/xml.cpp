// XML escaping and dates.
#include "opac/xml.h"

#include <cstdint>
#include <cstdio>

#include "base/sjis_utf8.h"

namespace shelfra::opac {

std::string XmlEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    uint32_t code = 0;
    size_t size = 1;
    if (!Utf8CodeAt(utf8, at, code, size)) {
      out += "\xEF\xBF\xBD";
      at += 1;
      continue;
    }
    switch (code) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0xFFFE || code == 0xFFFF) {
          out += "\xEF\xBF\xBD";
        } else {
          out.append(utf8.substr(at, size));
        }
    }
    at += size;
  }
  return out;
}

std::string Rfc3339(std::time_t time) {
  struct tm parts;
  gmtime_r(&time, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace shelfra::opac
