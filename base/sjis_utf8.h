// Shift_JIS (cp932) to UTF-8 through the build-time table generated from Python's cp932 codec:
// the error log's lines and the UTF-8 spelling of a table's file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace shelfra {

// The code point of the Shift_JIS character that starts at text[at], with its size in bytes (1
// or 2) in `size`; 0 when none starts there: a NUL, a byte that is no character on its own
// (0x80, 0xA0, 0xFD-0xFF, a lead byte without a trail byte that pairs with it) or a pair the
// table lacks. ASCII and the half-width katakana 0xA1-0xDF are single bytes. Allocates nothing.
// Requires: at < text.size().
uint16_t SjisCodeAt(std::string_view text, size_t at, size_t& size);

// Writes the UTF-8 form of `code` (1 to 3 bytes) at `out`; returns its size. Allocates nothing.
size_t PutUtf8(uint16_t code, char* out);

// The UTF-8 spelling of the Shift_JIS text `sjis` in `utf8`; false, and `utf8` unspecified, when
// a byte of it starts no character (see SjisCodeAt).
bool SjisToUtf8(std::string_view sjis, std::string& utf8);

}  // namespace shelfra
