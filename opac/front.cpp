// The UTF-8 front's addresses: the search page, the result list, the book page, the errors; the
// feeds, the new arrivals and the OpenSearch description have files of their own.
#include "opac/front.h"

#include <optional>

#include "base/exceptions.h"
#include "base/profile.h"
#include "catalogue/catalogue_service.h"
#include "catalogue/settings.h"
#include "opac/answers.h"
#include "opac/api.h"
#include "opac/discovery.h"
#include "opac/feeds.h"
#include "opac/freshness.h"
#include "opac/html.h"
#include "opac/oai.h"
#include "opac/pages.h"
#include "opac/results.h"
#include "opac/search_query.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace r = res::opac;

namespace {

Answer NotFound(std::string_view script_name) {
  return Message(404, script_name, r::kNotFoundHeading, r::kNotFoundText);
}

// The ten class names of the settings file, class 0 first, as markup.
std::vector<std::string> ClassNamesHtml() {
  std::vector<std::string> names = ClassNames();
  for (std::string& name : names) name = HtmlEscape(name);
  return names;
}

// The search page, with `notice_html` above the form when there is one.
Answer SearchPage(const Request& request, const FormValues& values, std::string_view notice_html, int status = 200) {
  std::string main = "<h1>" + std::string(r::kSearchHeading) + "</h1>\n";
  if (!notice_html.empty()) main += Notice(notice_html);
  main += SearchForm(request.script_name, values, ClassNamesHtml());
  main += NewArrivalsLink(request.script_name);
  return Page(status, request.script_name, r::kSearchHeading, main, NewArrivalsFeedLink(request.script_name, Paging{}));
}

Answer Search(const Request& request) {
  const SearchQuery search = ReadSearch(request);
  if (search.Malformed()) return Message(400, request.script_name, r::kBadRequestHeading, search.refusal_html);
  if (search.refusal != SearchRefusal::kNone) return SearchPage(request, search.values, search.refusal_html);
  CatalogueDatasets opened;
  opened.Open();
  CatalogueService& catalogue = opened.catalogue;
  const std::vector<std::string> class_names = ClassNamesHtml();
  const ResultPaging paging{request.script_name, search.values, search.paging.per, search.paging.page, search.sort,
                            search.order, &class_names};
  return Page(200, request.script_name, SearchTitle(search.values, search.paging.page),
              ResultList(catalogue, search.criteria, paging), SearchFeedLink(request, search));
}

Answer Book(const Request& request, std::string_view number_text) {
  const std::optional<int32_t> number = BookNumberOfPath(number_text);
  if (!number) return NotFound(request.script_name);
  CatalogueDatasets opened;
  opened.Open();
  CatalogueService& catalogue = opened.catalogue;
  if (!catalogue.FindBook(*number)) return NotFound(request.script_name);
  std::string title;
  const std::string back = ListQuery(request.Value("back")).value_or("");
  std::string main = BookDetails(catalogue, request.script_name, back, title);
  return Page(200, request.script_name, title, main, BookHead(request, CurrentBook(catalogue), LibraryOfSettings()));
}

Answer Route(const Request& request) {
  if (IsApiPath(request.path)) return ServeApi(request);
  const std::string& path = request.path;
  // The harvesting interface also takes the protocol's POST of a form.
  const bool harvest = path == "/oai";
  if (harvest && request.method == "POST") return Harvest(request);
  if (request.method != "GET" && request.method != "HEAD") {
    Answer answer = Message(405, request.script_name, r::kMethodHeading, r::kMethodText);
    answer.headers.emplace_back("Allow", harvest ? "GET, HEAD, POST" : "GET, HEAD");
    return answer;
  }
  // The search page with the boxes filled in as the query says ("search again" from a list).
  if (path.empty() || path == "/") return SearchPage(request, FormValuesOf(request), "");
  if (path == "/search") return Search(request);
  if (path.starts_with("/book/")) return Book(request, std::string_view(path).substr(6));
  if (path == "/style.css") {
    Answer answer;
    answer.content_type = "text/css; charset=UTF-8";
    answer.headers.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
    answer.body = std::string(Stylesheet());
    return answer;
  }
  if (harvest) return Harvest(request);
  if (path == "/opensearch.xml") return OpenSearchDescription(request, LibraryOfSettings());
  if (path == "/search.atom") return SearchFeed(request);
  if (path == "/new") return NewArrivals(request);
  if (path == "/new.atom") return NewArrivalsFeed(request);
  return NotFound(request.script_name);
}

}  // namespace

Answer Serve(const Request& request) {
  // Taken before the page is written, so a tag is never newer than the page it stands for: a
  // catalogue that changes meanwhile gives the next request a new tag.
  std::optional<Validators> validators;
  try {
    validators = CatalogueValidators();
  } catch (const Exception&) {
    // An unconfigured catalogue: the pages that read it raise the same themselves.
  }
  Answer answer = Route(request);
  if (!validators) return answer;
  answer.headers.emplace_back("ETag", validators->etag);
  answer.headers.emplace_back("Last-Modified", HttpDate(validators->modified));
  if (request.path != "/style.css") answer.headers.emplace_back("Cache-Control", "no-cache");
  // Only an answer that would be a 200 to a GET or HEAD is ever not modified.
  if (answer.status == 200 && request.method != "POST" && NotModified(*validators, request.if_none_match, request.if_modified_since)) {
    answer.status = 304;
    answer.body.clear();
  }
  return answer;
}

Answer BadRequest(std::string_view script_name, std::string_view path) {
  if (IsApiPath(path)) return ApiError(400, "bad_query", "the query string does not decode (escapes or UTF-8)");
  return Message(400, script_name, r::kBadRequestHeading, r::kBadRequestText);
}

Answer BadQuery(const Request& request) {
  return request.path == "/oai" ? HarvestBadArgument(request) : BadRequest(request.script_name, request.path);
}

Answer ServerError(std::string_view script_name, std::string_view path, std::string_view reference) {
  if (IsApiPath(path)) {
    return ApiError(500, "server_error", "the catalogue cannot be read now; reference " + std::string(reference));
  }
  return Message(500, script_name, r::kErrorHeading, std::string(r::kErrorText) + HtmlEscape(reference));
}

std::string CgiText(const Answer& answer, bool head) {
  static constexpr std::pair<int, std::string_view> kReasons[] = {
      {200, "OK"}, {204, "No Content"}, {304, "Not Modified"}, {400, "Bad Request"}, {404, "Not Found"}, {405, "Method Not Allowed"},
      {500, "Internal Server Error"}};
  std::string_view reason = "OK";
  for (const auto& [status, text] : kReasons) {
    if (status == answer.status) reason = text;
  }
  std::string out = "Status: " + std::to_string(answer.status) + " " + std::string(reason) + "\r\n";
  if (answer.status == 304 || answer.status == 204) {  // no body and no type: only the answer's headers
    for (const auto& [name, value] : answer.headers) out += name + ": " + value + "\r\n";
    return out + "\r\n";
  }
  out += "Content-Type: " + answer.content_type + "\r\n";
  out += "Content-Security-Policy: default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
         "base-uri 'none'; frame-ancestors 'none'\r\n";
  out += "X-Content-Type-Options: nosniff\r\nReferrer-Policy: same-origin\r\n";
  for (const auto& [name, value] : answer.headers) out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n";
  if (!head) out += answer.body;
  return out;
}

}  // namespace shelfra::opac
