// Reading a result list's parameters.
#include "opac/search_query.h"

#include <cstdint>
#include <utility>

#include "base/sjis_utf8.h"
#include "opac/html.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace r = res::opac;

namespace {

// The boxes of the form in Shift_JIS; nothing, and `notice_html` says which characters stopped
// it (and `missing` holds them), when a word holds a character the catalogue's Shift_JIS lacks.
std::optional<WordCriteria> InCatalogueText(const FormValues& values, std::string& notice_html,
                                            std::vector<uint32_t>& missing_codes) {
  WordCriteria criteria;
  const std::pair<const std::string*, std::string*> boxes[] = {{&values.q, &criteria.q},
                                                               {&values.title, &criteria.title},
                                                               {&values.author, &criteria.author},
                                                               {&values.keyword, &criteria.keyword}};
  std::string missing_html;
  for (const auto& [utf8, sjis] : boxes) {
    uint32_t missing = 0;
    if (Utf8ToSjis(*utf8, *sjis, missing) != Utf8ToSjisResult::kOk) {
      missing_html += ' ';
      missing_html += NamedCharacter(missing);
      missing_codes.push_back(missing);
    }
  }
  criteria.class_prefix = values.class_prefix;
  if (missing_html.empty()) return criteria;
  notice_html = std::string(r::kNoSjisText) + missing_html;
  return std::nullopt;
}

SearchQuery Refused(SearchQuery query, SearchRefusal refusal, std::string_view text_html) {
  query.refusal = refusal;
  query.refusal_html = std::string(text_html);
  return query;
}

}  // namespace

FormValues FormValuesOf(const Request& request) {
  return FormValues{request.Value("q"), request.Value("title"), request.Value("author"), request.Value("keyword"),
                    request.Value("class")};
}

std::optional<int> Count(std::string_view text) {
  if (text.empty() || text.size() > 9 || text[0] == '0') return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<Paging> PagingOf(const Request& request) {
  const std::string per_text = request.Value("per");
  const std::string page_text = request.Value("page");
  const std::optional<int> per = per_text.empty() ? 20 : Count(per_text);
  const std::optional<int> page = page_text.empty() ? 1 : Count(page_text);
  if (!per || (*per != 20 && *per != 50 && *per != 100) || !page) return std::nullopt;
  return Paging{*page, *per};
}

bool SearchQuery::Malformed() const {
  return refusal == SearchRefusal::kBadClass || refusal == SearchRefusal::kBadPaging ||
         refusal == SearchRefusal::kBadSort || refusal == SearchRefusal::kTooManyWords;
}

SearchQuery ReadSearch(const Request& request) {
  SearchQuery query;
  query.values = FormValuesOf(request);
  const std::string& klass = query.values.class_prefix;
  if (!klass.empty() && (klass.size() != 1 || klass[0] < '0' || klass[0] > '9')) {
    return Refused(std::move(query), SearchRefusal::kBadClass, r::kBadClass);
  }
  const std::optional<Paging> paging = PagingOf(request);
  if (!paging) return Refused(std::move(query), SearchRefusal::kBadPaging, r::kBadPaging);
  query.paging = *paging;
  query.sort = request.Value("sort");
  const std::optional<AnswerOrder> order = query.sort.empty() ? AnswerOrder::kReading : AnswerOrderNamed(query.sort);
  if (!order) return Refused(std::move(query), SearchRefusal::kBadSort, r::kBadSort);
  query.order = *order;
  std::string notice_html;
  std::optional<WordCriteria> criteria = InCatalogueText(query.values, notice_html, query.unsearchable);
  if (!criteria) return Refused(std::move(query), SearchRefusal::kNotInCatalogueText, notice_html);
  if (criteria->OverfullBox()) return Refused(std::move(query), SearchRefusal::kTooManyWords, r::kTooManyWords);
  if (criteria->Empty()) return Refused(std::move(query), SearchRefusal::kEmpty, r::kEmptySearch);
  query.criteria = std::move(*criteria);
  return query;
}

std::string SearchTitle(const FormValues& values, int page) {
  std::string words;
  for (const std::string* box : {&values.q, &values.title, &values.author, &values.keyword, &values.class_prefix}) {
    if (box->empty()) continue;
    if (!words.empty()) words += ' ';
    words += *box;
  }
  std::string title = std::string(r::kResultsHeading) + std::string(r::kTitleWordsOpen) + words +
                      std::string(r::kTitleWordsClose);
  // Appended: g++ 12 at -O3 warns falsely of an overlapping copy in " " + a temporary string.
  if (page > 1) title.append(" ").append(std::to_string(page)).append(r::kTitlePage);
  return title;
}

}  // namespace shelfra::opac
