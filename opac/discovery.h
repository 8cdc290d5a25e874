// How browsers, search engines and the library's own site find the catalogue: the OpenSearch
// description of its searches, and each book page's canonical address and linked data.
#pragma once

#include <string>
#include <string_view>

#include "opac/front.h"
#include "opac/pages.h"
#include "opac/records.h"
#include "opac/request.h"

namespace shelfra::opac {

// The name browsers list the catalogue's search under: the library's name, else the site's
// name, cut to its first 16 characters (the most an OpenSearch ShortName may hold). UTF-8,
// unescaped.
std::string OpenSearchShortName(const Library& library);

// The address of the OpenSearch description under `script_name` (not escaped).
std::string OpenSearchAddress(std::string_view script_name);

// The OpenSearch 1.1 description document (application/opensearchdescription+xml): the short
// name, a description, UTF-8 in and out, Japanese, and a Url template (absolute: the request's
// origin and script name) for each format of a result list, pages counted from 1:
//   text/html              <base>/search?q={searchTerms}&page={startPage?}
//   application/atom+xml   <base>/search.atom?q={searchTerms}&page={startPage?}
//   application/json       <base>/api/v1/search?q={searchTerms}&page={startPage?}
// and its own address as the "self" Url.
Answer OpenSearchDescription(const Request& request, const Library& library);

// What the book page adds to its head for `book`: <link rel="canonical"> with the book page's
// absolute address (without "back"), and BookLinkedData in a <script type="application/ld+json">
// data block.
std::string BookHead(const Request& request, const BookRecord& book, const Library& library);

// `book` as a schema.org Book in JSON-LD, at address `url`: name, author (a Person), publisher
// (an Organization), datePublished (the year, and the month of a "2003.5" year), isbn,
// numberOfPages (the first number of the pages text), inLanguage "ja" and url, each only when
// the catalogue has it; and the holding as an Offer to lend (call number as sku, the library
// as offeredBy) whose availability is InStock on the shelf, OutOfStock on loan and InStoreOnly
// for in-library use only; a missing or withdrawn book has no offer. "<", ">" and "&" are
// written as \u escapes, so no catalogue text can end the script element.
std::string BookLinkedData(const BookRecord& book, std::string_view url, const Library& library);

}  // namespace shelfra::opac
