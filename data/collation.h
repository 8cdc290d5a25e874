// The text rules of the engine in one place: character widths of Shift_JIS text, field-name
// comparison, the sort order of text values and LIKE patterns.
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

// True when `text` equals `key` or, with `partial`, begins with it; whole characters
// compared, single-byte ASCII letters ignoring case with `ignore_case`.
bool KeyMatches(std::string_view text, std::string_view key, bool ignore_case, bool partial);

// Sort order of two text values: negative, zero or positive. Byte order of the stored text.
int CompareText(std::string_view a, std::string_view b);

// A compiled LIKE pattern: "%" stands for any run of characters, "_" for exactly one
// character, where a character is a whole Shift_JIS character; single-byte ASCII letters
// compare ignoring case. A match never starts or ends inside a double-byte character.
class LikePattern {
 public:
  explicit LikePattern(std::string_view pattern);
  bool Matches(std::string_view text) const;

 private:
  enum class Shape { kAny, kExact, kPrefix, kSuffix, kContains, kGeneral };
  struct Unit {
    enum Kind : uint8_t { kChar, kOne, kRun } kind;
    uint8_t width;   // bytes of a kChar unit
    uint32_t start;  // offset of a kChar unit in pattern_
  };

  bool MatchGeneral(std::string_view text) const;
  bool FindContains(std::string_view text) const;

  std::string pattern_;
  std::vector<Unit> units_;
  Shape shape_ = Shape::kGeneral;
  std::string literal_;       // the characters between the leading and trailing "%" runs
  bool literal_folds_ = false;  // literal_ holds a single-byte ASCII letter
};

}  // namespace shelfra
