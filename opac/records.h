// What every format of the UTF-8 front shows of the catalogue: a book's fields and state, and
// one page of a search's answer. The pages, the JSON interface, the feeds and the harvesting
// interface all read books through these, so they give the same books in the same order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_service.h"
#include "catalogue/word_search.h"

namespace shelfra::opac {

// A book's state: on loan (with its due date), or else the first of its flags that holds, or
// on the shelf. A book can be on loan and flagged too; the flags are kept besides.
enum class BookState { kOnShelf, kOnLoan, kReferenceOnly, kMissing, kWithdrawn };
// The state's name in the machine-readable formats: "on_shelf", "on_loan",
// "reference_only", "missing", "withdrawn".
std::string_view BookStateName(BookState state);

// A book's fields as UTF-8 text (FromSjis of the stored text; empty when the field is empty).
// A book read from a list row (ListedBooks) has the list's fields only: the others are empty.
struct BookRecord {
  int32_t number = 0;  // the registration number
  std::string title, title_reading, series, author, author_reading, publisher, year, pages, size, place, isbn,
      note, contents, subjects, class_code, registered_on;
  std::string call_number;  // class code, book mark and volume mark with "/" between them
  bool reference_only = false, missing = false, withdrawn = false;
  std::optional<std::string> due;  // the due date of its open loan, as stored (UTF-8)

  BookState State() const;
};

// The ten class names of the settings file, class 0 first (UTF-8, unescaped).
std::vector<std::string> ClassNames();

// The registration number a book's address names ("/book/<number>"): its digits without zeros
// in front (RegistrationNumberWord); nothing for any other text, so each book has one address.
std::optional<int32_t> BookNumberOfPath(std::string_view text);

// The address of book `number`'s page under `script_name` (not escaped).
std::string BookAddress(std::string_view script_name, int32_t number);

// The catalogue's current book (CatalogueService::FindBook found it), every field.
BookRecord CurrentBook(CatalogueService& catalogue);

// One page of the answer to a word search.
struct AnswerPage {
  int found = 0;  // the books of the whole answer
  int page = 1;   // the page shown (a page past the last shows the last), from 1
  int last = 0;   // the last page; 0 when nothing was found
  int first = 0;  // the answer position of the page's first book, from 0
  std::array<int, 10> classes{};  // the whole answer's books per first digit of the class code
  std::vector<BookRecord> books;   // the page's books, in order
  std::vector<bool> identified;    // by book: found as the identifier `q` names (listed first)
};

// Page `page` (from 1) of `per` books of the answer to `criteria` (Shift_JIS; Requires: no box
// over the cap) in `order`. A `q` of one word and no other box also finds the books that word
// identifies (CatalogueService::IdentifiedBooks), listed first and not again. Empty criteria
// are every book of the catalogue; in an order the search index keeps ready, only the page's
// books are read and the classes are not counted. Raises what the catalogue service raises.
// Requires: the service's book and lending tables are open.
AnswerPage PageOfAnswer(CatalogueService& catalogue, const WordCriteria& criteria, AnswerOrder order, int page,
                        int per);

// How many books the answer to `criteria` holds, as PageOfAnswer counts them.
int AnswerCount(CatalogueService& catalogue, const WordCriteria& criteria);

}  // namespace shelfra::opac
