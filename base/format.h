// Format: the small printf-like formatter every message and page number goes through.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace shelfra {

// One argument of Format: a text or an integer.
class FormatArg {
 public:
  FormatArg(std::string_view s) : is_text_(true), text_(s) {}  // NOLINT: implicit by design
  FormatArg(const std::string& s) : is_text_(true), text_(s) {}  // NOLINT
  FormatArg(const char* s) : is_text_(true), text_(s) {}  // NOLINT
  FormatArg(int v) : is_text_(false), number_(v) {}  // NOLINT
  FormatArg(long v) : is_text_(false), number_(v) {}  // NOLINT
  FormatArg(long long v) : is_text_(false), number_(v) {}  // NOLINT
  FormatArg(unsigned v) : is_text_(false), number_(v) {}  // NOLINT

  bool IsText() const { return is_text_; }
  std::string_view Text() const { return text_; }
  int64_t Number() const { return number_; }

 private:
  bool is_text_;
  std::string_view text_;
  int64_t number_ = 0;
};

// The largest digit count "%.nd" pads to; a larger n gives no padding.
inline constexpr int kMaxFormatPrecision = 16;

// Expands `format`:
//   "%s"  the next argument, a text;
//   "%d"  the next argument, an integer in decimal;
//   "%x"  the next argument, an integer in upper-case hexadecimal (its 32-bit pattern);
//   "%.nd", "%.nx"  at least n digits, zero-padded after any minus sign, for n from 0 to
//                   kMaxFormatPrecision; a larger n gives no padding;
//   "%N:" before the type takes argument N (from 0) instead of the next one;
//   "%%"  one "%".
// Raises EConvertError "format '<format>' is invalid or does not match its arguments" for an
// unknown directive, a missing argument or a text/integer mismatch.
std::string Format(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace shelfra
