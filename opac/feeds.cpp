// The Atom feeds and the new arrivals' page.
#include "opac/feeds.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_service.h"
#include "data/field.h"
#include "opac/answers.h"
#include "opac/discovery.h"
#include "opac/freshness.h"
#include "opac/html.h"
#include "opac/records.h"
#include "opac/results.h"
#include "opac/xml.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace {

namespace r = res::opac;

// What a feed says of itself besides its books: its title, its address and its list's (after
// the script name), and the list's parameters.
struct FeedSource {
  std::string title;
  std::string_view feed_path, list_path;
  const FormValues& values;
  std::string_view sort;
  int per;
};

std::string Link(std::string_view rel, std::string_view type, const std::string& href) {
  std::string xml = "<link rel=\"" + std::string(rel) + "\"";
  if (!type.empty()) xml.append(" type=\"").append(type).append("\"");
  return xml + " href=\"" + XmlEscape(href) + "\"/>\n";
}

// The registration date of book `number` at midnight JST ("2023-01-10T00:00:00+09:00"), read
// from the book table (the answer's rows do not hold it); nothing when the book has none.
std::optional<std::string> RegisteredAt(CatalogueDatasets& opened, int32_t number) {
  if (!opened.catalogue.FindBook(number)) return std::nullopt;
  const TField* field = opened.books.FindFieldNamed(BookFieldName(BookField::kRegisteredOn));
  if (!field || field->IsNull()) return std::nullopt;
  using namespace std::chrono;
  // The field counts days from 1899-12-30.
  const double count = std::floor(field->FloatValue());
  if (!(count > -600000 && count < 3000000)) return std::nullopt;  // outside the years 257 to 9999
  const year_month_day day{sys_days{year{1899} / December / 30} + days{static_cast<int>(count)}};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT00:00:00+09:00", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return std::string(text);
}

// "label: value" of the list's fields that the book has, then its state, with wide gaps.
std::string Summary(const BookRecord& book) {
  const std::pair<std::string_view, const std::string*> fields[] = {
      {r::kAuthor, &book.author}, {r::kPublisher, &book.publisher}, {r::kYear, &book.year}};
  std::string text;
  for (const auto& [label, value] : fields) {
    if (!value->empty()) text.append(label).append(": ").append(*value).append(r::kSummaryGap);
  }
  // The call number is composed with "/" between its parts: all of them empty is none.
  if (book.call_number.find_first_not_of('/') != std::string::npos) {
    text.append(r::kCallNumber).append(": ").append(book.call_number).append(r::kSummaryGap);
  }
  return text.append(r::kState).append(": ").append(StateText(book));
}

std::string Entry(const BookRecord& book, const std::string& url, const std::string& updated) {
  std::string xml = "<entry>\n<id>" + XmlEscape(url) + "</id>\n<title>" + XmlEscape(book.title) + "</title>\n";
  xml += Link("alternate", "text/html", url);
  if (!book.author.empty()) xml += "<author><name>" + XmlEscape(book.author) + "</name></author>\n";
  xml += "<updated>" + updated + "</updated>\n";
  return xml + "<summary>" + XmlEscape(Summary(book)) + "</summary>\n</entry>\n";
}

// The feed of `answer`, a page of the list `source` describes.
Answer Feed(const Request& request, CatalogueDatasets& opened, const FeedSource& source, const AnswerPage& answer) {
  const std::string modified = Rfc3339(CatalogueValidators().modified);
  const Library library = LibraryOfSettings();
  const std::string base = request.origin + request.script_name;
  auto address = [&](std::string_view path, int page) {
    return base + std::string(path) + "?" + ListQueryString(source.values, page, source.per, source.sort);
  };
  const int last = std::max(answer.last, 1);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\" "
                    "xmlns:opensearch=\"";
  xml.append(kOpenSearchNamespace).append("\" xml:lang=\"ja\">\n");
  xml += "<title>" + XmlEscape(source.title + " - " + std::string(r::kSiteName)) + "</title>\n";
  xml += "<id>" + XmlEscape(address(source.feed_path, 1)) + "</id>\n<updated>" + modified + "</updated>\n";
  xml += "<author><name>" + XmlEscape(library.name.empty() ? std::string(r::kSiteName) : library.name) +
         "</name></author>\n";
  xml += Link("self", "application/atom+xml", address(source.feed_path, answer.page));
  xml += Link("alternate", "text/html", address(source.list_path, answer.page));
  xml += Link("first", "application/atom+xml", address(source.feed_path, 1));
  if (answer.page > 1) xml += Link("previous", "application/atom+xml", address(source.feed_path, answer.page - 1));
  if (answer.page < last) xml += Link("next", "application/atom+xml", address(source.feed_path, answer.page + 1));
  xml += Link("last", "application/atom+xml", address(source.feed_path, last));
  xml += Link("search", "application/opensearchdescription+xml", request.origin + OpenSearchAddress(request.script_name));
  xml += "<opensearch:totalResults>" + std::to_string(answer.found) + "</opensearch:totalResults>\n";
  xml += "<opensearch:startIndex>" + std::to_string(answer.first + 1) + "</opensearch:startIndex>\n";
  xml += "<opensearch:itemsPerPage>" + std::to_string(source.per) + "</opensearch:itemsPerPage>\n";
  xml += "<opensearch:Query role=\"request\"";
  if (!source.values.q.empty()) xml += " searchTerms=\"" + XmlEscape(source.values.q) + "\"";
  xml += " count=\"" + std::to_string(source.per) + "\" startPage=\"" + std::to_string(answer.page) + "\"/>\n";
  for (const BookRecord& book : answer.books) {
    const std::string url = request.origin + BookAddress(request.script_name, book.number);
    xml += Entry(book, url, RegisteredAt(opened, book.number).value_or(modified));
  }
  xml += "</feed>\n";
  Answer out;
  out.content_type = "application/atom+xml; charset=UTF-8";
  out.body = std::move(xml);
  return out;
}

std::string NewArrivalsTitle(int page) {
  std::string title(r::kNewHeading);
  if (page > 1) title.append(" ").append(std::to_string(page)).append(r::kTitlePage);
  return title;
}

std::string FeedLink(std::string_view title, const std::string& href) {
  return "<link rel=\"alternate\" type=\"application/atom+xml\" title=\"" + HtmlEscape(title) + "\" href=\"" +
         HtmlEscape(href) + "\">\n";
}

}  // namespace

Answer SearchFeed(const Request& request) {
  const SearchQuery search = ReadSearch(request);
  // A feed has no search page to fall back on: a search that cannot be made is refused too.
  if (search.refusal != SearchRefusal::kNone) {
    return Message(400, request.script_name, r::kBadRequestHeading, search.refusal_html);
  }
  CatalogueDatasets opened;
  opened.Open();
  const AnswerPage answer =
      PageOfAnswer(opened.catalogue, search.criteria, search.order, search.paging.page, search.paging.per);
  const FeedSource source{SearchTitle(search.values, answer.page), "/search.atom", "/search", search.values,
                          search.sort, search.paging.per};
  return Feed(request, opened, source, answer);
}

Answer NewArrivals(const Request& request) {
  const std::optional<Paging> paging = PagingOf(request);
  if (!paging) return Message(400, request.script_name, r::kBadRequestHeading, r::kBadPaging);
  CatalogueDatasets opened;
  opened.Open();
  const FormValues none;
  ResultPaging list{request.script_name, none, paging->per, paging->page};
  list.list_path = "/new";
  return Page(200, request.script_name, NewArrivalsTitle(paging->page), NewArrivalsList(opened.catalogue, list),
              NewArrivalsFeedLink(request.script_name, *paging));
}

Answer NewArrivalsFeed(const Request& request) {
  const std::optional<Paging> paging = PagingOf(request);
  if (!paging) return Message(400, request.script_name, r::kBadRequestHeading, r::kBadPaging);
  CatalogueDatasets opened;
  opened.Open();
  const AnswerPage answer = PageOfAnswer(opened.catalogue, WordCriteria{}, AnswerOrder::kNewest, paging->page, paging->per);
  const FormValues none;
  const FeedSource source{NewArrivalsTitle(answer.page), "/new.atom", "/new", none, "", paging->per};
  return Feed(request, opened, source, answer);
}

std::string SearchFeedLink(const Request& request, const SearchQuery& search) {
  const std::string query = ListQueryString(search.values, search.paging.page, search.paging.per, search.sort);
  return FeedLink(SearchTitle(search.values, search.paging.page),
                  request.script_name + "/search.atom?" + query);
}

std::string NewArrivalsFeedLink(std::string_view script_name, const Paging& paging) {
  return FeedLink(r::kNewHeading, std::string(script_name) + "/new.atom?" +
                                      ListQueryString(FormValues{}, paging.page, paging.per, ""));
}

std::string NewArrivalsLink(std::string_view script_name) {
  return "<p><a href=\"" + HtmlEscape(std::string(script_name) + "/new") + "\">" + std::string(r::kNewArrivalsLink) +
         "</a></p>\n";
}

}  // namespace shelfra::opac
