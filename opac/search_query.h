// The parameters of a result list, read and checked once for every format that lists an
// answer (the HTML list and its feed): the boxes, the class, the order and the paging.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_service.h"
#include "catalogue/word_search.h"
#include "opac/pages.h"
#include "opac/request.h"

namespace shelfra::opac {

// The boxes as the request fills them (q, title, author, keyword, class).
FormValues FormValuesOf(const Request& request);

// A positive whole number of at most nine digits; nothing for any other text.
std::optional<int> Count(std::string_view text);

// The page asked for (from 1) and the books a page shows.
struct Paging {
  int page = 1;
  int per = 20;
};
// `request`'s "page" (any Count, default 1) and "per" (20, 50 or 100, default 20); nothing when
// either is given and not such a value.
std::optional<Paging> PagingOf(const Request& request);

// Why a search is not run. The first four are malformed requests (answered 400); the last two
// are searches that cannot be made (the HTML front shows the search page with the text).
enum class SearchRefusal { kNone, kBadClass, kBadPaging, kBadSort, kTooManyWords, kNotInCatalogueText, kEmpty };

// A result list's request, read.
struct SearchQuery {
  FormValues values;        // as the visitor wrote them (UTF-8)
  WordCriteria criteria;    // in the catalogue's Shift_JIS; filled when `refusal` is kNone
  Paging paging;
  std::string sort;         // as written, "" for the default
  AnswerOrder order = AnswerOrder::kReading;
  SearchRefusal refusal = SearchRefusal::kNone;
  std::string refusal_html;  // what to tell the visitor when refused (markup)
  std::vector<uint32_t> unsearchable;  // kNotInCatalogueText: the characters, in order

  // A refusal that means the address itself is wrong (kBadClass to kTooManyWords).
  bool Malformed() const;
};

// The result list `request` asks for, checked in this order: the class (one digit or none),
// the paging (PagingOf), the order (AnswerOrderNamed, "" for the reading order), the words in
// Shift_JIS (a character the catalogue's Shift_JIS lacks is named in the text), the number of
// words a box holds (kMaxWordsPerBox), and that something is asked for at all.
SearchQuery ReadSearch(const Request& request);

// The result page's title: the heading, the words of the boxes in brackets and, past the
// first page, the page (UTF-8, unescaped).
std::string SearchTitle(const FormValues& values, int page);

}  // namespace shelfra::opac
