// Byte-text helpers: ASCII-only case rules, the Shift_JIS lead-byte test and integer text conversion.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace shelfra {

inline bool IsAsciiAlpha(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// The value of a hexadecimal digit (0-9, A-F, a-f in either case); -1 for any other byte.
inline int HexDigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
// True for the first byte of a Shift_JIS double-byte character (0x81-0x9F, 0xE0-0xFC).
inline bool IsSjisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
// A byte that can follow a lead byte as the second byte of a double-byte character.
inline bool IsSjisTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
// True when a double-byte character starts at `pos` of `text`: a lead byte followed by a trail
// byte. A lead byte followed by anything else (a quote, the end) is a character of its own.
inline bool SjisPairAt(std::string_view text, size_t pos) {
  return pos + 1 < text.size() && IsSjisLeadByte(static_cast<unsigned char>(text[pos])) &&
         IsSjisTrailByte(static_cast<unsigned char>(text[pos + 1]));
}

// A blank: space or tab.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// `s` without the blanks at its start and end.
std::string_view TrimBlanks(std::string_view s);

// Equal ignoring ASCII case only; every other byte compares exactly.
bool SameTextAscii(std::string_view a, std::string_view b);
std::string AsciiUpperText(std::string_view s);
// Equal ignoring ASCII case outside double-byte characters: both bytes of a Shift_JIS
// double-byte character compare exactly (its trail byte may look like an ASCII letter).
bool SameTextSjis(std::string_view a, std::string_view b);

// Text to a signed 32-bit integer. Leading blanks are skipped; then an optional sign and
// decimal digits, or a hexadecimal number after "$", "x", "X", "0x" or "0X" (no sign, at most
// eight digits, taken as the 32-bit pattern). The whole text must be consumed.
// Returns nothing for an empty text, any other byte, or a decimal value out of range.
std::optional<int32_t> TryStrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t default_value);
// Raises EConvertError "'<text>' is no integer" when the text does not convert.
int32_t StrToInt(std::string_view text);

// Decimal text of an integer, "-" in front when negative.
std::string IntToStr(int64_t value);

}  // namespace shelfra
