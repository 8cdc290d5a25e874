// KanaFold: the folding rules under which searches and sorting compare Shift_JIS text, so that
// hiragana, full-width and half-width katakana are one, and full-width ASCII is ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"

namespace shelfra {

// One character of a text after folding.
struct FoldedChar {
  uint16_t code;  // below 0x100 a single byte, else a double-byte Shift_JIS code
  uint8_t width;  // bytes of the text the character took: 1 or 2
};

// Folds text one character at a time by table lookup. A character is a whole Shift_JIS
// character, or a half-width katakana letter together with the voiced or semi-voiced mark
// (0xDE, 0xDF) that follows it when the pair is one full-width letter (0xB6 0xDE is 0x834B).
// The folded code is:
//   hiragana 0x829F-0x82F1 and the iteration marks 0x8154/0x8155: the full-width katakana code;
//   half-width katakana 0xA6-0xDD (and a letter with its mark): the full-width katakana code,
//     0xB0 the long vowel mark 0x815B, a lone mark 0xDE/0xDF the full-width marks 0x814A/0x814B,
//     the half-width punctuation 0xA1-0xA5 its full-width form;
//   full-width digits, letters, the full-width space and the full-width forms of ASCII
//     symbols: the ASCII byte;
//   ASCII letters: upper case, when the table ignores case;
//   anything else, kanji and a lone lead byte at the end of the text included: itself.
// Small and large kana, voiced and unvoiced letters and kanji stay distinct.
class KanaFold {
 public:
  // The rules with ASCII case ignored (searches and sorting) and with ASCII case kept
  // (case-sensitive seeks: the full-width A, 0x8260, equals "A" but not "a"). Both live as
  // long as the program.
  static const KanaFold& IgnoringCase();
  static const KanaFold& KeepingCase();

  // The folded character that starts at `p`. Requires: p < end.
  FoldedChar Next(const unsigned char* p, const unsigned char* end) const {
    const unsigned b = *p;
    if (b < 0x80) return {single_[b], 1};
    if (IsSjisLeadByte(static_cast<unsigned char>(b))) {
      if (p + 1 == end) return {static_cast<uint16_t>(b), 1};
      const unsigned code = b << 8 | p[1];
      if (b <= 0x83) return {twin_[code - 0x8100], 2};
      if (b == 0xEE || b == 0xFA) return {FoldQuote(code), 2};
      return {static_cast<uint16_t>(code), 2};
    }
    if (b - 0xA0u < 0x40u && p + 1 < end && p[1] >= 0xDE && p[1] <= 0xDF) {
      const uint16_t pair = (p[1] == 0xDE ? voiced_ : semi_voiced_)[b - 0xA0];
      if (pair != 0) return {pair, 2};
    }
    return {single_[b], 1};
  }

  // True when no bytes other than the code's own fold to `code`, so that every text holding
  // a character that folds to it holds those bytes verbatim (kanji, most symbols).
  bool IsSoleForm(uint16_t code) const;

  // Bytes of which every text holding a character that folds to `code` holds at least one:
  // the trail byte of each double-byte form, each single-byte form, and the letter of each
  // half-width letter-and-mark pair. Writes at most `capacity` bytes to `out` and returns how
  // many it found (a result above `capacity` means some were left out).
  size_t SignatureBytes(uint16_t code, unsigned char* out, size_t capacity) const;

  // The code's bytes as Shift_JIS text: one byte below 0x100, else two.
  static void AppendCode(uint16_t code, std::string& out);

 private:
  friend struct KanaFoldBuilder;
  constexpr KanaFold() = default;

  // The full-width apostrophe and quotation mark, which live among the extension characters
  // in two places each.
  static uint16_t FoldQuote(unsigned code) {
    if (code == 0xEEFB || code == 0xFA56) return '\'';
    if (code == 0xEEFC || code == 0xFA57) return '"';
    return static_cast<uint16_t>(code);
  }

  uint16_t single_[256]{};        // by byte
  uint16_t twin_[0x300]{};        // double-byte codes 0x8100-0x83FF
  uint16_t voiced_[0x40]{};       // half-width 0xA0-0xDF followed by 0xDE; 0 when no pair
  uint16_t semi_voiced_[0x40]{};  // followed by 0xDF
};

// Sort weight of a folded code; weights order text in the syllabary order of full-width
// katakana (their Shift_JIS order, except that 0x8394 sorts right after 0x8345 and the small
// letters 0x8395 and 0x8396 right before 0x834A and 0x8350), everything else in Shift_JIS byte
// order. A single byte b weighs b << 16 and a double-byte code c about c << 8, so a single byte
// sorts as the lead byte it stands beside. Equal weights mean equal codes.
uint32_t SortWeight(uint16_t code);

}  // namespace shelfra
