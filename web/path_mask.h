// PathMask: whole-text wildcard matching of a request's path info against an action's path.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace shelfra {

// Compiled from a pattern: "*" any run of bytes, "?" any one byte, "[...]" one byte of a set
// ("!" first inverts it, "a-z" a range); any other byte matches itself, ASCII letters ignoring
// case, a Shift_JIS double-byte character exactly. An empty pattern matches only an empty text.
class PathMask {
 public:
  // Raises Exception "mask '<pattern>' is invalid" for an unclosed set or a range without a start.
  explicit PathMask(std::string_view pattern);
  bool Matches(std::string_view text) const;
  const std::string& Pattern() const { return pattern_; }

 private:
  struct Element {
    enum Kind { kLiteral, kDoubleByte, kAnyRun, kAnyByte, kSet } kind;
    std::string bytes;  // literal byte(s); for a set, a 256-entry membership table
    bool inverted = false;
  };
  bool MatchFrom(size_t element, std::string_view text, size_t pos) const;

  std::string pattern_;
  std::vector<Element> elements_;
};

}  // namespace shelfra
