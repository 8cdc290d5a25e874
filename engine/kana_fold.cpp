// The folding tables, built at compile time from the rules in kana_fold.h, and sort weights.
#include "engine/kana_fold.h"

namespace shelfra {

namespace {

// Full-width forms of the half-width characters 0xA1-0xDF, in byte order: the punctuation
// 0xA1-0xA5, the katakana 0xA6-0xDD (0xB0 is the long vowel mark) and the marks 0xDE, 0xDF.
constexpr uint16_t kHalfWidth[0x3F] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342,  // 0xA1
    0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362, 0x815B,  // 0xA9
    0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C, 0x834E,  // 0xB1
    0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E,  // 0xB9
    0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C,  // 0xC1
    0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D, 0x837E,  // 0xC9
    0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389, 0x838A,  // 0xD1
    0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,          // 0xD9
};

// Full-width forms of ASCII symbols in the 0x81 row and the ASCII byte each folds to.
struct SymbolFold {
  uint16_t code;
  char ascii;
};
constexpr SymbolFold kSymbols[] = {
    {0x8140, ' '}, {0x8143, ','}, {0x8144, '.'}, {0x8146, ':'}, {0x8147, ';'}, {0x8148, '?'},
    {0x8149, '!'}, {0x814D, '`'}, {0x814F, '^'}, {0x8151, '_'}, {0x815E, '/'}, {0x815F, '\\'},
    {0x8160, '~'}, {0x8162, '|'}, {0x8169, '('}, {0x816A, ')'}, {0x816D, '['}, {0x816E, ']'},
    {0x816F, '{'}, {0x8170, '}'}, {0x817B, '+'}, {0x817C, '-'}, {0x8181, '='}, {0x8183, '<'},
    {0x8184, '>'}, {0x8190, '$'}, {0x8193, '%'}, {0x8194, '#'}, {0x8195, '&'}, {0x8196, '*'},
    {0x8197, '@'},
};

}  // namespace

struct KanaFoldBuilder {
  static constexpr KanaFold Make(bool ignore_case) {
    KanaFold f;
    for (unsigned b = 0; b < 256; ++b) f.single_[b] = static_cast<uint16_t>(b);
    if (ignore_case) {
      for (unsigned b = 'a'; b <= 'z'; ++b) f.single_[b] = static_cast<uint16_t>(b - 32);
    }
    for (unsigned b = 0xA1; b <= 0xDF; ++b) f.single_[b] = kHalfWidth[b - 0xA1];

    for (unsigned i = 0; i < 0x300; ++i) f.twin_[i] = static_cast<uint16_t>(0x8100 + i);
    auto set = [&f](unsigned code, unsigned folded) { f.twin_[code - 0x8100] = static_cast<uint16_t>(folded); };
    for (const SymbolFold& s : kSymbols) set(s.code, static_cast<unsigned char>(s.ascii));
    for (unsigned d = 0; d < 10; ++d) set(0x824F + d, '0' + d);
    for (unsigned l = 0; l < 26; ++l) {
      set(0x8260 + l, 'A' + l);
      set(0x8281 + l, (ignore_case ? 'A' : 'a') + l);
    }
    // Hiragana run parallel to katakana, except that katakana skip 0x837F.
    for (unsigned code = 0x829F; code <= 0x82F1; ++code) {
      unsigned offset = code - 0x829F;
      set(code, offset < 0x3F ? 0x8340 + offset : 0x8341 + offset);
    }
    set(0x8154, 0x8152);  // hiragana iteration marks to the katakana ones
    set(0x8155, 0x8153);

    // A half-width letter with the voiced mark is the next full-width code, with the
    // semi-voiced mark the one after (0xCA: 0x836E, 0x836F, 0x8370); 0xB3 voiced is 0x8394.
    for (unsigned b = 0xB6; b <= 0xC4; ++b) f.voiced_[b - 0xA0] = static_cast<uint16_t>(kHalfWidth[b - 0xA1] + 1);
    for (unsigned b = 0xCA; b <= 0xCE; ++b) {
      f.voiced_[b - 0xA0] = static_cast<uint16_t>(kHalfWidth[b - 0xA1] + 1);
      f.semi_voiced_[b - 0xA0] = static_cast<uint16_t>(kHalfWidth[b - 0xA1] + 2);
    }
    f.voiced_[0xB3 - 0xA0] = 0x8394;
    return f;
  }
};

namespace {

constexpr KanaFold kIgnoringCase = KanaFoldBuilder::Make(true);
constexpr KanaFold kKeepingCase = KanaFoldBuilder::Make(false);

}  // namespace

const KanaFold& KanaFold::IgnoringCase() { return kIgnoringCase; }
const KanaFold& KanaFold::KeepingCase() { return kKeepingCase; }

size_t KanaFold::SignatureBytes(uint16_t code, unsigned char* out, size_t capacity) const {
  size_t count = 0;
  auto add = [&](unsigned byte) {
    for (size_t i = 0; i < count && i < capacity; ++i) {
      if (out[i] == byte) return;
    }
    if (count < capacity) out[count] = static_cast<unsigned char>(byte);
    ++count;
  };
  if (code >= 0x8400) {
    // Outside the folded rows a code has its own form, and the extension quotes fold away.
    add(code & 0xFF);
    return count;
  }
  for (unsigned b = 0; b < 256; ++b) {
    if (single_[b] == code) add(b);
  }
  for (unsigned i = 0; i < 0x300; ++i) {
    if (twin_[i] == code) add(i & 0xFF);
  }
  for (unsigned j = 0; j < 0x40; ++j) {
    if (voiced_[j] == code || semi_voiced_[j] == code) add(0xA0 + j);
  }
  if (code == '\'') {
    add(0xFB);
    add(0x56);
  }
  if (code == '"') {
    add(0xFC);
    add(0x57);
  }
  return count;
}

bool KanaFold::IsSoleForm(uint16_t code) const {
  if (code >= 0x8400 || (code >= 0x100 && code < 0x8100)) return true;
  size_t forms = 0;
  for (unsigned b = 0; b < 256; ++b) forms += single_[b] == code;
  for (unsigned i = 0; i < 0x300; ++i) forms += twin_[i] == code;
  for (unsigned j = 0; j < 0x40; ++j) forms += (voiced_[j] == code) + (semi_voiced_[j] == code);
  if (code == '\'' || code == '"') forms += 2;
  return forms == 1 && (code < 0x100 ? single_[code] == code : twin_[code - 0x8100] == code);
}

void KanaFold::AppendCode(uint16_t code, std::string& out) {
  if (code >= 0x100) out.push_back(static_cast<char>(code >> 8));
  out.push_back(static_cast<char>(code & 0xFF));
}

uint32_t SortWeight(uint16_t code) {
  if (code < 0x100) return static_cast<uint32_t>(code) << 16;
  switch (code) {
    case 0x8394:  // voiced u: right after u (0x8345)
      return 0x8345u << 8 | 0x80;
    case 0x8395:  // small ka: right before ka (0x834A)
      return 0x8349u << 8 | 0x80;
    case 0x8396:  // small ke: right before ke (0x8350)
      return 0x834Fu << 8 | 0x80;
    default:
      return static_cast<uint32_t>(code) << 8;
  }
}

}  // namespace shelfra
