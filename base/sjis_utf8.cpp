// Shift_JIS to UTF-8 through the generated cp932 table.
#include "base/sjis_utf8.h"

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

}  // namespace shelfra
