// The word search's statement lines.
#include "catalogue/word_search.h"

#include "base/sjis_utf8.h"
#include "catalogue/catalogue.h"
#include "catalogue_res.h"

namespace shelfra {

namespace {

namespace r = res::catalogue;

struct Box {
  std::string_view name;
  const std::string WordCriteria::*text;
};
constexpr Box kBoxes[] = {{"q", &WordCriteria::q},
                          {"title", &WordCriteria::title},
                          {"author", &WordCriteria::author},
                          {"keyword", &WordCriteria::keyword}};

}  // namespace

std::vector<std::string> SplitWords(std::string_view sjis) {
  std::vector<std::string> words;
  std::string word;
  for (size_t at = 0; at < sjis.size();) {
    size_t size = 1;
    SjisCodeAt(sjis, at, size);  // leaves size 1 for a byte that starts no character
    const std::string_view ch = sjis.substr(at, size);
    at += size;
    if (ch == " " || ch == "\x81\x40") {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
      continue;
    }
    word.append(ch);
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool WordCriteria::Empty() const {
  for (const Box& box : kBoxes) {
    if (!SplitWords(this->*box.text).empty()) return false;
  }
  return class_prefix.empty();
}

std::optional<std::string_view> WordCriteria::OverfullBox() const {
  for (const Box& box : kBoxes) {
    if (SplitWords(this->*box.text).size() > kMaxWordsPerBox) return box.name;
  }
  return std::nullopt;
}

std::vector<std::string> WordSearchStatementLines(const WordCriteria& c) {
  const std::vector<std::string> titles = SplitWords(c.title);
  std::vector<std::string> lines;
  lines.emplace_back(r::kSqlSelect);
  lines.push_back(StatementLine(r::kSqlTitleFirst, titles.empty() ? std::string() : titles[0]));
  for (size_t i = 1; i < titles.size(); ++i) lines.push_back(StatementLine(r::kSqlTitleMore, titles[i]));
  for (const std::string& word : SplitWords(c.author)) lines.push_back(StatementLine(r::kSqlAuthor, word));
  lines.push_back(StatementLine(r::kSqlClass, c.class_prefix));
  for (const std::string* box : {&c.keyword, &c.q}) {
    for (const std::string& word : SplitWords(*box)) lines.push_back(StatementLine(r::kSqlKeyword, word));
  }
  lines.emplace_back(r::kSqlOrder);
  return lines;
}

}  // namespace shelfra
