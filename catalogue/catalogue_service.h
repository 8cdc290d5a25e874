// CatalogueService: what every front asks of the catalogue - the ordered answer of a search and
// windows of it, one book's record, its call number and its loan - over datasets the front owns.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "catalogue/catalogue.h"
#include "data/query.h"
#include "data/table.h"
#include "catalogue/word_search.h"

namespace shelfra {

// The catalogue's settings of a front's datasets; each is then opened with SetActive(true).
// The answer query: on the catalogue's alias (its statement comes with each search).
void ConfigureAnswerQuery(TQuery& query);
// The book table, with its stored field definitions.
void ConfigureBookTable(TTable& table);
// The lending table, filtered to the loans not yet returned and refreshed for every seek.
void ConfigureLendingTable(TTable& table);

// The orders a result list can be read in: the title reading's (the search's own), the title
// as written, the author's reading (then the author as written), the publication year rising
// or falling (its leading digits), the newest registration date first. Every other order puts
// the books without its value last; ties keep the reading order.
enum class AnswerOrder { kReading, kTitle, kAuthor, kYear, kYearDescending, kNewest };
// The order named `name` ("reading", "title", "author", "year", "-year", "new"); nothing for
// any other name.
std::optional<AnswerOrder> AnswerOrderNamed(std::string_view name);

// What a result list needs of the whole answer.
struct AnswerOutline {
  int count = 0;                  // the books kept
  // Their answer positions (0 is the first) in the order asked; empty when that is the
  // answer's own order and none is left out.
  std::vector<int> positions;
  std::array<int, 10> classes{};  // books per first digit of the class code
  // The answer position of the `i`-th book kept. Requires: 0 <= i < count.
  int At(int i) const { return positions.empty() ? i : positions[static_cast<size_t>(i)]; }
};

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

  // The answer in `order`, leaving out the books whose registration numbers are in
  // `left_out`, with the class counts of the books it keeps. In the answer's own order with
  // none left out, a current search index counts the classes without a row being read;
  // otherwise each book's sort field, class code (and number, when `left_out` is not empty)
  // are read, from the index's shown rows when it has them. Requires: Search ran.
  AnswerOutline Outline(AnswerOrder order, const std::vector<int32_t>& left_out);
  // The books at answer `positions`, in that order, each as the display texts of `fields`.
  // Requires: Search ran, each position is below the count.
  std::vector<std::vector<std::string>> WindowAt(const std::vector<int>& positions,
                                                 const std::vector<std::string_view>& fields);

  // The registration numbers of the books `word` names as an identifier, in this order: the
  // book whose registration number it is (RegistrationNumberWord), then those whose ISBN it is
  // (BooksWithIsbn), each once, only those whose class code starts with `class_prefix`.
  // Requires: the book table is open.
  std::vector<int32_t> IdentifiedBooks(std::string_view word, std::string_view class_prefix);
  // The registration numbers of the books whose ISBN is `isbn` as ISBN-10 or ISBN-13 (the field
  // compared through IsbnKey; found through the search index's keys when it is current, else
  // by a scan of the book table), in table order; none when `isbn` has no ISBN's shape
  // (IsIsbnWord). Requires: the book table is open.
  std::vector<int32_t> BooksWithIsbn(std::string_view isbn);
  // The current book as the display texts of `fields`, as Window gives a row.
  std::vector<std::string> BookRow(const std::vector<std::string_view>& fields);

  // Books [first, first + count) of the whole book table in `order` (not kReading), through the
  // search index's kept order, and the number of books: nothing when there is no current index
  // keeping it (the caller searches for every book instead). The record numbers are for
  // BookFrom. Requires: the book table is open.
  struct TableWindow {
    int total = 0;
    std::vector<int64_t> records;
  };
  std::optional<TableWindow> BooksInOrder(AnswerOrder order, int first, int count);

  // Walking the book table in its own order: BookFrom makes the first book at or after record
  // number `record` (0 is the first; deleted records are passed over) the current one, NextBook
  // the one after the current; false when there is none. BookPosition is the current book's
  // record number (-1 when there is none). Requires: the book table is open.
  bool BookFrom(int64_t record);
  bool NextBook();
  int64_t BookPosition() const;

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
  // The due date of the open loan of the book numbered `number`; nothing when there is none.
  std::optional<std::string> DueDateOf(int32_t number);

 private:
  int Run(std::vector<std::string> lines);

  TQuery& answer_;  // not owned
  TTable& books_;   // not owned
  TTable& loans_;   // not owned
};

// A front's own three datasets over the catalogue, configured by the functions above, and the
// service over them: what a front that is not the old web module opens for a request.
struct CatalogueDatasets {
  TComponent owner{nullptr};
  TQuery& answer = owner.Create<TQuery>("QueryZosho");
  TTable& books = owner.Create<TTable>("ZoshoTable");
  TTable& loans = owner.Create<TTable>("KashidashiTable");
  CatalogueService catalogue{answer, books, loans};
  CatalogueDatasets();
  // Opens both tables, the catalogue's index fields named first.
  void Open();
};

}  // namespace shelfra
