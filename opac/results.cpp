// The result list and the book page.
#include "opac/results.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>

#include "catalogue/identifier.h"
#include "catalogue/word_search.h"
#include "opac/html.h"
#include "opac/request.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace {

namespace r = res::opac;
using F = BookField;

// A row of the list holds the result list's fields (ResultListFields), which the search index
// keeps a copy of, so a page of rows is read without the book table; by position, then the
// book's flags (kept in the index's shown rows too):
enum Column { kNumber, kClassCode, kBookMark, kVolumeMark, kTitle, kSeries, kAuthor, kPublisher, kYear };
constexpr BookField kFlags[] = {F::kReferenceOnly, F::kMissing, F::kWithdrawn};

std::vector<std::string_view> RowFields() {
  std::vector<std::string_view> fields = ResultListFields();
  for (BookField flag : kFlags) fields.push_back(BookFieldName(flag));
  return fields;
}

std::string WithThousands(int n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// The boxes of a search as the visitor wrote them, with their labels.
struct BoxOf {
  std::string_view name;
  std::string FormValues::*utf8;
  std::string WordCriteria::*sjis;
  std::string_view label;
};
constexpr BoxOf kBoxesOf[] = {{"q", &FormValues::q, &WordCriteria::q, r::kQCriterion},
                              {"title", &FormValues::title, &WordCriteria::title, r::kTitleLabel},
                              {"author", &FormValues::author, &WordCriteria::author, r::kAuthorLabel},
                              {"keyword", &FormValues::keyword, &WordCriteria::keyword, r::kKeywordLabel},
                              {"class", &FormValues::class_prefix, &WordCriteria::class_prefix, r::kClassLabel}};

// The query string of the list of `values` at page `page`, `per` a page, in order `sort`
// (not escaped for HTML).
std::string QueryOf(const FormValues& values, int page, int per, std::string_view sort) {
  std::string address;
  for (const BoxOf& box : kBoxesOf) {
    const std::string& value = values.*box.utf8;
    if (!value.empty()) address += std::string(box.name) + "=" + QueryEscape(value) + "&";
  }
  if (!sort.empty()) address += "sort=" + std::string(sort) + "&";
  if (per != 20) address += "per=" + std::to_string(per) + "&";
  address += "page=" + std::to_string(page);
  return address;
}

// The address of the list of `values` at page `page`, `per` a page, in order `sort`, escaped
// for HTML.
std::string Address(const ResultPaging& p, const FormValues& values, int page, int per, std::string_view sort) {
  return HtmlEscape(std::string(p.script_name) + "/search?" + QueryOf(values, page, per, sort));
}

std::string PageAddress(const ResultPaging& p, int page, int per) { return Address(p, p.values, page, per, p.sort); }

// A link that searches `box` for the catalogue's `sjis` value; nothing for an empty value or
// one of more words than a box takes.
std::string SearchLink(std::string_view script_name, std::string_view box, std::string_view sjis,
                       std::string_view label) {
  const std::vector<std::string> words = SplitWords(sjis);
  if (words.empty() || words.size() > kMaxWordsPerBox) return std::string();
  const std::string address = std::string(script_name) + "/search?" + std::string(box) + "=" + QueryEscape(FromSjis(sjis));
  return "<li><a href=\"" + HtmlEscape(address) + "\">" + std::string(label) + "</a></li>\n";
}

// The book's state from its due date and the texts of its kFlags fields: on loan with its due
// date, or on the shelf unless a flag says why not, then its flags. The list's rows and the book
// page say it alike.
std::string State(const std::optional<std::string>& due, const std::string* const (&flags)[std::size(kFlags)]) {
  std::string state;
  if (due) state = std::string(r::kOnLoan) + Shown(*due) + std::string(r::kOnLoanEnd);
  const std::string_view texts[] = {r::kReferenceOnly, r::kMissing, r::kWithdrawn};
  for (size_t i = 0; i < std::size(kFlags); ++i) {
    if (*flags[i] != "True") continue;
    if (!state.empty()) state += " / ";
    state += texts[i];
  }
  return state.empty() ? std::string(r::kOnShelf) : state;
}

// State of a row read with RowFields().
std::string RowState(const std::optional<std::string>& due, const std::vector<std::string>& row) {
  const size_t at = ResultListFields().size();
  const std::string* const flags[] = {&row[at], &row[at + 1], &row[at + 2]};
  return State(due, flags);
}

// `back`: the list's query string, escaped as a query value.
std::string Row(const std::vector<std::string>& row, std::string_view state_html, bool identified,
                std::string_view script_name, std::string_view back) {
  // Composed as CatalogueService::CallNumber composes the book page's.
  const std::string call_number = row[kClassCode] + "/" + row[kBookMark] + "/" + row[kVolumeMark];
  const std::string book = std::string(script_name) + "/book/" + FromSjis(row[kNumber]) + "?back=" + std::string(back);
  std::string html = "<li><h2><a href=\"" + HtmlEscape(book) + "\">" + Shown(row[kTitle]) + "</a></h2>\n";
  if (identified) html += "<p class=\"match\">" + std::string(r::kIdentifierMatch) + "</p>\n";
  html += "<dl>\n";
  html += Term(r::kAuthor, Shown(row[kAuthor]));
  html += Term(r::kSeries, Shown(row[kSeries]));
  html += Term(r::kPublisher, Shown(row[kPublisher]));
  html += Term(r::kYear, Shown(row[kYear]));
  html += Term(r::kCallNumber, Shown(call_number));
  html += Term(r::kState, state_html);
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

// The other orders of the list, the one shown marked.
std::string SortLinks(const ResultPaging& p) {
  static constexpr std::pair<std::string_view, std::string_view> kOrders[] = {
      {"", r::kSortReading}, {"title", r::kSortTitle}, {"author", r::kSortAuthor},
      {"year", r::kSortYear}, {"-year", r::kSortYearDown}, {"new", r::kSortNew}};
  std::string html = "<nav aria-label=\"" + std::string(r::kSortNav) + "\"><ul>\n";
  for (const auto& [sort, label] : kOrders) {
    const bool current = sort == p.sort || (sort.empty() && p.sort == "reading");
    if (current) {
      html += "<li aria-current=\"true\">" + std::string(label) + "</li>\n";
    } else {
      html += "<li><a href=\"" + Address(p, p.values, 1, p.per, sort) + "\">" + std::string(label) + "</a></li>\n";
    }
  }
  return html + "</ul></nav>\n";
}

// The classes of the answer with their counts, each a link to the answer in that class alone.
std::string ClassLinks(const ResultPaging& p, const std::array<int, 10>& classes) {
  std::string html = "<aside aria-labelledby=\"classes\"><h2 id=\"classes\">" + std::string(r::kClassesHeading) +
                     "</h2>\n<ul>\n";
  for (size_t digit = 0; digit < classes.size(); ++digit) {
    if (classes[digit] == 0) continue;
    FormValues narrowed = p.values;
    narrowed.class_prefix = std::to_string(digit);
    const std::string name = p.class_names_html ? (*p.class_names_html)[digit] : std::string();
    const std::string label = narrowed.class_prefix + " " + name + " (" + WithThousands(classes[digit]) + ")";
    if (narrowed.class_prefix == p.values.class_prefix) {
      html += "<li aria-current=\"true\">" + label + "</li>\n";
    } else {
      html += "<li><a href=\"" + Address(p, narrowed, 1, p.per, p.sort) + "\">" + label + "</a></li>\n";
    }
  }
  if (!p.values.class_prefix.empty()) {
    FormValues widened = p.values;
    widened.class_prefix.clear();
    html += "<li><a href=\"" + Address(p, widened, 1, p.per, p.sort) + "\">" + std::string(r::kAllClasses) + "</a></li>\n";
  }
  return html + "</ul></aside>\n";
}

// The books the one word of `q` identifies (a registration number, an ISBN) when no other box
// is filled; none otherwise.
std::vector<int32_t> Identified(CatalogueService& catalogue, const WordCriteria& c) {
  const std::vector<std::string> words = SplitWords(c.q);
  if (words.size() != 1 || !SplitWords(c.title).empty() || !SplitWords(c.author).empty() ||
      !SplitWords(c.keyword).empty()) {
    return {};
  }
  return catalogue.IdentifiedBooks(words[0], c.class_prefix);
}

// How many books the list of `c` holds: the identified ones and the word search's others.
int Found(CatalogueService& catalogue, const WordCriteria& c) {
  const std::vector<int32_t> identified = Identified(catalogue, c);
  catalogue.WordSearch(c);
  return static_cast<int>(identified.size() + catalogue.Outline(AnswerOrder::kReading, identified).count);
}

// For a search that found nothing: what each criterion finds alone, and a link dropping each
// one without which the others find something. Only for two criteria or more.
std::string NoResultHelp(CatalogueService& catalogue, const WordCriteria& criteria, const ResultPaging& p) {
  std::vector<const BoxOf*> used;
  for (const BoxOf& box : kBoxesOf) {
    if (!(p.values.*box.utf8).empty()) used.push_back(&box);
  }
  if (used.size() < 2) return std::string();
  std::string alone_html = "<h2>" + std::string(r::kAloneHeading) + "</h2>\n<ul>\n";
  std::string drop_html;
  for (const BoxOf* box : used) {
    const std::string label = std::string(box->label) + std::string(r::kQuoteOpen) + HtmlEscape(p.values.*box->utf8) +
                              std::string(r::kQuoteClose);
    WordCriteria alone;
    alone.*box->sjis = criteria.*box->sjis;
    alone_html += "<li>" + label + ": " + WithThousands(Found(catalogue, alone)) + std::string(r::kCountUnit) +
                  "</li>\n";
    WordCriteria without = criteria;
    (without.*box->sjis).clear();
    const int found = Found(catalogue, without);
    if (found == 0) continue;
    FormValues dropped = p.values;
    (dropped.*box->utf8).clear();
    drop_html += "<li><a href=\"" + Address(p, dropped, 1, p.per, p.sort) + "\">" + label + std::string(r::kDropLink) +
                 " (" + WithThousands(found) + std::string(r::kCountUnit) + ")</a></li>\n";
  }
  std::string html = alone_html + "</ul>\n";
  if (!drop_html.empty()) html += "<ul>\n" + drop_html + "</ul>\n";
  return html;
}

std::string Text(CatalogueService& catalogue, BookField field) { return catalogue.BookText(BookFieldName(field)); }

}  // namespace

std::string ResultList(CatalogueService& catalogue, const WordCriteria& criteria, const ResultPaging& p) {
  const std::vector<int32_t> identified = Identified(catalogue, criteria);
  std::vector<std::vector<std::string>> identified_rows;
  std::array<int, 10> classes{};
  for (int32_t number : identified) {
    catalogue.FindBook(number);
    identified_rows.push_back(catalogue.BookRow(RowFields()));
    const std::string& code = identified_rows.back()[kClassCode];
    if (!code.empty() && code[0] >= '0' && code[0] <= '9') ++classes[static_cast<size_t>(code[0] - '0')];
  }
  catalogue.WordSearch(criteria);
  const AnswerOutline outline = catalogue.Outline(p.order, identified);
  for (size_t digit = 0; digit < classes.size(); ++digit) classes[digit] += outline.classes[digit];
  const int found = static_cast<int>(identified.size()) + outline.count;

  std::string html = "<h1>" + std::string(r::kResultsHeading) + "</h1>\n";
  if (found == 0) {
    html += Notice(r::kNoResults);
    html += NoResultHelp(catalogue, criteria, p);
  } else {
    const int last = (found + p.per - 1) / p.per;
    const int page = std::min(p.page, last);
    const int first = (page - 1) * p.per;
    const int end = std::min(found, first + p.per);
    std::vector<int> positions;
    for (int i = std::max(first, static_cast<int>(identified.size())); i < end; ++i) {
      positions.push_back(outline.At(i - static_cast<int>(identified.size())));
    }
    std::vector<std::vector<std::string>> rows;
    for (int i = first; i < std::min(end, static_cast<int>(identified.size())); ++i) {
      rows.push_back(identified_rows[static_cast<size_t>(i)]);
    }
    const size_t identified_shown = rows.size();
    for (std::vector<std::string>& row : catalogue.WindowAt(positions, RowFields())) rows.push_back(std::move(row));
    html += "<p role=\"status\">" + WithThousands(found) + std::string(r::kCountOf) + WithThousands(first + 1) +
            "\xE2\x80\x93" + WithThousands(end) + std::string(r::kCountUnit) + "</p>\n";
    html += SortLinks(p);
    html += ClassLinks(p, classes);
    html += "<ol class=\"books\" start=\"" + std::to_string(first + 1) + "\">\n";
    const std::string back = QueryEscape(QueryOf(p.values, page, p.per, p.sort));
    for (size_t i = 0; i < rows.size(); ++i) {
      const std::optional<int32_t> number = RegistrationNumberWord(rows[i][kNumber]);
      const std::string state = RowState(number ? catalogue.DueDateOf(*number) : std::nullopt, rows[i]);
      html += Row(rows[i], state, i < identified_shown, p.script_name, back);
    }
    html += "</ol>\n";
    html += PageLinks(p, page, last);
  }
  // The search page with this search's boxes filled in.
  std::string again = std::string(p.script_name) + "/?";
  for (const BoxOf& box : kBoxesOf) {
    const std::string& value = p.values.*box.utf8;
    if (!value.empty()) again += std::string(box.name) + "=" + QueryEscape(value) + "&";
  }
  again.pop_back();
  html += "<p><a href=\"" + HtmlEscape(again) + "\">" + std::string(r::kSearchAgain) + "</a></p>\n";
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
  const std::string flag_texts[] = {Text(catalogue, kFlags[0]), Text(catalogue, kFlags[1]), Text(catalogue, kFlags[2])};
  const std::string* const flags[] = {&flag_texts[0], &flag_texts[1], &flag_texts[2]};
  const std::string state = State(catalogue.DueDate(), flags);
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
