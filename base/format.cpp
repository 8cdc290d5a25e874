// Format.
#include "base/format.h"

#include <charconv>
#include <vector>

#include "base/exceptions.h"
#include "base/text.h"
#include "base_res.h"

namespace shelfra {

namespace {

[[noreturn]] void FormatFailed(std::string_view format) {
  // The error message itself goes through a fixed "%s"; build it by hand to avoid recursion.
  std::string_view tmpl = res::base::kFormatError;
  size_t at = tmpl.find("%s");
  std::string msg(tmpl.substr(0, at));
  msg.append(format);
  msg.append(tmpl.substr(at + 2));
  throw EConvertError(msg);
}

void AppendPadded(std::string& out, uint64_t magnitude, bool negative, int base, int precision) {
  char digits[32];
  auto r = std::to_chars(digits, digits + sizeof digits, magnitude, base);
  for (char* p = digits; p != r.ptr; ++p) *p = AsciiUpper(*p);
  size_t count = static_cast<size_t>(r.ptr - digits);
  if (negative) out.push_back('-');
  if (precision >= 0 && precision <= kMaxFormatPrecision && count < static_cast<size_t>(precision)) {
    out.append(static_cast<size_t>(precision) - count, '0');
  }
  out.append(digits, count);
}

}  // namespace

std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
  std::vector<const FormatArg*> list;
  for (const FormatArg& a : args) list.push_back(&a);
  std::string out;
  size_t next_arg = 0;
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out.push_back(c);
      ++i;
      continue;
    }
    ++i;
    if (i < format.size() && format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // Optional argument index "N:".
    size_t j = i;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    if (j > i && j < format.size() && format[j] == ':') {
      size_t index = 0;
      std::from_chars(format.data() + i, format.data() + j, index);
      next_arg = index;
      i = j + 1;
    }
    int precision = -1;
    if (i < format.size() && format[i] == '.') {
      ++i;
      size_t start = i;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
      if (i == start) FormatFailed(format);
      precision = 0;
      for (size_t k = start; k < i; ++k) {
        precision = precision > 1000 ? precision : precision * 10 + (format[k] - '0');
      }
    }
    if (i >= format.size()) FormatFailed(format);
    char type = AsciiLower(format[i]);
    ++i;
    if (next_arg >= list.size()) FormatFailed(format);
    const FormatArg& arg = *list[next_arg++];
    switch (type) {
      case 's':
        if (!arg.IsText()) FormatFailed(format);
        out.append(arg.Text());
        break;
      case 'd': {
        if (arg.IsText()) FormatFailed(format);
        int64_t v = arg.Number();
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        AppendPadded(out, magnitude, v < 0, 10, precision);
        break;
      }
      case 'x':
        if (arg.IsText()) FormatFailed(format);
        AppendPadded(out, static_cast<uint32_t>(arg.Number()), false, 16, precision);
        break;
      default:
        FormatFailed(format);
    }
  }
  return out;
}

}  // namespace shelfra
