// The catalogue's tables, fields, search statement and index fields.
#include "catalogue/catalogue.h"

#include <algorithm>

#include "base/text.h"
#include "catalogue/answer_order.h"
#include "catalogue/identifier.h"
#include "catalogue_res.h"

namespace shelfra {

namespace {

using T = TFieldType;
namespace r = res::catalogue;

struct Def {
  std::string_view name;
  TFieldType type;
  int size;
};

constexpr Def kBookFields[] = {
    {r::kFieldRegisteredOn, T::ftDate, 0},     {r::kFieldRegistrationNo, T::ftFloat, 0},
    {r::kFieldAuthor, T::ftString, 254},       {r::kFieldAuthorReading, T::ftString, 254},
    {r::kFieldTitle, T::ftString, 254},        {r::kFieldTitleReading, T::ftString, 254},
    {r::kFieldAddedNotes, T::ftString, 80},    {r::kFieldNote, T::ftString, 254},
    {r::kFieldSeries, T::ftString, 38},        {r::kFieldSeriesReading, T::ftString, 58},
    {r::kFieldPublisher, T::ftString, 40},     {r::kFieldYear, T::ftString, 10},
    {r::kFieldSupplier, T::ftString, 40},      {r::kFieldPrice, T::ftFloat, 0},
    {r::kFieldShelfMark, T::ftString, 10},     {r::kFieldClass, T::ftSmallint, 0},
    {r::kFieldClassCode, T::ftString, 7},      {r::kFieldBookMark, T::ftString, 4},
    {r::kFieldVolumeMark, T::ftString, 4},     {r::kFieldCallNumber, T::ftString, 20},
    {r::kFieldFunding, T::ftString, 20},       {r::kFieldPages, T::ftString, 20},
    {r::kFieldPlace, T::ftString, 20},         {r::kFieldContents, T::ftString, 254},
    {r::kFieldSize, T::ftString, 20},          {r::kFieldMissing, T::ftBoolean, 0},
    {r::kFieldWithdrawReason, T::ftString, 20}, {r::kFieldWithdrawn, T::ftBoolean, 0},
    {r::kFieldWithdrawnOn, T::ftDate, 0},      {r::kFieldWithdrawNo, T::ftFloat, 0},
    {r::kFieldSelected, T::ftBoolean, 0},      {r::kFieldIsbn, T::ftString, 20},
    {r::kFieldReferenceOnly, T::ftBoolean, 0}, {r::kFieldSubjects, T::ftString, 254},
    {r::kFieldTrcClass, T::ftString, 20},      {r::kFieldTrcBook, T::ftString, 6},
    {r::kFieldTrcVolume, T::ftString, 11},     {r::kFieldBarcode, T::ftString, 8},
    {r::kFieldReturned, T::ftBoolean, 0},      {r::kFieldOnLoan, T::ftBoolean, 0},
    {r::kFieldTrcNo, T::ftString, 20},
};

// Adds the field of each "<field> like" test of `line` to `fields` unless it is there. A field
// name follows a blank or "(" (neither is ever the trail byte of a Shift_JIS character).
void AddLikeFields(std::string_view line, std::vector<std::string_view>& fields) {
  for (size_t at = 0; (at = line.find(' ', at)) != std::string_view::npos; ++at) {
    if (!SameTextAscii(line.substr(at, 6), " like ")) continue;
    const size_t start = line.find_last_of(" (", at - 1) + 1;
    const std::string_view field = line.substr(start, at - start);
    if (std::find(fields.begin(), fields.end(), field) == fields.end()) fields.push_back(field);
  }
}

}  // namespace

std::string StatementLine(std::string_view line_template, std::string_view criterion) {
  std::string quoted;
  for (char c : criterion) {
    quoted.push_back(c);
    if (c == '"') quoted.push_back('"');
  }
  std::string out;
  size_t start = 0;
  for (size_t at = line_template.find("{v}"); at != std::string_view::npos;
       at = line_template.find("{v}", start)) {
    out.append(line_template.substr(start, at - start));
    out.append(quoted);
    start = at + 3;
  }
  out.append(line_template.substr(start));
  return out;
}

std::string_view CatalogueAlias() { return r::kCatalogueAlias; }
std::string_view BookTableName() { return r::kBookTable; }
std::string_view LendingTableName() { return r::kLendingTable; }
std::string_view LendingFilter() { return r::kLendingFilter; }

std::vector<TFieldDef> BookTableFieldDefs() {
  std::vector<TFieldDef> defs;
  defs.reserve(std::size(kBookFields));
  for (const Def& d : kBookFields) defs.push_back(TFieldDef{std::string(d.name), d.type, d.size});
  return defs;
}

std::string_view RegistrationNumberField() { return r::kFieldRegistrationNo; }
std::string_view DueDateField() { return r::kFieldDueDate; }
std::string_view LoanReturnedField() { return r::kFieldReturned; }

std::vector<std::string_view> ResultListFields() {
  return {r::kFieldRegistrationNo, r::kFieldClassCode, r::kFieldBookMark, r::kFieldVolumeMark,
          r::kFieldTitle,          r::kFieldSeries,    r::kFieldAuthor,   r::kFieldPublisher,
          r::kFieldYear,           r::kFieldPages,     r::kFieldSize};
}

std::vector<std::string_view> CallNumberFields() {
  return {r::kFieldClassCode, r::kFieldBookMark, r::kFieldVolumeMark};
}

const std::vector<DetailField>& DetailFields() {
  static const std::vector<DetailField> kFields = {
      {"Title", r::kFieldTitle, "", true},         {"Author", r::kFieldAuthor, "", true},
      {"Series", r::kFieldSeries, "", true},       {"Publisher", r::kFieldPublisher, "", true},
      {"Year", r::kFieldYear, "", true},           {"Size", r::kFieldSize, "(cm)", true},
      {"Page", r::kFieldPages, "p.", true},        {"Comment", r::kFieldNote, "", false},
      {"Place", r::kFieldPlace, "", true},         {"Content", r::kFieldContents, "", true},
  };
  return kFields;
}

std::string_view BookFieldName(BookField field) {
  switch (field) {
    case BookField::kTitle: return r::kFieldTitle;
    case BookField::kTitleReading: return r::kFieldTitleReading;
    case BookField::kSeries: return r::kFieldSeries;
    case BookField::kAuthor: return r::kFieldAuthor;
    case BookField::kPublisher: return r::kFieldPublisher;
    case BookField::kYear: return r::kFieldYear;
    case BookField::kPages: return r::kFieldPages;
    case BookField::kSize: return r::kFieldSize;
    case BookField::kPlace: return r::kFieldPlace;
    case BookField::kIsbn: return r::kFieldIsbn;
    case BookField::kNote: return r::kFieldNote;
    case BookField::kContents: return r::kFieldContents;
    case BookField::kSubjects: return r::kFieldSubjects;
    case BookField::kRegistrationNumber: return r::kFieldRegistrationNo;
    case BookField::kReferenceOnly: return r::kFieldReferenceOnly;
    case BookField::kMissing: return r::kFieldMissing;
    case BookField::kWithdrawn: return r::kFieldWithdrawn;
    case BookField::kAuthorReading: return r::kFieldAuthorReading;
    case BookField::kClassCode: return r::kFieldClassCode;
    case BookField::kRegisteredOn: return r::kFieldRegisteredOn;
  }
  return r::kFieldTitle;
}

std::vector<std::string_view> SearchedFields() {
  // This order is the order of the index file's slots, which existing index files keep.
  std::vector<std::string_view> fields;
  for (std::string_view line : {r::kSqlTitleFirst, r::kSqlTitleMore, r::kSqlAuthor, r::kSqlKeyword, r::kSqlClass}) {
    AddLikeFields(line, fields);
  }
  return fields;
}

SearchCriteria SearchCriteria::FromQuery(const TStrings& query) {
  SearchCriteria c;
  c.title1 = query.Values("title1");
  c.title2 = query.Values("title2");
  c.title3 = query.Values("title3");
  c.author = query.Values("Author");
  c.keyword1 = query.Values("keyword1");
  c.keyword2 = query.Values("keyword2");
  c.keyword3 = query.Values("keyword3");
  c.bunrui = query.Values("bunrui");
  return c;
}

bool SearchCriteria::Empty() const {
  return title1.empty() && title2.empty() && title3.empty() && author.empty() && keyword1.empty() &&
         keyword2.empty() && keyword3.empty() && (bunrui.empty() || bunrui == "10");
}

std::vector<std::string> SearchStatementLines(const SearchCriteria& c) {
  std::vector<std::string> lines;
  lines.emplace_back(r::kSqlSelect);
  lines.push_back(StatementLine(r::kSqlTitleFirst, c.title1));
  if (!c.title2.empty()) lines.push_back(StatementLine(r::kSqlTitleMore, c.title2));
  if (!c.title3.empty()) lines.push_back(StatementLine(r::kSqlTitleMore, c.title3));
  if (!c.author.empty()) lines.push_back(StatementLine(r::kSqlAuthor, c.author));
  if (c.bunrui != "10") lines.push_back(StatementLine(r::kSqlClass, c.bunrui));
  for (const std::string* keyword : {&c.keyword1, &c.keyword2, &c.keyword3}) {
    if (!keyword->empty()) lines.push_back(StatementLine(r::kSqlKeyword, *keyword));
  }
  lines.emplace_back(r::kSqlOrder);
  return lines;
}

SearchIndexFields CatalogueIndexFields() {
  SearchIndexFields fields;
  for (std::string_view name : SearchedFields()) fields.texts.emplace_back(name);
  fields.sort = r::kFieldTitleReading;
  fields.number = r::kFieldRegistrationNo;
  // The result list is written from the index's copies of its fields.
  for (std::string_view name : ResultListFields()) fields.shown.emplace_back(name);
  // So are the other orders' sort fields, the flags of a book's state, and the title's reading
  // and the ISBN, which the machine-readable lists give.
  for (std::string_view name : {r::kFieldAuthorReading, r::kFieldRegisteredOn, r::kFieldReferenceOnly,
                                r::kFieldMissing, r::kFieldWithdrawn, r::kFieldTitleReading, r::kFieldIsbn}) {
    fields.shown.emplace_back(name);
  }
  // A class search is a range of the class codes' order, and an answer is counted by class
  // without reading its rows.
  fields.grouped = r::kFieldClassCode;
  // An ISBN is found by the one form its ISBN-10 and ISBN-13 share.
  fields.keyed = r::kFieldIsbn;
  fields.key_rule = std::string(kIsbnKeyRule);
  fields.key_of = [](std::string_view text) { return text.size() < 10 ? std::string() : IsbnKey(text); };
  // The result list's other orders, ready.
  fields.orders = IndexedAnswerOrders();
  return fields;
}

}  // namespace shelfra
