// Shift_JIS to UTF-8 and back through the generated cp932 tables.
#include "base/sjis_utf8.h"

#include <algorithm>
#include <iterator>

#include "cp932_table.h"

namespace shelfra {

uint16_t SjisCodeAt(std::string_view text, size_t at, size_t& size) {
  const auto b = static_cast<unsigned char>(text[at]);
  if (int row = cp932::kLeadRow[b]; row != 0) {
    if (at + 1 >= text.size()) return 0;
    const int trail = static_cast<unsigned char>(text[at + 1]) - cp932::kFirstTrail;
    if (trail < 0 || trail >= cp932::kTrailCount) return 0;
    const uint16_t code = cp932::kDouble[(row - 1) * cp932::kTrailCount + trail];
    if (code != 0) size = 2;
    return code;
  }
  if (cp932::kSingle[b] != 0) size = 1;
  return cp932::kSingle[b];
}

size_t PutUtf8(uint16_t code, char* out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (code >> 12));
  out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (code & 0x3F));
  return 3;
}

bool SjisToUtf8(std::string_view sjis, std::string& utf8) {
  utf8.clear();
  utf8.reserve(sjis.size() * 3 / 2);
  for (size_t at = 0; at < sjis.size();) {
    size_t size = 0;
    const uint16_t code = SjisCodeAt(sjis, at, size);
    if (code == 0) return false;
    char bytes[3];
    utf8.append(bytes, PutUtf8(code, bytes));
    at += size;
  }
  return true;
}

bool Utf8CodeAt(std::string_view text, size_t at, uint32_t& code, size_t& size) {
  const auto b = static_cast<unsigned char>(text[at]);
  size_t n;
  uint32_t c;
  uint32_t least;  // the smallest code point of that length: below it the form is overlong
  if (b < 0x80) {
    code = b;
    size = 1;
    return true;
  } else if (b >= 0xC2 && b < 0xE0) {
    n = 2, c = b & 0x1F, least = 0x80;
  } else if (b >= 0xE0 && b < 0xF0) {
    n = 3, c = b & 0x0F, least = 0x800;
  } else if (b >= 0xF0 && b < 0xF5) {
    n = 4, c = b & 0x07, least = 0x10000;
  } else {
    return false;
  }
  if (text.size() - at < n) return false;
  for (size_t i = 1; i < n; ++i) {
    const auto t = static_cast<unsigned char>(text[at + i]);
    if ((t & 0xC0) != 0x80) return false;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
  code = c;
  size = n;
  return true;
}

Utf8ToSjisResult Utf8ToSjis(std::string_view utf8, std::string& sjis, uint32_t& missing) {
  sjis.clear();
  sjis.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    uint32_t code = 0;
    size_t size = 0;
    if (!Utf8CodeAt(utf8, at, code, size)) return Utf8ToSjisResult::kInvalidUtf8;
    at += size;
    const uint16_t* end = std::end(cp932::kEncodeCodes);
    const uint16_t* found = code > 0xFFFF ? end : std::lower_bound(std::begin(cp932::kEncodeCodes), end, code);
    if (found == end || *found != code) {
      missing = code;
      return Utf8ToSjisResult::kNoSjisForm;
    }
    const uint16_t bytes = cp932::kEncodeBytes[found - std::begin(cp932::kEncodeCodes)];
    if (bytes > 0xFF) sjis.push_back(static_cast<char>(bytes >> 8));
    sjis.push_back(static_cast<char>(bytes & 0xFF));
  }
  return Utf8ToSjisResult::kOk;
}

}  // namespace shelfra
