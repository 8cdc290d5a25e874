// The result list and the book page of the UTF-8 front, read through the catalogue service.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_service.h"
#include "opac/pages.h"
#include "opac/records.h"

namespace shelfra::opac {

// Where a result list stands: the criteria as the visitor wrote them, the page size, the page
// asked for (from 1), the order (`sort` as written, "" for the default), the settings file's
// ten class names (markup, class 0 first) and the list's address after the script name.
struct ResultPaging {
  std::string_view script_name;
  const FormValues& values;
  int per;
  int page;
  std::string_view sort = "";
  AnswerOrder order = AnswerOrder::kReading;
  const std::vector<std::string>* class_names_html = nullptr;
  std::string_view list_path = "/search";
};

// The query string of the list of `values` at page `page`, `per` a page, in order `sort`
// (not escaped for HTML): each filled box in form order, then "sort=" unless `sort` is empty,
// "per=" unless `per` is 20, and "page=" last, e.g. "q=%E3%81%AD&per=50&page=2".
std::string ListQueryString(const FormValues& values, int page, int per, std::string_view sort);

// The book's state as text (UTF-8, unescaped): on loan with its due date, or on the shelf
// unless a flag says why not, then its flags. The list's rows, the book page and the feeds say
// it alike.
std::string StateText(const BookRecord& book);

// The main part of the result list for `criteria` (Shift_JIS; Requires: no box over the cap):
// the heading, the count line ("N of them, a to b"), the orders, the classes of the answer with
// their counts (each a link narrowing the search), the rows of the page with each book's state,
// the page links and the page sizes; a page past the last shows the last. A `q` of one word
// and no other box also finds the books that word identifies (IdentifiedBooks), listed first.
// A search that finds nothing says so, gives what each criterion finds alone and offers to drop
// each one without which something is found. Raises what the catalogue service raises.
// Requires: the service's book and lending tables are open.
std::string ResultList(CatalogueService& catalogue, const WordCriteria& criteria, const ResultPaging& paging);

// The main part of the new arrivals' list: the heading, the count line, the rows of page
// `paging.page` of the whole catalogue newest first (PageOfAnswer in AnswerOrder::kNewest),
// without a way back from the book pages, and the page links to `paging.list_path`; a page
// past the last shows the last. A catalogue without books says so. Raises what the catalogue
// service raises.
std::string NewArrivalsList(CatalogueService& catalogue, const ResultPaging& paging);

// The main part of the page of the catalogue's current book (FindBook found it), its title
// (UTF-8, unescaped) in `title`: its fields, then links that search for its author and for
// its series, and, unless `back_query` is empty, one back to the list "<script>/search?" +
// `back_query` (a query string the caller made safe: see ListQuery). Raises what the
// catalogue service raises.
std::string BookDetails(CatalogueService& catalogue, std::string_view script_name, std::string_view back_query,
                        std::string& title);

// The query string of the list of `values` at page `page`, `per` a page, in order `sort` ("" the
// default): the filled boxes, sort and per when not the default, then page; each value
// escaped (QueryEscape), not escaped for HTML.
std::string ListQueryString(const FormValues& values, int page, int per, std::string_view sort);

// The query string of a result list to link back to: the list's parameters of `query` (an
// address's query string, as the book page receives it in its "back" parameter), each
// re-escaped, in order; nothing when it does not parse, names any other parameter or is
// longer than 2,000 bytes. So a back link only ever leads to this program's /search.
std::optional<std::string> ListQuery(std::string_view query);

}  // namespace shelfra::opac
