// Text rules of the engine: character widths, field names, sort order and LIKE.
#include "data/collation.h"

#include "base/profile.h"
#include "base/text.h"

namespace shelfra {

namespace {

constexpr size_t kNoMatch = std::string_view::npos;

bool SameChar(std::string_view a, size_t i, std::string_view b, size_t j, size_t width, bool ignore_case = true) {
  if (width == 2) return a[i] == b[j] && a[i + 1] == b[j + 1];
  return ignore_case ? AsciiUpper(a[i]) == AsciiUpper(b[j]) : a[i] == b[j];
}

// Matches the characters of `literal` against `text` from the character boundary `pos`.
// Returns the offset after the match, or kNoMatch.
size_t LiteralEnd(std::string_view text, size_t pos, std::string_view literal, bool ignore_case = true) {
  size_t i = 0;
  while (i < literal.size()) {
    if (pos >= text.size()) return kNoMatch;
    size_t width = CharWidth(literal, i);
    if (CharWidth(text, pos) != width || !SameChar(literal, i, text, pos, width, ignore_case)) return kNoMatch;
    i += width;
    pos += width;
  }
  return pos;
}

}  // namespace

size_t CharWidth(std::string_view text, size_t pos) {
  return IsSjisLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

bool SameFieldName(std::string_view a, std::string_view b) { return SameTextSjis(a, b); }

bool KeyMatches(std::string_view text, std::string_view key, bool ignore_case, bool partial) {
  if (partial ? text.size() < key.size() : text.size() != key.size()) return false;
  return LiteralEnd(text, 0, key, ignore_case) != kNoMatch;
}

int CompareText(std::string_view a, std::string_view b) {
  int c = a.compare(b);  // char_traits<char>::compare orders bytes as unsigned char
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

LikePattern::LikePattern(std::string_view pattern) : pattern_(pattern) {
  for (size_t i = 0; i < pattern_.size();) {
    size_t width = CharWidth(pattern_, i);
    Unit unit{Unit::kChar, static_cast<uint8_t>(width), static_cast<uint32_t>(i)};
    if (width == 1 && pattern_[i] == '%') unit.kind = Unit::kRun;
    if (width == 1 && pattern_[i] == '_') unit.kind = Unit::kOne;
    units_.push_back(unit);
    i += width;
  }
  size_t lead = 0;
  while (lead < units_.size() && units_[lead].kind == Unit::kRun) ++lead;
  if (lead == units_.size() && lead > 0) {
    shape_ = Shape::kAny;
    return;
  }
  size_t trail = 0;
  while (trail < units_.size() && units_[units_.size() - 1 - trail].kind == Unit::kRun) ++trail;
  for (size_t k = lead; k < units_.size() - trail; ++k) {
    if (units_[k].kind != Unit::kChar) return;  // shape stays kGeneral
    literal_.append(pattern_, units_[k].start, units_[k].width);
    if (units_[k].width == 1 && IsAsciiAlpha(static_cast<unsigned char>(pattern_[units_[k].start]))) {
      literal_folds_ = true;
    }
  }
  if (lead > 0 && trail > 0) {
    shape_ = Shape::kContains;
  } else if (lead > 0) {
    shape_ = Shape::kSuffix;
  } else if (trail > 0) {
    shape_ = Shape::kPrefix;
  } else {
    shape_ = Shape::kExact;
  }
}

bool LikePattern::Matches(std::string_view text) const {
  switch (shape_) {
    case Shape::kAny:
      return true;
    case Shape::kExact:
      return text.size() == literal_.size() && LiteralEnd(text, 0, literal_) == text.size();
    case Shape::kPrefix:
      return LiteralEnd(text, 0, literal_) != kNoMatch;
    case Shape::kSuffix: {
      if (text.size() < literal_.size()) return false;
      size_t start = text.size() - literal_.size();
      size_t pos = 0;
      while (pos < start) pos += CharWidth(text, pos);
      return pos == start && LiteralEnd(text, start, literal_) != kNoMatch;
    }
    case Shape::kContains:
      return FindContains(text);
    case Shape::kGeneral:
      break;
  }
  return MatchGeneral(text);
}

bool LikePattern::FindContains(std::string_view text) const {
  if (!literal_folds_) {
    // Byte search first; a hit counts only when it starts on a character boundary, found by
    // walking the characters from the start of the text (never backwards).
    size_t boundary = 0;
    size_t from = 0;
    while (true) {
      size_t hit = text.find(literal_, from);
      if (hit == std::string_view::npos) return false;
      while (boundary < hit) boundary += CharWidth(text, boundary);
      if (boundary == hit && LiteralEnd(text, hit, literal_) != kNoMatch) return true;
      from = hit + 1;
    }
  }
  for (size_t pos = 0; pos + literal_.size() <= text.size(); pos += CharWidth(text, pos)) {
    if (LiteralEnd(text, pos, literal_) != kNoMatch) return true;
  }
  return false;
}

bool LikePattern::MatchGeneral(std::string_view text) const {
  // Iterative wildcard match over whole characters; on a mismatch the last "%" takes one
  // more character of the text.
  size_t u = 0;
  size_t t = 0;
  size_t star_u = kNoMatch;
  size_t star_t = 0;
  while (t < text.size()) {
    if (u < units_.size() && units_[u].kind == Unit::kRun) {
      while (u < units_.size() && units_[u].kind == Unit::kRun) ++u;
      star_u = u;
      star_t = t;
      continue;
    }
    if (u < units_.size()) {
      const Unit& unit = units_[u];
      size_t width = CharWidth(text, t);
      if (unit.kind == Unit::kOne ||
          (unit.width == width && SameChar(pattern_, unit.start, text, t, width))) {
        ++u;
        t += width;
        continue;
      }
    }
    if (star_u == kNoMatch) return false;
    star_t += CharWidth(text, star_t);
    t = star_t;
    u = star_u;
  }
  while (u < units_.size() && units_[u].kind == Unit::kRun) ++u;
  return u == units_.size();
}

}  // namespace shelfra
