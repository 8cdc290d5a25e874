// Text for the UTF-8 pages: HTML escaping and the catalogue's Shift_JIS shown as UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace shelfra::opac {

// `utf8` with "&", "<", ">", '"' and "'" written as character references: safe as element text
// and as a quoted attribute value. Control characters but tab, LF and CR become U+FFFD.
std::string HtmlEscape(std::string_view utf8);

// The UTF-8 form of the catalogue's Shift_JIS `sjis`, through base's strict conversion; a byte
// that starts no Shift_JIS character becomes U+FFFD, so a damaged value still shows as text.
std::string FromSjis(std::string_view sjis);

// FromSjis, then HtmlEscape: how every catalogue and settings value reaches a page.
std::string Shown(std::string_view sjis);

// The character `code` as UTF-8, with its "U+XXXX" name after it in brackets, escaped for a
// page: how a character that cannot be searched is named.
std::string NamedCharacter(uint32_t code);

}  // namespace shelfra::opac
