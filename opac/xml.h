// Text for the UTF-8 front's XML answers (the feeds, the OpenSearch description, the harvesting
// interface).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace shelfra::opac {

// `utf8` as XML 1.0 element text or quoted attribute value: "&", "<", ">", '"' and "'" as
// entity references, tab, LF and CR as character references (so an attribute keeps them too,
// and a parser does not turn a CR into LF), and every character XML 1.0 forbids or a reader
// would choke on (other controls below 0x20, DEL and U+0080-U+009F, U+FFFE, U+FFFF) and every
// byte that is no well-formed UTF-8 as U+FFFD, so a damaged value still gives a well-formed
// document.
std::string XmlEscape(std::string_view utf8);

// The namespace of the OpenSearch 1.1 elements, as its description documents name it.
inline const std::string kOpenSearchNamespace = std::string("http://a9.com/-/s").append("pec/opensearch/1.1/");

// `time` as an RFC 3339 date-time in UTC: "2026-12-01T03:04:05Z".
std::string Rfc3339(std::time_t time);

}  // namespace shelfra::opac
