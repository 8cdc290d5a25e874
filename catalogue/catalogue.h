// What the program knows about the catalogue, in one place: the alias, the two tables and the
// lending filter, the stored fields of the book table and which of them each page reads, the
// search statement and what the search index holds. The texts live in res/catalogue.txt.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/strings.h"
#include "data/field_def.h"
#include "engine/search_index.h"

namespace shelfra {

// The database alias of the catalogue ("Vadoz").
std::string_view CatalogueAlias();
// File names of the book table and the lending table (Shift_JIS).
std::string_view BookTableName();
std::string_view LendingTableName();
// The lending table's filter: only loans not yet returned.
std::string_view LendingFilter();

// The 41 stored fields of the book table, in table order (the registration number at
// position 1). Names are Shift_JIS.
std::vector<TFieldDef> BookTableFieldDefs();

// The registration number: the key of both tables (the book table's second field).
std::string_view RegistrationNumberField();
// The lending table's due date of a loan.
std::string_view DueDateField();
// The lending table's flag of a returned loan, which the lending filter tests.
std::string_view LoanReturnedField();

// The columns of the result list, in order: the registration number (the link to the detail
// page), the call number's pieces, title, series, author, publisher, year, pages and size.
std::vector<std::string_view> ResultListFields();

// The call number's three fields, in the order it is composed and read: class code, book mark
// and volume mark, written with "/" between them.
std::vector<std::string_view> CallNumberFields();

// A field the detail page shows through a tag of its own, with the text written after the
// value (also after an empty value). `on_page`: the page's template uses the tag (the note
// field has a tag that the page does not use).
struct DetailField {
  std::string_view tag;
  std::string_view field;
  std::string_view suffix;
  bool on_page;
};
// The detail page's field tags (besides the call number, the number and the lending status).
const std::vector<DetailField>& DetailFields();

// Fields of the book table that a front names one at a time (the UTF-8 front's book page and
// the book's state).
enum class BookField {
  kTitle, kTitleReading, kSeries, kAuthor, kPublisher, kYear, kPages, kSize, kPlace, kIsbn, kNote, kContents,
  kSubjects, kRegistrationNumber, kReferenceOnly, kMissing, kWithdrawn, kAuthorReading, kClassCode, kRegisteredOn,
};
// The stored name of `field` (Shift_JIS).
std::string_view BookFieldName(BookField field);

// The fields the search statement tests with LIKE, each once, in the order the statement's
// lines name them (title, author, keyword, then class lines): the one list of the searched
// fields, read from the statement itself.
std::vector<std::string_view> SearchedFields();

// The criteria of a search as the search form sends them.
struct SearchCriteria {
  std::string title1, title2, title3, author, keyword1, keyword2, keyword3, bunrui;

  // The query fields title1, title2, title3, Author, keyword1, keyword2, keyword3 and bunrui
  // (names ignore ASCII case).
  static SearchCriteria FromQuery(const TStrings& query);
  // No criterion at all: every text empty and no class chosen (bunrui empty or "10").
  bool Empty() const;
};

// The lines of the search statement for `criteria`, in order: the select, the first title
// line (also when title1 is empty), each further title line, the author line, the class line
// (unless bunrui is "10"), each keyword line, the order line. A double quote in a criterion
// is written doubled, which the engine reads as one quote character inside the constant:
// search words stay search words and cannot end the constant early.
std::vector<std::string> SearchStatementLines(const SearchCriteria& criteria);

// The statement line `line_template` (a kSql* line) with every "{v}" replaced by `criterion`,
// its double quotes doubled (see SearchStatementLines).
std::string StatementLine(std::string_view line_template, std::string_view criterion);

// What the search index of a catalogue table holds: the fields the search statement tests
// and the class code, the title reading it sorts by, the registration number the detail
// page seeks, and the result list's fields, so the list is written without reading the table,
// with the fields its other orders sort by and the book's flags its rows show.
SearchIndexFields CatalogueIndexFields();
// The name of the rule by which the index keys the ISBN field (IsbnKey of texts of at least 10
// bytes); a changed rule gets a new name, so an index made by the old one is not asked.
inline constexpr std::string_view kIsbnKeyRule = "isbn-key-1";

}  // namespace shelfra
