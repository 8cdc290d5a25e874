// A search as an address asks for it (/search and the formats that take its parameters): the
// boxes, the class, the order, the page and its size, checked, and the words in the catalogue's
// Shift_JIS.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue_service.h"
#include "catalogue/word_search.h"
#include "opac/pages.h"
#include "opac/request.h"

namespace shelfra::opac {

// Why a search cannot be run as asked.
enum class SearchProblem {
  kNone,
  kBadClass,      // class is not one digit
  kBadPaging,     // page is not a positive number, or per not 20, 50 or 100
  kBadSort,       // sort names no order
  kUnsearchable,  // a word holds characters the catalogue's Shift_JIS lacks (`unsearchable`)
  kTooManyWords,  // a box holds more words than it takes
  kEmpty,         // no word and no class
};

struct SearchAsked {
  FormValues values;  // the boxes as written (UTF-8)
  int per = 20;
  int page = 1;
  std::string sort;  // as written; "" for the default order
  AnswerOrder order = AnswerOrder::kReading;
  WordCriteria criteria;               // the boxes in Shift_JIS (when problem is kNone)
  std::vector<uint32_t> unsearchable;  // kUnsearchable: the characters, in order
  SearchProblem problem = SearchProblem::kNone;
};

// The boxes as the request fills them (q, title, author, keyword, class).
FormValues FormValuesOf(const Request& request);

// The search `request` asks for, checked in the order of SearchProblem.
SearchAsked ReadSearch(const Request& request);

}  // namespace shelfra::opac
