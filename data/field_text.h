// The text rules of field values: the general float format, float-to-integer rounding, and
// dates and date-times in a short date pattern.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace shelfra {

// The general format with `precision` significant digits (1 to 18): the value written with
// 18 significant digits, cut to `precision` rounding half up, trailing zeros dropped. With e
// the decimal exponent (value = 0.d1d2... * 10^e), fixed form for -3 <= e <= precision
// ("0.0001", "1234.5"), else exponent form ("1E15", "1.5E-5", "-2E20"). "0" for zero,
// "INF"/"-INF", "NAN".
std::string FloatToGeneralText(double value, int precision, std::string_view decimal_separator);

// The display text of a number field (of any of the number types) whose stored bytes are
// blanks, an optional "-" and 1 to 15 ASCII digits, into `text`: the digits without leading
// zeros ("0" for zero, also "-0"), "-" in front of a negative one - what the general format
// and the whole-number text both give that value. False, `text` untouched, for any other
// bytes (the value is then read and formatted).
bool PlainIntegerText(std::string_view stored, std::string& text);

// Rounds to the nearest whole number on 64 bits, an exact half to the even one, and keeps
// the low 32 bits (2147483648 gives -2147483648). Raises EInvalidOp when the rounded value
// does not fit in 64 bits (also for infinity and not-a-number).
int32_t RoundToInt32(double value);

// A text read as a number: blanks around it and a leading "+" are ignored and the locale's
// decimal separator stands for the point. Raises EConvertError "'<text>' is no float" when
// the text is no number.
double TextToDouble(std::string_view text);

// The date of `day_number` (DayNumber) in `pattern`: letters ignore case; "yyyy" (three or more y) the four-digit year,
// "yy" (or "y") its last two digits; "mm" the two-digit month, "m" without a leading zero
// (three or more m as "mm"); "dd"/"d" likewise the day; "/" the date separator; text in single
// or double quotes as it stands, without the quotes; any other character as it stands.
std::string DateToText(int32_t day_number, std::string_view pattern, std::string_view date_separator);

// A date-time: DateToText of the day, one blank, then the time as "h:nn:ss" (the hour without a
// leading zero, minutes and seconds with two digits; milliseconds are not shown, not rounded):
// "2026/12/09 0:05:07". Requires: 0 <= milliseconds < 86400000.
std::string DateTimeToText(int32_t day_number, int32_t milliseconds, std::string_view pattern,
                           std::string_view date_separator);

}  // namespace shelfra
