// Reading a search from an address.
#include "opac/search_request.h"

#include <string_view>
#include <utility>

#include "base/sjis_utf8.h"

namespace shelfra::opac {

namespace {

// A positive whole number of at most nine digits; nothing for any other text.
std::optional<int> Count(std::string_view text) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

FormValues FormValuesOf(const Request& request) {
  return FormValues{request.Value("q"), request.Value("title"), request.Value("author"), request.Value("keyword"),
                    request.Value("class")};
}

SearchAsked ReadSearch(const Request& request) {
  SearchAsked asked;
  asked.values = FormValuesOf(request);
  const std::string& klass = asked.values.class_prefix;
  if (!klass.empty() && (klass.size() != 1 || klass[0] < '0' || klass[0] > '9')) {
    asked.problem = SearchProblem::kBadClass;
    return asked;
  }
  const std::string per_text = request.Value("per");
  const std::string page_text = request.Value("page");
  const std::optional<int> per = per_text.empty() ? 20 : Count(per_text);
  const std::optional<int> page = page_text.empty() ? 1 : Count(page_text);
  if (!per || (*per != 20 && *per != 50 && *per != 100) || !page) {
    asked.problem = SearchProblem::kBadPaging;
    return asked;
  }
  asked.per = *per;
  asked.page = *page;
  asked.sort = request.Value("sort");
  const std::optional<AnswerOrder> order = asked.sort.empty() ? AnswerOrder::kReading : AnswerOrderNamed(asked.sort);
  if (!order) {
    asked.problem = SearchProblem::kBadSort;
    return asked;
  }
  asked.order = *order;
  const std::pair<const std::string*, std::string*> boxes[] = {{&asked.values.q, &asked.criteria.q},
                                                               {&asked.values.title, &asked.criteria.title},
                                                               {&asked.values.author, &asked.criteria.author},
                                                               {&asked.values.keyword, &asked.criteria.keyword}};
  for (const auto& [utf8, sjis] : boxes) {
    uint32_t missing = 0;
    if (Utf8ToSjis(*utf8, *sjis, missing) != Utf8ToSjisResult::kOk) asked.unsearchable.push_back(missing);
  }
  asked.criteria.class_prefix = klass;
  if (!asked.unsearchable.empty()) {
    asked.problem = SearchProblem::kUnsearchable;
  } else if (asked.criteria.OverfullBox()) {
    asked.problem = SearchProblem::kTooManyWords;
  } else if (asked.criteria.Empty()) {
    asked.problem = SearchProblem::kEmpty;
  }
  return asked;
}

}  // namespace shelfra::opac
