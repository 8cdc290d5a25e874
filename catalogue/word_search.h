// The word search of the second front: boxes of words, each word a line of the search statement
// built from the same line templates as the search form's, so both answer alike.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shelfra {

// The most words a box may hold; a box with more is refused (WordCriteria::OverfullBox), not
// cut, so that no word is ever silently left out of a search.
inline constexpr size_t kMaxWordsPerBox = 10;

// The criteria of a word search, in Shift_JIS. Each text box holds words separated by blanks
// (ASCII or full-width), every one of which must match: `title` as the form's first title box,
// `author` as its author box, `keyword` and `q` as its first keyword box. `class_prefix` is ""
// (every class) or a class code prefix, as the form's class selector sends it.
struct WordCriteria {
  std::string q, title, author, keyword, class_prefix;

  // No word in any box and no class chosen.
  bool Empty() const;
  // The name of the first box ("q", "title", "author", "keyword") holding more than
  // kMaxWordsPerBox words; nothing when every box is within the cap.
  std::optional<std::string_view> OverfullBox() const;
};

// The words of a box: the runs between ASCII blanks and full-width blanks (Shift_JIS 81 40),
// in order, none empty. The text is walked a character at a time, so the trail byte of a
// two-byte character is never taken for a blank; a byte that starts no character counts as one.
std::vector<std::string> SplitWords(std::string_view sjis);

// The lines of the search statement for `criteria`, in order: the select, the first title line
// (with the first title word, or empty), a further title line per further title word, an author
// line per author word, the class line (every prefix, "" too, as the form writes it for the
// same prefix), a keyword line per keyword word and then per `q` word, the order line.
// Requires: !criteria.OverfullBox().
std::vector<std::string> WordSearchStatementLines(const WordCriteria& criteria);

}  // namespace shelfra
