// Whole-text wildcard matching.
#include "web/path_mask.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "web_res.h"

namespace shelfra {

namespace {
bool SameByte(char a, char b) { return AsciiUpper(a) == AsciiUpper(b); }
}  // namespace

PathMask::PathMask(std::string_view pattern) : pattern_(pattern) {
  size_t i = 0;
  const size_t n = pattern.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(pattern[i]);
    Element e{Element::kLiteral, std::string(), false};
    if (c == '*') {
      // "?" right after "*" adds nothing; consecutive stars are one.
      if (!elements_.empty() && elements_.back().kind == Element::kAnyRun) {
        ++i;
        continue;
      }
      e.kind = Element::kAnyRun;
      ++i;
      while (i < n && pattern[i] == '?') ++i;
    } else if (c == '?') {
      e.kind = Element::kAnyByte;
      ++i;
    } else if (c == '[') {
      e.kind = Element::kSet;
      e.bytes.assign(256, '\0');
      ++i;
      if (i < n && pattern[i] == '!') {
        e.inverted = true;
        ++i;
      }
      bool closed = false;
      while (i < n) {
        unsigned char lo = static_cast<unsigned char>(pattern[i]);
        if (lo == ']') {
          closed = true;
          ++i;
          break;
        }
        if (lo == '-') throw Exception(Format(res::web::kInvalidMask, {pattern, static_cast<int>(i + 1)}));
        unsigned char hi = lo;
        if (i + 2 < n && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
          hi = static_cast<unsigned char>(pattern[i + 2]);
          i += 3;
        } else {
          ++i;
        }
        for (unsigned v = lo; v <= hi; ++v) {
          e.bytes[v] = 1;
          if (IsAsciiAlpha(static_cast<unsigned char>(v))) {
            e.bytes[static_cast<unsigned char>(AsciiUpper(static_cast<char>(v)))] = 1;
            e.bytes[static_cast<unsigned char>(AsciiLower(static_cast<char>(v)))] = 1;
          }
        }
      }
      if (!closed) throw Exception(Format(res::web::kInvalidMask, {pattern, static_cast<int>(n)}));
    } else if (IsSjisLeadByte(c) && i + 1 < n) {
      e.kind = Element::kDoubleByte;
      e.bytes = std::string(pattern.substr(i, 2));
      i += 2;
    } else {
      e.bytes.assign(1, static_cast<char>(c));
      ++i;
    }
    elements_.push_back(std::move(e));
  }
}

bool PathMask::Matches(std::string_view text) const { return MatchFrom(0, text, 0); }

bool PathMask::MatchFrom(size_t element, std::string_view text, size_t pos) const {
  for (; element < elements_.size(); ++element) {
    const Element& e = elements_[element];
    switch (e.kind) {
      case Element::kAnyRun:
        if (element + 1 == elements_.size()) return true;
        for (size_t start = pos; start <= text.size(); ++start) {
          if (MatchFrom(element + 1, text, start)) return true;
        }
        return false;
      case Element::kAnyByte:
        if (pos >= text.size()) return false;
        ++pos;
        break;
      case Element::kSet: {
        if (pos >= text.size()) return false;
        bool member = e.bytes[static_cast<unsigned char>(text[pos])] != 0;
        if (member == e.inverted) return false;
        ++pos;
        break;
      }
      case Element::kDoubleByte:
        if (text.substr(pos, 2) != e.bytes) return false;
        pos += 2;
        break;
      case Element::kLiteral:
        if (pos >= text.size() || !SameByte(text[pos], e.bytes[0])) return false;
        ++pos;
        break;
    }
  }
  return pos == text.size();
}

}  // namespace shelfra
