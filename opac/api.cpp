// The JSON interface: searches, books and ISBN look-ups as JSON.
#include "opac/api.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>

#include "catalogue/catalogue_service.h"
#include "catalogue/identifier.h"
#include "opac/html.h"
#include "opac/records.h"
#include "opac/results.h"
#include "opac/search_query.h"

namespace shelfra::opac {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kPrefix = "/api/v1";

Answer JsonAnswer(int status, const Json& json) {
  Answer answer;
  answer.status = status;
  answer.content_type = "application/json; charset=UTF-8";
  answer.headers.emplace_back("Access-Control-Allow-Origin", "*");
  answer.headers.emplace_back("Access-Control-Expose-Headers", "ETag, Last-Modified");
  // The catalogue's text reaches here through the strict conversion, so it is valid UTF-8; a
  // byte that is not would be replaced, never passed on.
  answer.body = json.dump(-1, ' ', false, Json::error_handler_t::replace);
  answer.body.push_back('\n');
  return answer;
}

// Absolute addresses of the HTML pages and of the interface.
struct Addresses {
  const Request& request;
  std::string Base() const { return request.origin + request.script_name; }
  std::string Book(int32_t number) const { return request.origin + BookAddress(request.script_name, number); }
  std::string ApiBook(int32_t number) const { return Base() + std::string(kPrefix) + "/book/" + std::to_string(number); }
};

Json DueJson(const BookRecord& book) { return book.due ? Json(*book.due) : Json(nullptr); }

// A book as a list gives it.
Json ListedJson(const BookRecord& book, const Addresses& at) {
  Json j;
  j["number"] = book.number;
  j["title"] = book.title;
  j["title_reading"] = book.title_reading;
  j["author"] = book.author;
  j["series"] = book.series;
  j["publisher"] = book.publisher;
  j["year"] = book.year;
  j["call_number"] = book.call_number;
  j["isbn"] = book.isbn;
  j["state"] = BookStateName(book.State());
  j["due"] = DueJson(book);
  j["url"] = at.Book(book.number);
  j["api"] = at.ApiBook(book.number);
  return j;
}

// A book as its own answer gives it: the list's fields, then the others its page shows.
Json FullJson(const BookRecord& book, const Addresses& at) {
  Json j = ListedJson(book, at);
  j["author_reading"] = book.author_reading;
  j["pages"] = book.pages;
  j["size"] = book.size;
  j["place"] = book.place;
  j["note"] = book.note;
  j["contents"] = book.contents;
  j["subjects"] = book.subjects;
  j["class"] = book.class_code;
  j["registered_on"] = book.registered_on;
  j["reference_only"] = book.reference_only;
  j["missing"] = book.missing;
  j["withdrawn"] = book.withdrawn;
  return j;
}

Answer Search(const Request& request) {
  const SearchQuery asked = ReadSearch(request);
  switch (asked.refusal) {
    case SearchRefusal::kBadClass: return ApiError(400, "bad_class", "class must be one digit, 0 to 9");
    case SearchRefusal::kBadPaging: return ApiError(400, "bad_paging", "page must be a positive number and per 20, 50 or 100");
    case SearchRefusal::kBadSort: return ApiError(400, "bad_sort", "sort must be reading, title, author, year, -year or new");
    case SearchRefusal::kTooManyWords: return ApiError(400, "too_many_words", "a parameter holds more than 10 words");
    case SearchRefusal::kEmpty: return ApiError(400, "empty_search", "give q, title, author, keyword or class");
    case SearchRefusal::kNotInCatalogueText:
    case SearchRefusal::kNone: break;
  }
  const Addresses at{request};
  Json j;
  const std::string sort = asked.sort.empty() ? "reading" : asked.sort;
  auto list = [&](std::string_view base, int page) {
    return at.Base() + std::string(base) + "?" + ListQueryString(asked.values, page, asked.paging.per, asked.sort);
  };
  if (asked.refusal == SearchRefusal::kNotInCatalogueText) {
    // No book can hold a character the catalogue's text cannot: nothing is found.
    j["total"] = 0;
    j["start"] = 0;
    j["count"] = 0;
    j["page"] = 1;
    j["pages"] = 0;
    j["per"] = asked.paging.per;
    j["sort"] = sort;
    Json characters = Json::array();
    for (uint32_t code : asked.unsearchable) {
      char name[16];
      std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code));
      characters.push_back(name);
    }
    j["unsearchable"] = characters;
    j["classes"] = Json::array();
    j["books"] = Json::array();
    return JsonAnswer(200, j);
  }
  CatalogueDatasets opened;
  opened.Open();
  const AnswerPage answer = PageOfAnswer(opened.catalogue, asked.criteria, asked.order, asked.paging.page, asked.paging.per);
  j["total"] = answer.found;
  j["start"] = answer.books.empty() ? 0 : answer.first + 1;
  j["count"] = answer.books.size();
  j["page"] = answer.page;
  j["pages"] = answer.last;
  j["per"] = asked.paging.per;
  j["sort"] = sort;
  const std::vector<std::string> names = ClassNames();
  Json classes = Json::array();
  for (size_t digit = 0; digit < answer.classes.size(); ++digit) {
    if (answer.classes[digit] == 0) continue;
    classes.push_back({{"class", std::string(1, static_cast<char>('0' + digit))},
                       {"name", names[digit]},
                       {"count", answer.classes[digit]}});
  }
  j["classes"] = classes;
  Json books = Json::array();
  for (size_t i = 0; i < answer.books.size(); ++i) {
    Json book = ListedJson(answer.books[i], at);
    book["identified"] = static_cast<bool>(answer.identified[i]);
    books.push_back(std::move(book));
  }
  j["books"] = books;
  Json links;
  links["self"] = list("/api/v1/search", answer.page);
  links["html"] = list("/search", answer.page);
  if (answer.last > 0) {
    links["first"] = list("/api/v1/search", 1);
    if (answer.page > 1) links["prev"] = list("/api/v1/search", answer.page - 1);
    if (answer.page < answer.last) links["next"] = list("/api/v1/search", answer.page + 1);
    links["last"] = list("/api/v1/search", answer.last);
  }
  j["links"] = links;
  return JsonAnswer(200, j);
}

Answer Book(const Request& request, std::string_view number_text) {
  const std::optional<int32_t> number = BookNumberOfPath(number_text);
  if (!number) return ApiError(404, "not_found", "no book has that registration number");
  CatalogueDatasets opened;
  opened.Open();
  if (!opened.catalogue.FindBook(*number)) return ApiError(404, "not_found", "no book has that registration number");
  return JsonAnswer(200, FullJson(CurrentBook(opened.catalogue), Addresses{request}));
}

Answer Isbn(const Request& request, std::string_view isbn) {
  if (!IsIsbnWord(isbn)) {
    return ApiError(400, "bad_isbn", "an ISBN is 10 digits (the last may be X) or 13 digits, with or without hyphens");
  }
  CatalogueDatasets opened;
  opened.Open();
  const Addresses at{request};
  Json copies = Json::array();
  for (int32_t number : opened.catalogue.BooksWithIsbn(isbn)) {
    if (!opened.catalogue.FindBook(number)) continue;
    copies.push_back(ListedJson(CurrentBook(opened.catalogue), at));
  }
  Json j;
  j["isbn"] = std::string(isbn);
  const std::string key = IsbnKey(isbn);
  j["isbn13"] = key.size() == 13 ? Json(key) : Json(nullptr);  // an ISBN-10 whose check digit is wrong has none
  j["count"] = copies.size();
  j["copies"] = copies;
  return JsonAnswer(200, j);
}

}  // namespace

bool IsApiPath(std::string_view path) { return path == "/api" || path.starts_with("/api/"); }

Answer ApiError(int status, std::string_view code, std::string_view message) {
  Json j;
  j["error"] = {{"status", status}, {"code", std::string(code)}, {"message", std::string(message)}};
  return JsonAnswer(status, j);
}

Answer ServeApi(const Request& request) {
  if (request.method == "OPTIONS") {
    Answer answer = JsonAnswer(204, Json());
    answer.body.clear();
    answer.headers.emplace_back("Access-Control-Allow-Methods", "GET, HEAD, OPTIONS");
    answer.headers.emplace_back("Access-Control-Allow-Headers", "If-None-Match, If-Modified-Since");
    answer.headers.emplace_back("Access-Control-Max-Age", "86400");
    return answer;
  }
  if (request.method != "GET" && request.method != "HEAD") {
    Answer answer = ApiError(405, "method_not_allowed", "the interface answers GET, HEAD and OPTIONS");
    answer.headers.emplace_back("Allow", "GET, HEAD, OPTIONS");
    return answer;
  }
  const std::string_view path = request.path;
  if (path == std::string(kPrefix) + "/search") return Search(request);
  const std::string book = std::string(kPrefix) + "/book/";
  if (path.starts_with(book)) return Book(request, path.substr(book.size()));
  const std::string isbn = std::string(kPrefix) + "/isbn/";
  if (path.starts_with(isbn)) return Isbn(request, path.substr(isbn.size()));
  return ApiError(404, "not_found", "no such address in the interface (see /api/v1/search, /api/v1/book/<number>, "
                                    "/api/v1/isbn/<isbn>)");
}

}  // namespace shelfra::opac
