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

// The address of the list of `values` at page `page`, `per` a page, in order `sort`, escaped
// for HTML.
std::string Address(const ResultPaging& p, const FormValues& values, int page, int per, std::string_view sort) {
  return HtmlEscape(std::string(p.script_name) + std::string(p.list_path) + "?" +
                    ListQueryString(values, page, per, sort));
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

std::string StateHtml(const BookRecord& book) { return HtmlEscape(StateText(book)); }

// `back`: the list's query string, escaped as a query value; "" for no way back.
std::string Row(const BookRecord& book, bool identified, std::string_view script_name, std::string_view back) {
  std::string address = BookAddress(script_name, book.number);
  if (!back.empty()) address.append("?back=").append(back);
  std::string html = "<li><h2><a href=\"" + HtmlEscape(address) + "\">" + HtmlEscape(book.title) + "</a></h2>\n";
  if (identified) html += "<p class=\"match\">" + std::string(r::kIdentifierMatch) + "</p>\n";
  html += "<dl>\n";
  html += Term(r::kAuthor, HtmlEscape(book.author));
  html += Term(r::kSeries, HtmlEscape(book.series));
  html += Term(r::kPublisher, HtmlEscape(book.publisher));
  html += Term(r::kYear, HtmlEscape(book.year));
  html += Term(r::kCallNumber, HtmlEscape(book.call_number));
  html += Term(r::kState, StateHtml(book));
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
    alone_html += "<li>" + label + ": " + WithThousands(AnswerCount(catalogue, alone)) + std::string(r::kCountUnit) +
                  "</li>\n";
    WordCriteria without = criteria;
    (without.*box->sjis).clear();
    const int found = AnswerCount(catalogue, without);
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

// The count line of a page of books: "N of them, a to b".
std::string CountLine(const AnswerPage& answer) {
  const int end = answer.first + static_cast<int>(answer.books.size());
  return "<p role=\"status\">" + WithThousands(answer.found) + std::string(r::kCountOf) +
         WithThousands(answer.first + 1) + "\xE2\x80\x93" + WithThousands(end) + std::string(r::kCountUnit) + "</p>\n";
}

// The rows of a page of books, numbered from the answer position of the first.
std::string Rows(const AnswerPage& answer, std::string_view script_name, std::string_view back) {
  std::string html = "<ol class=\"books\" start=\"" + std::to_string(answer.first + 1) + "\">\n";
  for (size_t i = 0; i < answer.books.size(); ++i) {
    html += Row(answer.books[i], answer.identified[i], script_name, back);
  }
  return html + "</ol>\n";
}

}  // namespace

std::string ListQueryString(const FormValues& values, int page, int per, std::string_view sort) {
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

std::string StateText(const BookRecord& book) {
  std::string state;
  if (book.due) state = std::string(r::kOnLoan) + *book.due + std::string(r::kOnLoanEnd);
  const std::pair<bool, std::string_view> flags[] = {
      {book.reference_only, r::kReferenceOnly}, {book.missing, r::kMissing}, {book.withdrawn, r::kWithdrawn}};
  for (const auto& [set, text] : flags) {
    if (!set) continue;
    if (!state.empty()) state += " / ";
    state += text;
  }
  return state.empty() ? std::string(r::kOnShelf) : state;
}

std::string NewArrivalsList(CatalogueService& catalogue, const ResultPaging& p) {
  const AnswerPage answer = PageOfAnswer(catalogue, WordCriteria{}, AnswerOrder::kNewest, p.page, p.per);
  std::string html = "<h1>" + std::string(r::kNewHeading) + "</h1>\n";
  if (answer.found == 0) return html + Notice(r::kNoNewBooks);
  return html + CountLine(answer) + Rows(answer, p.script_name, "") + PageLinks(p, answer.page, answer.last);
}

std::string ResultList(CatalogueService& catalogue, const WordCriteria& criteria, const ResultPaging& p) {
  const AnswerPage answer = PageOfAnswer(catalogue, criteria, p.order, p.page, p.per);
  std::string html = "<h1>" + std::string(r::kResultsHeading) + "</h1>\n";
  if (answer.found == 0) {
    html += Notice(r::kNoResults);
    html += NoResultHelp(catalogue, criteria, p);
  } else {
    html += CountLine(answer);
    html += SortLinks(p);
    html += ClassLinks(p, answer.classes);
    html += Rows(answer, p.script_name, QueryEscape(ListQueryString(p.values, answer.page, p.per, p.sort)));
    html += PageLinks(p, answer.page, answer.last);
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
  const BookRecord book = CurrentBook(catalogue);
  title = book.title;
  std::string html = "<h1>" + HtmlEscape(book.title) + "</h1>\n<dl>\n";
  const std::pair<std::string_view, const std::string*> terms[] = {
      {r::kReading, &book.title_reading}, {r::kSeries, &book.series},     {r::kAuthor, &book.author},
      {r::kPublisher, &book.publisher},   {r::kYear, &book.year},         {r::kPages, &book.pages},
      {r::kSize, &book.size},             {r::kCallNumber, &book.call_number}, {r::kPlace, &book.place},
      {r::kIsbn, &book.isbn},             {r::kNote, &book.note},         {r::kContents, &book.contents},
      {r::kSubjects, &book.subjects}};
  for (const auto& [label, text] : terms) html += Term(label, HtmlEscape(*text));
  html += Term(r::kNumber, std::to_string(book.number));
  html += Term(r::kState, StateHtml(book));
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
