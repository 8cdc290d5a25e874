// The operator's check of a catalogue: what the program meets when it serves - the host
// configuration, the alias folder, the two tables and the fields the pages read, the settings
// as the pages show them and the search index folder - as findings, one line each.
#pragma once

#include <string>
#include <vector>

namespace shelfra {

// kProblem: the catalogue will not serve as it should (error pages, wrong pages, settings that
// are ignored, an index folder the program cannot use); the text ends with what to do.
// kNote: it serves, but an operator may want to know (a default in use, an index to be made).
enum class FindingKind { kOk, kNote, kProblem };

struct Finding {
  FindingKind kind = FindingKind::kOk;
  std::string text;  // UTF-8, one line, without its prefix
};

// What the pages do with a field: bits of UsedField::uses.
enum FieldUse : unsigned {
  kFieldSearched = 1u << 0,   // tested by the search statement's LIKE tests: a character field
  kFieldListed = 1u << 1,     // a column of the result list
  kFieldShown = 1u << 2,      // shown on the detail page
  kFieldNumberKey = 1u << 3,  // books and loans are looked up by this number
  kFieldDueDate = 1u << 4,    // shown on the detail page of a book on loan
  kFieldLoanFlag = 1u << 5,   // the lending filter compares it with True: a logical field
  kFieldNewList = 1u << 6,    // a column of the UTF-8 pages' result list
  kFieldNewBook = 1u << 7,    // shown on the UTF-8 pages' book page
};

// A field a table must hold for the pages, and what they do with it.
struct UsedField {
  std::string name;   // Shift_JIS
  unsigned uses = 0;  // FieldUse bits
};

// The book table's fields the pages read, in the order of the stored definitions.
std::vector<UsedField> BookFieldsInUse();
// The lending table's fields the pages read.
std::vector<UsedField> LendingFieldsInUse();

// Checks the catalogue as the program finds it now, in the order a request meets it: the host
// configuration (HostConfigPath, as the program reads it), the alias and its folder, each table
// (the file found, its format, records, the fields in use with their types, and the
// registration number in the book table's second position), the settings file as the pages
// show it, and the index folder with each table's index. Reads only: writes, builds and logs
// nothing. Raises nothing but std::bad_alloc.
std::vector<Finding> CheckCatalogue();

// The output line of a finding, without a line end: "ok: ", "note: " or "problem: ", then its
// text.
std::string FindingLine(const Finding& finding);

// True when no finding is a problem: the catalogue will serve.
bool CatalogueServes(const std::vector<Finding>& findings);

}  // namespace shelfra
