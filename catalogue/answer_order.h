// The orders of a result list as sort keys, the one rule of each order for the lists read
// book by book and for the search index, which keeps each order ready.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_service.h"
#include "engine/search_index.h"

namespace shelfra {

// The sort key of a book in `order` (not kReading), from its texts (`text(field)`, as the
// book table stores them) and its registration date (a day count, when it has one): keys
// compare as unsigned bytes, a book without the order's value has the largest key (it comes
// last), and equal keys keep the reading order. Title: its sort key (AppendSortKey); author:
// the reading's, then the author's (the author's alone when there is no reading); year: the
// leading digits of the publication year (a text without any has none), rising or falling;
// newest: the registration date falling.
std::string AnswerOrderKey(AnswerOrder order, const std::function<std::string(BookField)>& text,
                           std::optional<long long> registered_days);

// The name under which the search index keeps `order` (with the rule of its keys).
std::string_view IndexedOrderName(AnswerOrder order);

// The orders the search index keeps, every one but the reading's (which is its sort field's):
// their keys made of a table's record as AnswerOrderKey makes them, none for a table whose
// fields are not of the types the rule reads (character fields, a date field).
std::vector<SearchIndexFields::Order> IndexedAnswerOrders();

}  // namespace shelfra
