// The result list and the book page.
#include "opac/results.h"

#include <algorithm>
#include <iterator>

#include "catalogue/word_search.h"
#include "opac/html.h"
#include "opac/request.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace {

namespace r = res::opac;
using F = BookField;

// A row of the list holds the result list's fields (ResultListFields), which the search index
// keeps a copy of, so a page of rows is read without the book table; by position:
enum Column { kNumber, kClassCode, kBookMark, kVolumeMark, kTitle, kSeries, kAuthor, kPublisher, kYear };

std::string WithThousands(int n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// The query string of page `page` of the list, at `per` a page (unescaped for HTML).
std::string PageQuery(const ResultPaging& p, int page, int per) {
  std::string address;
  const std::pair<std::string_view, const std::string*> boxes[] = {{"q", &p.values.q},
                                                                   {"title", &p.values.title},
                                                                   {"author", &p.values.author},
                                                                   {"keyword", &p.values.keyword},
                                                                   {"class", &p.values.class_prefix}};
  for (const auto& [name, value] : boxes) {
    if (!value->empty()) address += std::string(name) + "=" + QueryEscape(*value) + "&";
  }
  if (per != 20) address += "per=" + std::to_string(per) + "&";
  address += "page=" + std::to_string(page);
  return address;
}

// The address of page `page` of the list, at `per` a page.
std::string PageAddress(const ResultPaging& p, int page, int per) {
  return HtmlEscape(std::string(p.script_name) + "/search?" + PageQuery(p, page, per));
}

// A link that searches `box` for the catalogue's `sjis` value; nothing for an empty value or
// one of more words than a box takes.
std::string SearchLink(std::string_view script_name, std::string_view box, std::string_view sjis,
                       std::string_view label) {
  const std::vector<std::string> words = SplitWords(sjis);
  if (words.empty() || words.size() > kMaxWordsPerBox) return std::string();
  const std::string address = std::string(script_name) + "/search?" + std::string(box) + "=" + QueryEscape(FromSjis(sjis));
  return "<li><a href=\"" + HtmlEscape(address) + "\">" + std::string(label) + "</a></li>\n";
}

// `back`: the list's query string, escaped as a query value.
std::string Row(const std::vector<std::string>& row, std::string_view script_name, std::string_view back) {
  // Composed as CatalogueService::CallNumber composes the book page's.
  const std::string call_number = row[kClassCode] + "/" + row[kBookMark] + "/" + row[kVolumeMark];
  const std::string book = std::string(script_name) + "/book/" + FromSjis(row[kNumber]) + "?back=" + std::string(back);
  std::string html = "<li><h2><a href=\"" + HtmlEscape(book) + "\">" + Shown(row[kTitle]) + "</a></h2>\n<dl>\n";
  html += Term(r::kAuthor, Shown(row[kAuthor]));
  html += Term(r::kSeries, Shown(row[kSeries]));
  html += Term(r::kPublisher, Shown(row[kPublisher]));
  html += Term(r::kYear, Shown(row[kYear]));
  html += Term(r::kCallNumber, Shown(call_number));
  html += "</dl></li>\n";
  return html;
}

std::string PageLinks(const ResultPaging& p, int page, int last) {
  std::string html = "<nav aria-label=\"" + std::string(r::kPagesNav) + "\"><ul>\n";
  auto link = [&](std::string_view label, int target, bool shown) {
    if (shown) html += "<li><a href=\"" + PageAddress(p, target, p.per) + "\">" + std::string(label) + "</a></li>\n";
  };
  link(r::kFirstPage, 1, page > 1);
  link(r::kPrevPage, page - 1, page > 1);
  html += "<li aria-current=\"page\">" + std::to_string(page) + std::string(r::kPageOf) + std::to_string(last) +
          std::string(r::kPageUnit) + "</li>\n";
  link(r::kNextPage, page + 1, page < last);
  link(r::kLastPage, last, page < last);
  html += "</ul></nav>\n<nav aria-label=\"" + std::string(r::kPerLabel) + "\"><ul>\n";
  for (int per : {20, 50, 100}) {
    const std::string label = std::to_string(per) + std::string(r::kCountUnit);
    if (per == p.per) {
      html += "<li aria-current=\"true\">" + label + "</li>\n";
    } else {
      html += "<li><a href=\"" + PageAddress(p, 1, per) + "\">" + label + "</a></li>\n";
    }
  }
  return html + "</ul></nav>\n";
}

std::string Text(CatalogueService& catalogue, BookField field) { return catalogue.BookText(BookFieldName(field)); }

}  // namespace

std::string ResultList(CatalogueService& catalogue, const WordCriteria& criteria, const ResultPaging& p) {
  const int found = catalogue.WordSearch(criteria);
  std::string html = "<h1>" + std::string(r::kResultsHeading) + "</h1>\n";
  if (found == 0) {
    html += Notice(r::kNoResults);
  } else {
    const int last = (found + p.per - 1) / p.per;
    const int page = std::min(p.page, last);
    const int first = (page - 1) * p.per;
    const std::vector<std::vector<std::string>> rows = catalogue.Window(first, p.per, ResultListFields());
    html += "<p role=\"status\">" + WithThousands(found) + std::string(r::kCountOf) + WithThousands(first + 1) +
            "\xE2\x80\x93" + WithThousands(first + static_cast<int>(rows.size())) + std::string(r::kCountUnit) +
            "</p>\n";
    html += "<ol class=\"books\" start=\"" + std::to_string(first + 1) + "\">\n";
    const std::string back = QueryEscape(PageQuery(p, page, p.per));
    for (const std::vector<std::string>& row : rows) html += Row(row, p.script_name, back);
    html += "</ol>\n";
    html += PageLinks(p, page, last);
  }
  html += "<p><a href=\"" + HtmlEscape(std::string(p.script_name) + "/") + "\">" + std::string(r::kSearchAgain) +
          "</a></p>\n";
  return html;
}

std::optional<std::string> ListQuery(std::string_view query) {
  static constexpr std::string_view kListParameters[] = {"q", "title", "author", "keyword", "class",
                                                         "sort", "page", "per"};
  if (query.size() > 2000) return std::nullopt;
  const auto parameters = ParseQuery(query);
  if (!parameters || parameters->empty()) return std::nullopt;
  std::string out;
  for (const auto& [name, value] : *parameters) {
    if (std::find(std::begin(kListParameters), std::end(kListParameters), name) == std::end(kListParameters)) {
      return std::nullopt;
    }
    if (!out.empty()) out += '&';
    out += name + "=" + QueryEscape(value);
  }
  return out;
}

std::string BookDetails(CatalogueService& catalogue, std::string_view script_name, std::string_view back_query,
                        std::string& title) {
  title = FromSjis(Text(catalogue, F::kTitle));
  const std::string number = FromSjis(Text(catalogue, F::kRegistrationNumber));
  std::string state;
  if (std::optional<std::string> due = catalogue.DueDate()) {
    state = std::string(r::kOnLoan) + Shown(*due) + std::string(r::kOnLoanEnd);
  } else {
    state = r::kOnShelf;
  }
  const std::pair<BookField, std::string_view> flags[] = {
      {F::kReferenceOnly, r::kReferenceOnly}, {F::kMissing, r::kMissing}, {F::kWithdrawn, r::kWithdrawn}};
  for (const auto& [field, text] : flags) {
    if (Text(catalogue, field) == "True") state += std::string(" / ") + std::string(text);
  }
  std::string html = "<h1>" + HtmlEscape(title) + "</h1>\n<dl>\n";
  html += Term(r::kReading, Shown(Text(catalogue, F::kTitleReading)));
  html += Term(r::kSeries, Shown(Text(catalogue, F::kSeries)));
  html += Term(r::kAuthor, Shown(Text(catalogue, F::kAuthor)));
  html += Term(r::kPublisher, Shown(Text(catalogue, F::kPublisher)));
  html += Term(r::kYear, Shown(Text(catalogue, F::kYear)));
  html += Term(r::kPages, Shown(Text(catalogue, F::kPages)));
  html += Term(r::kSize, Shown(Text(catalogue, F::kSize)));
  html += Term(r::kCallNumber, Shown(catalogue.CallNumber()));
  html += Term(r::kPlace, Shown(Text(catalogue, F::kPlace)));
  html += Term(r::kIsbn, Shown(Text(catalogue, F::kIsbn)));
  html += Term(r::kNote, Shown(Text(catalogue, F::kNote)));
  html += Term(r::kContents, Shown(Text(catalogue, F::kContents)));
  html += Term(r::kSubjects, Shown(Text(catalogue, F::kSubjects)));
  html += Term(r::kNumber, HtmlEscape(number));
  html += Term(r::kState, state);
  html += "</dl>\n";
  // The series is searched with the title box, which tests the series fields too.
  std::string links = SearchLink(script_name, "author", Text(catalogue, F::kAuthor), r::kSameAuthor);
  links += SearchLink(script_name, "title", Text(catalogue, F::kSeries), r::kSameSeries);
  if (!back_query.empty()) {
    links += "<li><a href=\"" + HtmlEscape(std::string(script_name) + "/search?" + std::string(back_query)) + "\">" +
             std::string(r::kBackToList) + "</a></li>\n";
  }
  if (!links.empty()) html += "<nav aria-label=\"" + std::string(r::kBookLinks) + "\"><ul>\n" + links + "</ul></nav>\n";
  return html;
}

}  // namespace shelfra::opac
