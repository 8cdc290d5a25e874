// XML escaping and dates.
#include "opac/xml.h"

#include <cstdio>

namespace shelfra::opac {

std::string XmlEscape(std::string_view utf8) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size(); ++at) {
    const char c = utf8[at];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\r': out += "&#13;"; break;
      case '\t': case '\n': out.push_back(c); break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += kReplacement;
        } else if (utf8.substr(at, 3) == "\xEF\xBF\xBE" || utf8.substr(at, 3) == "\xEF\xBF\xBF") {
          out += kReplacement;  // U+FFFE, U+FFFF
          at += 2;
        } else {
          out.push_back(c);
        }
    }
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
