// The text rules of the engine in one place: character widths of Shift_JIS text, field-name
// comparison, and the folded comparison, sort order and LIKE patterns of text values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shelfra {

// Bytes taken by the character that starts at `pos`: 2 for a lead byte followed by another
// byte, else 1. Requires: pos < text.size().
size_t CharWidth(std::string_view text, size_t pos);

// Field names are equal when they have the same characters, single-byte ASCII letters
// compared ignoring case. Trail bytes of double-byte characters compare exactly, so the
// names differing only in 0x83 0x41 against 0x83 0x61 stay different.
bool SameFieldName(std::string_view a, std::string_view b);

// True when `text` equals `key` or, with `partial`, begins with it, compared as folded
// characters (KanaFold): kana of any script and width and full-width ASCII are one; ASCII
// letters ignore case with `ignore_case` only. A match never ends inside a character.
bool KeyMatches(std::string_view text, std::string_view key, bool ignore_case, bool partial);

// Sort order of two text values: negative, zero or positive, zero exactly when both fold to
// the same characters. Folded characters compare by SortWeight: the syllabary order of
// katakana, which hiragana and half-width katakana share, and Shift_JIS byte order otherwise;
// ASCII letters ignore case. A text sorts after its own beginning.
int CompareText(std::string_view a, std::string_view b);

// Appends the sort key of `text` to `out`: three bytes per folded character, so that byte
// order of keys (memcmp, shorter first on a tie) is the order of CompareText.
void AppendSortKey(std::string_view text, std::string& out);

// A compiled LIKE pattern: "%" stands for any run of characters, "_" for exactly one
// character, where a character is a folded character (KanaFold, ASCII case ignored): a
// half-width letter with its voiced mark is one character. Only the ASCII bytes "%" and "_"
// are wildcards; their full-width forms are characters that match "%", "_" and themselves.
// Pattern and text fold alike, so a match never starts or ends inside a character.
class LikePattern {
 public:
  explicit LikePattern(std::string_view pattern);
  // True when the whole of `text` matches. Allocates nothing.
  bool Matches(std::string_view text) const;
  // Bytes that every matching text holds verbatim (a run of characters with only one form,
  // such as kanji); empty when the pattern has none.
  const std::string& Needle() const { return needle_; }
  // True when every text matches (the pattern is only "%" wildcards).
  bool MatchesEverything() const { return shape_ == Shape::kAny; }
  // True when the pattern is a text followed by "%" wildcards only ("9%"); `codes` then holds
  // the text's folded codes.
  bool IsLeadingText(std::vector<uint16_t>& codes) const {
    if (shape_ != Shape::kPrefix) return false;
    codes = literal_;
    return true;
  }
  // The runs of literal characters between the wildcards, as folded codes, in pattern order.
  std::vector<std::vector<uint16_t>> LiteralRuns() const;

 private:
  enum class Shape { kAny, kExact, kPrefix, kSuffix, kContains, kGeneral };
  struct Unit {
    enum Kind : uint8_t { kChar, kOne, kRun } kind;
    uint16_t code;  // the folded code of a kChar unit
  };
  void ChoosePrefilter();
  bool PassesPrefilter(std::string_view text) const;
  bool MatchGeneral(std::string_view text) const;
  bool FindContains(std::string_view text) const;
  bool FindSuffix(std::string_view text) const;

  std::vector<Unit> units_;
  Shape shape_ = Shape::kGeneral;
  std::vector<uint16_t> literal_;  // codes of the characters between leading and trailing "%"
  // A cheap test that rejects most texts that cannot match: bytes that every match holds
  // verbatim (characters with only one form, such as kanji); else, for up to eight of the
  // pattern's characters, one of each character's signature bytes (KanaFold::SignatureBytes).
  std::string needle_;
  uint8_t signature_class_[256] = {};  // bit i set: the byte is a signature byte of character i
  uint8_t signature_mask_ = 0;         // the bits of all those characters
};

}  // namespace shelfra
