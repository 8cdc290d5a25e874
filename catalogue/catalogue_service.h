// CatalogueService: what every front asks of the catalogue - the ordered answer of a search and
// windows of it, one book's record, its call number and its loan - over datasets the front owns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/word_search.h"

namespace shelfra {

class TQuery;
class TTable;

// The catalogue's settings of a front's datasets; each is then opened with SetActive(true).
// The answer query: on the catalogue's alias (its statement comes with each search).
void ConfigureAnswerQuery(TQuery& query);
// The book table, with its stored field definitions.
void ConfigureBookTable(TTable& table);
// The lending table, filtered to the loans not yet returned and refreshed for every seek.
void ConfigureLendingTable(TTable& table);

// Every call reads through the datasets, so it raises what they raise (EDBEngineError,
// EDatabaseError, EConvertError) and nothing else.
class CatalogueService {
 public:
  // Over a front's datasets, configured by the functions above. Not owned: they outlive the
  // service.
  CatalogueService(TQuery& answer, TTable& books, TTable& loans);

  // Runs the search for `criteria` (Shift_JIS): the statement of SearchStatementLines in the
  // answer query, opened. Returns how many books it found; the query then yields them in the
  // order every front shows them (the title reading's).
  int Search(const SearchCriteria& criteria);
  // Runs the word search for `criteria` (Shift_JIS) as Search runs the form's: the statement of
  // WordSearchStatementLines. Requires: !criteria.OverfullBox().
  int WordSearch(const WordCriteria& criteria);

  // The books of the answer from position `first` (0 is the first) on, at most `count` of
  // them, each as the display texts of `fields` in that order; fewer (none) past the end.
  // Requires: Search ran.
  std::vector<std::vector<std::string>> Window(int first, int count, const std::vector<std::string_view>& fields);

  // Makes the book whose registration number is `number` the book table's current record;
  // false when there is none.
  bool FindBook(int32_t number);
  // The stored text of field `field` of the current book.
  std::string BookText(std::string_view field);
  // The current book's call number: the CallNumberFields with "/" between them, read one after
  // the other (so a missing one is reported in reading order). Ends in "/" when the volume
  // mark is empty.
  std::string CallNumber();
  // The due date of the current book's open loan, as the lending table stores it; nothing when
  // the book is not on loan.
  std::optional<std::string> DueDate();

 private:
  int Run(std::vector<std::string> lines);

  TQuery& answer_;  // not owned
  TTable& books_;   // not owned
  TTable& loans_;   // not owned
};

}  // namespace shelfra
