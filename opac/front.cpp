// The UTF-8 front's addresses: the search page, the result list, the book page, the errors.
#include "opac/front.h"

#include <optional>

#include "base/exceptions.h"
#include "base/profile.h"
#include "catalogue/catalogue_service.h"
#include "catalogue/settings.h"
#include "opac/api.h"
#include "opac/freshness.h"
#include "opac/html.h"
#include "opac/oai.h"
#include "opac/pages.h"
#include "opac/results.h"
#include "opac/search_request.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace r = res::opac;

namespace {

// The library of the settings file; its address keys only when they are http(s) addresses.
Library LibraryOfSettings() {
  try {
    const std::string file = SettingsFilePath();
    auto value = [&file](const SettingKey& key) {
      return FromSjis(GetPrivateProfileString(key.section, key.key, key.default_value, file));
    };
    Library library{value(LibraryNameKey()), value(LibraryHomeKey()), value(AccessibilityPolicyKey())};
    if (!LinkAddress(library.home)) library.home.clear();
    if (!LinkAddress(library.policy)) library.policy.clear();
    return library;
  } catch (const Exception&) {
    return Library{};  // an unconfigured catalogue: the page says so itself (the 500 page too)
  }
}

Answer Page(int status, std::string_view script_name, std::string_view title, std::string_view main_html) {
  Answer answer;
  answer.status = status;
  answer.body = Frame(script_name, title, main_html, LibraryOfSettings());
  return answer;
}

Answer Message(int status, std::string_view script_name, std::string_view heading, std::string_view text) {
  const std::string main = "<h1>" + std::string(heading) + "</h1>\n<p>" + std::string(text) + "</p>\n";
  return Page(status, script_name, heading, main);
}

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
  return Page(status, request.script_name, r::kSearchHeading, main);
}

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

// The result page's title names its search and page, so that pages in a history or in tabs
// tell themselves apart.
std::string ResultsTitle(const FormValues& values, int page) {
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

Answer Search(const Request& request) {
  const SearchAsked asked = ReadSearch(request);
  auto bad = [&](std::string_view text) { return Message(400, request.script_name, r::kBadRequestHeading, text); };
  switch (asked.problem) {
    case SearchProblem::kBadClass: return bad(r::kBadClass);
    case SearchProblem::kBadPaging: return bad(r::kBadPaging);
    case SearchProblem::kBadSort: return bad(r::kBadSort);
    case SearchProblem::kTooManyWords: return bad(r::kTooManyWords);
    case SearchProblem::kUnsearchable: {
      std::string notice_html(r::kNoSjisText);
      for (uint32_t code : asked.unsearchable) notice_html.append(" ").append(NamedCharacter(code));
      return SearchPage(request, asked.values, notice_html);
    }
    case SearchProblem::kEmpty: return SearchPage(request, asked.values, r::kEmptySearch);
    case SearchProblem::kNone: break;
  }
  CatalogueDatasets opened;
  opened.Open();
  const std::vector<std::string> class_names = ClassNamesHtml();
  const ResultPaging paging{request.script_name, asked.values, asked.per, asked.page, asked.sort, asked.order,
                            &class_names};
  return Page(200, request.script_name, ResultsTitle(asked.values, asked.page),
              ResultList(opened.catalogue, asked.criteria, paging));
}

Answer Book(const Request& request, std::string_view number_text) {
  const std::optional<int> number = Count(number_text);
  if (!number) return NotFound(request.script_name);
  CatalogueDatasets opened;
  opened.Open();
  CatalogueService& catalogue = opened.catalogue;
  if (!catalogue.FindBook(*number)) return NotFound(request.script_name);
  std::string title;
  const std::string back = ListQuery(request.Value("back")).value_or("");
  std::string main = BookDetails(catalogue, request.script_name, back, title);
  return Page(200, request.script_name, title, main);
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
