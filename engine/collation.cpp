// Text rules of the engine: character widths, field names, folded comparison, sort order and
// LIKE.
#include "engine/collation.h"

#include "base/text.h"
#include "engine/kana_fold.h"

namespace shelfra {

namespace {

const unsigned char* Bytes(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

// Matches `count` folded codes against the folded characters of the text from `p`.
// Returns the position after the match, or nullptr.
const unsigned char* MatchCodes(const KanaFold& fold, const unsigned char* p, const unsigned char* end,
                                const uint16_t* codes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (p == end) return nullptr;
    FoldedChar c = fold.Next(p, end);
    if (c.code != codes[i]) return nullptr;
    p += c.width;
  }
  return p;
}

}  // namespace

size_t CharWidth(std::string_view text, size_t pos) {
  return IsSjisLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

bool SameFieldName(std::string_view a, std::string_view b) { return SameTextSjis(a, b); }

bool KeyMatches(std::string_view text, std::string_view key, bool ignore_case, bool partial) {
  const KanaFold& fold = ignore_case ? KanaFold::IgnoringCase() : KanaFold::KeepingCase();
  const unsigned char* p = Bytes(text);
  const unsigned char* p_end = p + text.size();
  const unsigned char* q = Bytes(key);
  const unsigned char* q_end = q + key.size();
  while (q != q_end) {
    if (p == p_end) return false;
    FoldedChar a = fold.Next(p, p_end);
    FoldedChar b = fold.Next(q, q_end);
    if (a.code != b.code) return false;
    p += a.width;
    q += b.width;
  }
  return partial || p == p_end;
}

int CompareText(std::string_view a, std::string_view b) {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const unsigned char* p = Bytes(a);
  const unsigned char* p_end = p + a.size();
  const unsigned char* q = Bytes(b);
  const unsigned char* q_end = q + b.size();
  while (p != p_end && q != q_end) {
    FoldedChar x = fold.Next(p, p_end);
    FoldedChar y = fold.Next(q, q_end);
    if (x.code != y.code) return SortWeight(x.code) < SortWeight(y.code) ? -1 : 1;
    p += x.width;
    q += y.width;
  }
  if (p == p_end) return q == q_end ? 0 : -1;
  return 1;
}

void AppendSortKey(std::string_view text, std::string& out) {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const unsigned char* p = Bytes(text);
  const unsigned char* end = p + text.size();
  while (p != end) {
    FoldedChar c = fold.Next(p, end);
    uint32_t weight = SortWeight(c.code);
    const char key[3] = {static_cast<char>(weight >> 16), static_cast<char>(weight >> 8), static_cast<char>(weight)};
    out.append(key, 3);
    p += c.width;
  }
}

LikePattern::LikePattern(std::string_view pattern) {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const unsigned char* p = Bytes(pattern);
  const unsigned char* end = p + pattern.size();
  while (p != end) {
    // Only the ASCII bytes are wildcards; a full-width "%" folds to a plain character.
    if (*p == '%' || *p == '_') {
      units_.push_back({*p == '%' ? Unit::kRun : Unit::kOne, 0});
      ++p;
      continue;
    }
    FoldedChar c = fold.Next(p, end);
    units_.push_back({Unit::kChar, c.code});
    p += c.width;
  }
  ChoosePrefilter();

  size_t lead = 0;
  while (lead < units_.size() && units_[lead].kind == Unit::kRun) ++lead;
  if (lead == units_.size() && lead > 0) {
    shape_ = Shape::kAny;
    return;
  }
  size_t trail = 0;
  while (trail < units_.size() && units_[units_.size() - 1 - trail].kind == Unit::kRun) ++trail;
  for (size_t k = lead; k < units_.size() - trail; ++k) {
    if (units_[k].kind != Unit::kChar) {
      literal_.clear();
      return;  // shape stays kGeneral
    }
    literal_.push_back(units_[k].code);
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

std::vector<std::vector<uint16_t>> LikePattern::LiteralRuns() const {
  std::vector<std::vector<uint16_t>> runs(1);
  for (const Unit& unit : units_) {
    if (unit.kind == Unit::kChar) {
      runs.back().push_back(unit.code);
    } else if (!runs.back().empty()) {
      runs.emplace_back();
    }
  }
  if (runs.back().empty()) runs.pop_back();
  return runs;
}

void LikePattern::ChoosePrefilter() {
  const KanaFold& fold = KanaFold::IgnoringCase();
  // The longest run of characters that have only one form: those bytes appear verbatim.
  std::string run;
  for (size_t k = 0; k <= units_.size(); ++k) {
    if (k < units_.size() && units_[k].kind == Unit::kChar && fold.IsSoleForm(units_[k].code)) {
      KanaFold::AppendCode(units_[k].code, run);
      continue;
    }
    if (run.size() > needle_.size()) needle_ = run;
    run.clear();
  }
  if (!needle_.empty()) return;

  // Otherwise each character's signature bytes; a text must hold one byte of every
  // character's set, which one pass over its bytes finds out.
  size_t chosen = 0;
  for (const Unit& unit : units_) {
    if (unit.kind != Unit::kChar || chosen == 8) continue;
    unsigned char bytes[16];
    size_t size = fold.SignatureBytes(unit.code, bytes, sizeof bytes);
    if (size == 0 || size > sizeof bytes) continue;
    const uint8_t bit = static_cast<uint8_t>(1u << chosen++);
    for (size_t i = 0; i < size; ++i) signature_class_[bytes[i]] |= bit;
    signature_mask_ |= bit;
  }
}

bool LikePattern::PassesPrefilter(std::string_view text) const {
  if (!needle_.empty()) return text.find(needle_) != std::string_view::npos;
  // Eight bytes per step keep the loop to a load and an "or" per byte.
  const unsigned char* p = Bytes(text);
  const size_t size = text.size();
  const uint8_t* c = signature_class_;
  unsigned seen = 0;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    seen |= c[p[i]] | c[p[i + 1]] | c[p[i + 2]] | c[p[i + 3]] | c[p[i + 4]] | c[p[i + 5]] | c[p[i + 6]] | c[p[i + 7]];
    if (seen == signature_mask_) return true;
  }
  for (; i < size; ++i) seen |= c[p[i]];
  return seen == signature_mask_;
}

bool LikePattern::Matches(std::string_view text) const {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const unsigned char* begin = Bytes(text);
  const unsigned char* end = begin + text.size();
  switch (shape_) {
    case Shape::kAny:
      return true;
    case Shape::kExact:
      return MatchCodes(fold, begin, end, literal_.data(), literal_.size()) == end;
    case Shape::kPrefix:
      return MatchCodes(fold, begin, end, literal_.data(), literal_.size()) != nullptr;
    case Shape::kSuffix:
      return PassesPrefilter(text) && FindSuffix(text);
    case Shape::kContains:
      return PassesPrefilter(text) && FindContains(text);
    case Shape::kGeneral:
      break;
  }
  return PassesPrefilter(text) && MatchGeneral(text);
}

bool LikePattern::FindContains(std::string_view text) const {
  // Walks the text's characters from the start (Shift_JIS cannot be read backwards) and tries
  // the literal wherever the first code matches.
  const KanaFold& fold = KanaFold::IgnoringCase();
  const unsigned char* p = Bytes(text);
  const unsigned char* end = p + text.size();
  const uint16_t first = literal_[0];
  const size_t count = literal_.size();
  while (static_cast<size_t>(end - p) >= count) {  // a character takes at least one byte
    FoldedChar c = fold.Next(p, end);
    if (c.code == first && MatchCodes(fold, p + c.width, end, literal_.data() + 1, count - 1) != nullptr) return true;
    p += c.width;
  }
  return false;
}

bool LikePattern::FindSuffix(std::string_view text) const {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const unsigned char* p = Bytes(text);
  const unsigned char* end = p + text.size();
  const size_t count = literal_.size();
  while (static_cast<size_t>(end - p) >= count) {
    // A character takes at most two bytes, so a match cannot start further back.
    if (static_cast<size_t>(end - p) <= 2 * count &&
        MatchCodes(fold, p, end, literal_.data(), count) == end) {
      return true;
    }
    p += fold.Next(p, end).width;
  }
  return false;
}

bool LikePattern::MatchGeneral(std::string_view text) const {
  // Iterative wildcard match over folded characters; on a mismatch the last "%" takes one
  // more character of the text.
  const KanaFold& fold = KanaFold::IgnoringCase();
  const unsigned char* t = Bytes(text);
  const unsigned char* end = t + text.size();
  constexpr size_t kNoStar = static_cast<size_t>(-1);
  size_t u = 0;
  size_t star_u = kNoStar;
  const unsigned char* star_t = t;
  while (t != end) {
    if (u < units_.size() && units_[u].kind == Unit::kRun) {
      while (u < units_.size() && units_[u].kind == Unit::kRun) ++u;
      star_u = u;
      star_t = t;
      continue;
    }
    FoldedChar c = fold.Next(t, end);
    if (u < units_.size() && (units_[u].kind == Unit::kOne || units_[u].code == c.code)) {
      ++u;
      t += c.width;
      continue;
    }
    if (star_u == kNoStar) return false;
    star_t += fold.Next(star_t, end).width;
    t = star_t;
    u = star_u;
  }
  while (u < units_.size() && units_[u].kind == Unit::kRun) ++u;
  return u == units_.size();
}

}  // namespace shelfra
