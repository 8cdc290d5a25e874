// Float, integer, date and date-time text of field values.
#include "data/field_text.h"

#include <charconv>
#include <cmath>

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "base_res.h"
#include "engine/host_config.h"
#include "engine/value.h"
#include "data_res.h"

namespace shelfra {

std::string FloatToGeneralText(double value, int precision, std::string_view decimal_separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  // A whole number below 10^15 has at most 15 digits, all of them exact in the 18-digit form
  // below, with nothing to round and the point past its last digit: that form gives its plain
  // digits, and so do these steps, without the conversion (registration numbers in a list).
  if (precision >= 15 && std::fabs(value) < 1e15 && value == std::trunc(value)) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<int64_t>(value)).ptr;
    return std::string(digits, static_cast<size_t>(end - digits));
  }
  std::string out;
  if (value < 0) {
    out = "-";
    value = -value;
  }
  if (precision < 1) precision = 1;
  if (precision > 18) precision = 18;

  // 18 significant digits, correctly rounded from the exact binary value: "d.ddd...de+XX".
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::scientific, 17);
  std::string_view sci(buf, static_cast<size_t>(result.ptr - buf));
  size_t e_pos = sci.find('e');
  char digits[19];
  digits[0] = sci[0];
  for (int i = 1; i < 18; ++i) digits[i] = sci[static_cast<size_t>(i) + 1];
  int exponent = 0;
  std::string_view exp_text = sci.substr(e_pos + 1);
  if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  int e = exponent + 1;  // value = 0.d1d2... * 10^e

  // Cut to `precision` digits, looking at the next digit only.
  int count = precision;
  if (count < 18 && digits[count] >= '5') {
    int i = count - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i < 0) {
      digits[0] = '1';
      for (int j = 1; j < count; ++j) digits[j] = '0';
      ++e;
    } else {
      ++digits[i];
    }
  }
  while (count > 1 && digits[count - 1] == '0') --count;
  std::string_view d(digits, static_cast<size_t>(count));

  if (e >= -3 && e <= precision) {
    if (e <= 0) {
      out += "0";
      out += decimal_separator;
      out.append(static_cast<size_t>(-e), '0');
      out += d;
    } else if (static_cast<size_t>(e) >= d.size()) {
      out += d;
      out.append(static_cast<size_t>(e) - d.size(), '0');
    } else {
      out += d.substr(0, static_cast<size_t>(e));
      out += decimal_separator;
      out += d.substr(static_cast<size_t>(e));
    }
    return out;
  }
  out += d.front();
  if (d.size() > 1) {
    out += decimal_separator;
    out += d.substr(1);
  }
  out += "E";
  out += IntToStr(e - 1);
  return out;
}

bool PlainIntegerText(std::string_view stored, std::string& text) {
  size_t i = 0;
  while (i < stored.size() && stored[i] == ' ') ++i;
  const bool negative = i < stored.size() && stored[i] == '-';
  if (negative) ++i;
  const size_t first_digit = i;
  while (i < stored.size() && stored[i] >= '0' && stored[i] <= '9') ++i;
  const size_t digits = i - first_digit;
  if (i != stored.size() || digits == 0 || digits > 15) return false;
  size_t lead = first_digit;
  while (lead + 1 < stored.size() && stored[lead] == '0') ++lead;
  const std::string_view significant = stored.substr(lead);
  text.clear();
  if (negative && significant != "0") text += '-';
  text += significant;
  return true;
}

int32_t RoundToInt32(double value) {
  double whole = std::trunc(value);
  double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0)) {
    whole += 1;
  } else if (fraction < -0.5 || (fraction == -0.5 && std::fmod(whole, 2.0) != 0)) {
    whole -= 1;
  }
  // The 64-bit range is [-2^63, 2^63); a NaN fails both tests.
  if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0)) {
    throw EInvalidOp(std::string(res::base::kInvalidFloatOp));
  }
  auto wide = static_cast<int64_t>(whole);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}

std::string DateToText(int32_t day_number, std::string_view pattern, std::string_view date_separator) {
  int year = 0;
  int month = 0;
  int day = 0;
  DayNumberToDate(day_number, year, month, day);
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    char upper = AsciiUpper(c);
    if (upper == 'Y' || upper == 'M' || upper == 'D') {
      size_t run = 1;
      while (i + run < pattern.size() && AsciiUpper(pattern[i + run]) == upper) ++run;
      i += run;
      if (upper == 'Y') {
        out += run <= 2 ? Format("%.2d", {year % 100}) : Format("%.4d", {year});
      } else {
        out += Format(run == 1 ? "%d" : "%.2d", {upper == 'M' ? month : day});
      }
    } else if (c == '/') {
      out += date_separator;
      ++i;
    } else if (c == '"' || c == '\'') {
      size_t close = pattern.find(c, i + 1);
      if (close == std::string_view::npos) close = pattern.size();
      out += pattern.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t width = IsSjisLeadByte(static_cast<unsigned char>(c)) && i + 1 < pattern.size() ? 2 : 1;
      out += pattern.substr(i, width);
      i += width;
    }
  }
  return out;
}

std::string DateTimeToText(int32_t day_number, int32_t milliseconds, std::string_view pattern,
                           std::string_view date_separator) {
  const int32_t seconds = milliseconds / 1000;
  return DateToText(day_number, pattern, date_separator) +
         Format(" %d:%.2d:%.2d", {seconds / 3600, seconds / 60 % 60, seconds % 60});
}

double TextToDouble(std::string_view text) {
  std::string number(text);
  for (char& c : number) {
    if (c == Locale().decimal_separator) c = '.';
  }
  std::string_view s = number;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
    throw EConvertError(Format(res::data::kNotAFloat, {text}));
  }
  return value;
}

}  // namespace shelfra
