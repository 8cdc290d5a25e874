// Fuzz target: the text of field values - the general float format and the float-to-integer
// rounding, each checked against an independent reference, and dates in arbitrary patterns,
// checked against the standard library's calendar.
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/exceptions.h"
#include "data/field_text.h"
#include "engine/value.h"
#include "fuzz/fuzz_support.h"

namespace {

// The general format by other means: the 18 digits from printf, the cut to `precision`
// digits by integer arithmetic.
std::string ReferenceGeneral(double value, int precision, std::string_view separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  std::string out = value < 0 ? "-" : "";
  precision = precision < 1 ? 1 : (precision > 18 ? 18 : precision);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
  uint64_t n = 0;
  for (const char* p = buf; *p != 'e'; ++p) {
    if (*p != '.') n = n * 10 + static_cast<uint64_t>(*p - '0');
  }
  int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  uint64_t scale = 1;
  for (int i = precision; i < 18; ++i) scale *= 10;
  uint64_t cut = n / scale;
  if ((n % scale) * 2 >= scale && scale > 1) ++cut;
  uint64_t limit = 1;
  for (int i = 0; i < precision; ++i) limit *= 10;
  if (cut == limit) {
    cut /= 10;
    ++exponent;
  }
  std::string digits = std::to_string(cut);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int e = exponent + 1;
  const int count = static_cast<int>(digits.size());
  if (e >= -3 && e <= precision) {
    if (e <= 0) return out + "0" + std::string(separator) + std::string(static_cast<size_t>(-e), '0') + digits;
    if (e >= count) return out + digits + std::string(static_cast<size_t>(e - count), '0');
    return out + digits.substr(0, static_cast<size_t>(e)) + std::string(separator) + digits.substr(static_cast<size_t>(e));
  }
  out += digits.substr(0, 1);
  if (count > 1) out += std::string(separator) + digits.substr(1);
  return out + "E" + std::to_string(e - 1);
}

template <class T>
T Take(shelfra::fuzz::ByteReader& in) {
  unsigned char bytes[sizeof(T)];
  for (unsigned char& b : bytes) b = in.Byte();
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shelfra::fuzz::ByteReader in(data, size);
  const double value = Take<double>(in);
  const int precision = static_cast<int8_t>(in.Byte()) % 24;
  const char separator = static_cast<char>(in.Byte());
  const int32_t day_number = Take<int32_t>(in);
  const std::string pattern(in.Rest());

  std::string_view sep(&separator, 1);
  std::string text = shelfra::FloatToGeneralText(value, precision, sep);
  if (text != ReferenceGeneral(value, precision, sep)) {
    std::fprintf(stderr, "%.17g p=%d: %s against %s\n", value, precision, text.c_str(),
                 ReferenceGeneral(value, precision, sep).c_str());
    std::abort();
  }

  // Rounding: the nearest whole number, ties to even (the default rounding of nearbyint), in
  // 64 bits, then its low 32 bits; EInvalidOp when it does not fit in 64 bits.
  const double rounded = std::nearbyint(value);
  const bool fits = rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0;
  try {
    int32_t got = shelfra::RoundToInt32(value);
    if (!fits) std::abort();
    auto expected = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(rounded))));
    if (got != expected) std::abort();
  } catch (const shelfra::EInvalidOp&) {
    if (fits) std::abort();
  }

  // Dates: the day number and the calendar date agree with the standard calendar, and every
  // date of the calendar goes there and back.
  int year = 0, month = 0, day = 0;
  shelfra::DayNumberToDate(day_number, year, month, day);
  if (shelfra::DayNumber(year, month, day) != day_number) std::abort();
  if (month < 1 || month > 12 || day < 1 || day > 31) std::abort();
  if (day_number > -11000000 && day_number < 11000000) {
    using namespace std::chrono;
    year_month_day ymd{sys_days{days{static_cast<int64_t>(day_number) - 719163}}};
    if (static_cast<int>(ymd.year()) != year || static_cast<unsigned>(ymd.month()) != static_cast<unsigned>(month) ||
        static_cast<unsigned>(ymd.day()) != static_cast<unsigned>(day)) {
      std::abort();
    }
  }
  std::string date = shelfra::DateToText(day_number, pattern, sep);
  if (year >= 1 && year <= 9999 && separator != '\0') {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%04d%c%02d%c%02d", year, separator, month, separator, day);
    if (shelfra::DateToText(day_number, "yyyy/mm/dd", sep) != expected) std::abort();
  }
  return 0;
}
