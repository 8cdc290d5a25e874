// Byte-text helpers.
#include "base/text.h"

#include <charconv>

#include "base/format.h"
#include "base/exceptions.h"
#include "base_res.h"

namespace shelfra {

std::string_view TrimBlanks(std::string_view s) {
  size_t begin = 0;
  while (begin < s.size() && IsBlank(s[begin])) ++begin;
  size_t end = s.size();
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool SameTextSjis(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsSjisLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
      return false;
    }
  }
  return true;
}

std::string AsciiUpperText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::optional<int32_t> TryStrToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == text.size()) return std::nullopt;
  size_t hex_start = std::string_view::npos;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    hex_start = i + 1;
  } else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex_start = i + 2;
  }
  if (hex_start != std::string_view::npos) {
    size_t digits = text.size() - hex_start;
    if (digits == 0 || digits > 8) return std::nullopt;
    uint32_t value = 0;
    for (size_t j = hex_start; j < text.size(); ++j) {
      int h = HexDigitValue(static_cast<unsigned char>(text[j]));
      if (h < 0) return std::nullopt;
      value = (value << 4) | static_cast<uint32_t>(h);
    }
    return static_cast<int32_t>(value);
  }
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!IsAsciiDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{2147483648}) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t StrToIntDef(std::string_view text, int32_t default_value) {
  std::optional<int32_t> v = TryStrToInt(text);
  return v ? *v : default_value;
}

int32_t StrToInt(std::string_view text) {
  std::optional<int32_t> v = TryStrToInt(text);
  if (!v) throw EConvertError(Format(res::base::kNotAnInteger, {text}));
  return *v;
}

std::string IntToStr(int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

}  // namespace shelfra
