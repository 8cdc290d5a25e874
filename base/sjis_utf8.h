// Shift_JIS (cp932) to UTF-8 and back through the build-time tables generated from Python's cp932
// codec: the error log's lines, the UTF-8 spelling of a table's file name, and the pages and
// search words of the UTF-8 front.
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

// The code point of the UTF-8 character that starts at text[at], with its size in bytes (1 to 4)
// in `size`; false, `size` untouched, when the bytes there are no well-formed UTF-8 (a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate, above U+10FFFF).
// Requires: at < text.size().
bool Utf8CodeAt(std::string_view text, size_t at, uint32_t& code, size_t& size);

enum class Utf8ToSjisResult {
  kOk,
  kInvalidUtf8,  // `utf8` is no well-formed UTF-8 (see Utf8CodeAt)
  kNoSjisForm,   // a character has no Shift_JIS form
};
// The Shift_JIS form of the UTF-8 text `utf8` in `sjis`, every character as the cp932 encoder
// writes it; nothing is replaced or dropped. On kNoSjisForm, `missing` is the first character
// without one; on anything but kOk, `sjis` is unspecified. A NUL is refused as kNoSjisForm, as
// SjisCodeAt refuses it.
Utf8ToSjisResult Utf8ToSjis(std::string_view utf8, std::string& sjis, uint32_t& missing);

}  // namespace shelfra
