// The OpenSearch description and the book page's linked data.
#include "opac/discovery.h"

#include <nlohmann/json.hpp>

#include <optional>

#include "opac/html.h"
#include "opac/xml.h"
#include "opac_res.h"

namespace shelfra::opac {

namespace {

namespace r = res::opac;

// The first `most` characters of the UTF-8 `text` (a character starts at every byte that is
// no continuation byte).
std::string FirstCharacters(std::string_view text, size_t most) {
  size_t characters = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
    if (characters++ == most) return std::string(text.substr(0, at));
  }
  return std::string(text);
}

// The first whole number in `text`, of ASCII or full-width digits (the pages text "326p",
// "xii, 326p", or in full-width digits); nothing without one, or for one over six digits or of 0.
std::optional<int> FirstNumber(std::string_view text) {
  std::optional<int> number;
  int digits = 0;
  for (size_t at = 0; at < text.size();) {
    int digit = -1;
    size_t size = 1;
    if (text[at] >= '0' && text[at] <= '9') {
      digit = text[at] - '0';
    } else if (text.substr(at, 2) == "\xEF\xBC" && at + 2 < text.size()) {
      const auto third = static_cast<unsigned char>(text[at + 2]);
      if (third >= 0x90 && third <= 0x99) {  // U+FF10 to U+FF19
        digit = third - 0x90;
        size = 3;
      }
    }
    if (digit < 0 && number) break;
    if (digit >= 0) {
      number = number.value_or(0) * 10 + digit;
      if (++digits > 6) return std::nullopt;
    }
    at += size;
  }
  if (number == 0) return std::nullopt;
  return number;
}

// The publication year as an ISO 8601 date: its four leading digits, with the month when the
// catalogue writes one after a point ("2003.5" is May 2003); nothing for any other text.
std::optional<std::string> PublicationDate(std::string_view year) {
  auto digit = [&](size_t at) { return at < year.size() && year[at] >= '0' && year[at] <= '9'; };
  if (!digit(0) || !digit(1) || !digit(2) || !digit(3) || digit(4)) return std::nullopt;
  std::string date(year.substr(0, 4));
  if (year.size() > 5 && year[4] == '.' && digit(5)) {
    const int month = digit(6) ? (year[5] - '0') * 10 + (year[6] - '0') : year[5] - '0';
    if (month >= 1 && month <= 12 && !digit(digit(6) ? 7 : 6)) {
      date.append(month < 10 ? "-0" : "-").append(std::to_string(month));
    }
  }
  return date;
}

// A Url element of the description: `path` after the base address with the query template.
std::string UrlTemplate(std::string_view type, std::string_view base, std::string_view path) {
  const std::string address = std::string(base) + std::string(path) + "?q={searchTerms}&page={startPage?}";
  return "<Url type=\"" + std::string(type) + "\" template=\"" + XmlEscape(address) +
         "\" indexOffset=\"1\" pageOffset=\"1\"/>\n";
}

}  // namespace

std::string OpenSearchShortName(const Library& library) {
  return FirstCharacters(library.name.empty() ? std::string_view(r::kSiteName) : library.name, 16);
}

std::string OpenSearchAddress(std::string_view script_name) {
  return std::string(script_name).append("/opensearch.xml");
}

Answer OpenSearchDescription(const Request& request, const Library& library) {
  const std::string base = request.origin + request.script_name;
  std::string description(r::kOpenSearchDescription);
  if (!library.name.empty()) description = library.name + " " + description;
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<OpenSearchDescription xmlns=\"";
  xml.append(kOpenSearchNamespace).append("\">\n");
  xml += "<ShortName>" + XmlEscape(OpenSearchShortName(library)) + "</ShortName>\n";
  xml += "<Description>" + XmlEscape(FirstCharacters(description, 1024)) + "</Description>\n";
  xml += "<InputEncoding>UTF-8</InputEncoding>\n<OutputEncoding>UTF-8</OutputEncoding>\n<Language>ja</Language>\n";
  xml += UrlTemplate("text/html", base, "/search");
  xml += UrlTemplate("application/atom+xml", base, "/search.atom");
  xml += UrlTemplate("application/json", base, "/api/v1/search");
  xml += "<Url type=\"application/opensearchdescription+xml\" rel=\"self\" template=\"" +
         XmlEscape(request.origin + OpenSearchAddress(request.script_name)) + "\"/>\n";
  xml += "</OpenSearchDescription>\n";
  Answer answer;
  answer.content_type = "application/opensearchdescription+xml";
  answer.body = std::move(xml);
  return answer;
}

std::string BookLinkedData(const BookRecord& book, std::string_view url, const Library& library) {
  nlohmann::ordered_json data = {{"@context", "https://schema.org"}, {"@type", "Book"}, {"name", book.title}};
  if (!book.author.empty()) data["author"] = {{"@type", "Person"}, {"name", book.author}};
  if (!book.publisher.empty()) data["publisher"] = {{"@type", "Organization"}, {"name", book.publisher}};
  if (const std::optional<std::string> date = PublicationDate(book.year)) data["datePublished"] = *date;
  if (!book.isbn.empty()) data["isbn"] = book.isbn;
  if (const std::optional<int> pages = FirstNumber(book.pages)) data["numberOfPages"] = *pages;
  data["inLanguage"] = "ja";
  data["url"] = url;
  std::string_view availability;
  switch (book.State()) {
    case BookState::kOnShelf: availability = "https://schema.org/InStock"; break;
    case BookState::kOnLoan: availability = "https://schema.org/OutOfStock"; break;
    case BookState::kReferenceOnly: availability = "https://schema.org/InStoreOnly"; break;
    case BookState::kMissing: case BookState::kWithdrawn: break;
  }
  if (!availability.empty()) {
    nlohmann::ordered_json offer = {{"@type", "Offer"},
                                    {"businessFunction", "http://purl.org/goodrelations/v1#LeaseOut"},
                                    {"availability", availability}};
    // The call number is composed with "/" between its parts: all of them empty is none.
    if (book.call_number.find_first_not_of('/') != std::string::npos) offer["sku"] = book.call_number;
    if (!library.name.empty()) offer["offeredBy"] = {{"@type", "Library"}, {"name", library.name}};
    data["offers"] = std::move(offer);
  }
  // Replaced, not dropped: a byte that is no UTF-8 (a damaged script name) must not make the
  // page fail.
  const std::string text = data.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "\\u003c"; break;
      case '>': out += "\\u003e"; break;
      case '&': out += "\\u0026"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string BookHead(const Request& request, const BookRecord& book, const Library& library) {
  const std::string url = request.origin + BookAddress(request.script_name, book.number);
  return "<link rel=\"canonical\" href=\"" + HtmlEscape(url) + "\">\n<script type=\"application/ld+json\">" +
         BookLinkedData(book, url, library) + "</script>\n";
}

}  // namespace shelfra::opac
