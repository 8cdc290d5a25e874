// Text for the UTF-8 front's XML answers (the feeds and the OpenSearch description).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace shelfra::opac {

// `utf8` safe as XML 1.0 element text and as a quoted attribute value: "&", "<", ">", '"' and
// "'" as references, CR as "&#13;" (which a parser keeps, where it would turn a bare CR into
// LF), and the control characters but tab, LF and CR (DEL too) and the characters XML 1.0
// does not allow (U+FFFE, U+FFFF) as U+FFFD, so a damaged value still gives a well-formed document.
std::string XmlEscape(std::string_view utf8);

// `time` as an RFC 3339 date-time in UTC: "2026-12-01T03:04:05Z".
std::string Rfc3339(std::time_t time);

}  // namespace shelfra::opac
