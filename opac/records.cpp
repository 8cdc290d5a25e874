// Books and answer pages as the UTF-8 front's formats show them.
#include "opac/records.h"

#include <algorithm>

#include "base/profile.h"
#include "catalogue/identifier.h"
#include "catalogue/settings.h"
#include "opac/html.h"

namespace shelfra::opac {

namespace {

using F = BookField;

// The fields of a list row: the result list's (ResultListFields, which the search index keeps
// a copy of, so a page of rows is read without the book table), then these, kept there too.
constexpr BookField kMoreRowFields[] = {F::kTitleReading, F::kIsbn, F::kReferenceOnly, F::kMissing, F::kWithdrawn};

std::vector<std::string_view> RowFields() {
  std::vector<std::string_view> fields = ResultListFields();
  for (BookField field : kMoreRowFields) fields.push_back(BookFieldName(field));
  return fields;
}

bool IsTrue(std::string_view flag_text) { return flag_text == "True"; }

// A book of a row read with RowFields(): the list's fields by position.
BookRecord RecordOfRow(const std::vector<std::string>& row) {
  enum Column { kNumber, kClassCode, kBookMark, kVolumeMark, kTitle, kSeries, kAuthor, kPublisher, kYear, kPages, kSize };
  const size_t more = ResultListFields().size();
  BookRecord book;
  book.number = RegistrationNumberWord(row[kNumber]).value_or(0);
  book.class_code = FromSjis(row[kClassCode]);
  // Composed as CatalogueService::CallNumber composes the book page's.
  book.call_number = FromSjis(row[kClassCode] + "/" + row[kBookMark] + "/" + row[kVolumeMark]);
  book.title = FromSjis(row[kTitle]);
  book.series = FromSjis(row[kSeries]);
  book.author = FromSjis(row[kAuthor]);
  book.publisher = FromSjis(row[kPublisher]);
  book.year = FromSjis(row[kYear]);
  book.pages = FromSjis(row[kPages]);
  book.size = FromSjis(row[kSize]);
  book.title_reading = FromSjis(row[more]);
  book.isbn = FromSjis(row[more + 1]);
  book.reference_only = IsTrue(row[more + 2]);
  book.missing = IsTrue(row[more + 3]);
  book.withdrawn = IsTrue(row[more + 4]);
  return book;
}

// The books `criteria`'s one `q` word identifies, when `q` is one word and no other box is
// filled; none otherwise.
std::vector<int32_t> Identified(CatalogueService& catalogue, const WordCriteria& c) {
  const std::vector<std::string> words = SplitWords(c.q);
  if (words.size() != 1 || !SplitWords(c.title).empty() || !SplitWords(c.author).empty() ||
      !SplitWords(c.keyword).empty()) {
    return {};
  }
  return catalogue.IdentifiedBooks(words[0], c.class_prefix);
}

void CountClass(std::string_view class_code, std::array<int, 10>& classes) {
  if (!class_code.empty() && class_code[0] >= '0' && class_code[0] <= '9') {
    ++classes[static_cast<size_t>(class_code[0] - '0')];
  }
}

// Makes `out` page `page` (from 1; a page past the last is the last) of `found` books, `per` a
// page.
void PlacePage(int found, int page, int per, AnswerPage& out) {
  out.found = found;
  if (found == 0) return;
  out.last = (found + per - 1) / per;
  out.page = std::min(page, out.last);
  out.first = (out.page - 1) * per;
}

// Adds the book of a row read with RowFields() to `out`, with its due date.
void AddBook(CatalogueService& catalogue, const std::vector<std::string>& row, bool identified, AnswerPage& out) {
  out.identified.push_back(identified);
  BookRecord& book = out.books.emplace_back(RecordOfRow(row));
  if (const std::optional<std::string> due = catalogue.DueDateOf(book.number)) book.due = FromSjis(*due);
}

// Page `page` of every book of the catalogue in `order`, read through the index's kept order:
// only the page's books are read. Nothing when the index does not keep it. The classes are not
// counted.
std::optional<AnswerPage> PageOfCatalogue(CatalogueService& catalogue, AnswerOrder order, int page, int per) {
  std::optional<CatalogueService::TableWindow> window = catalogue.BooksInOrder(order, (page - 1) * per, per);
  if (!window) return std::nullopt;
  AnswerPage out;
  PlacePage(window->total, page, per, out);
  if (out.found > 0 && out.page != page) window = catalogue.BooksInOrder(order, out.first, per);  // past the last
  if (!window) return std::nullopt;
  const std::vector<std::string_view> fields = RowFields();
  for (int64_t record : window->records) {
    if (!catalogue.BookFrom(record) || catalogue.BookPosition() != record) return std::nullopt;  // changed meanwhile
    AddBook(catalogue, catalogue.BookRow(fields), false, out);
  }
  return out;
}

}  // namespace

std::string_view BookStateName(BookState state) {
  switch (state) {
    case BookState::kOnShelf: return "on_shelf";
    case BookState::kOnLoan: return "on_loan";
    case BookState::kReferenceOnly: return "reference_only";
    case BookState::kMissing: return "missing";
    case BookState::kWithdrawn: return "withdrawn";
  }
  return "on_shelf";
}

BookState BookRecord::State() const {
  if (due) return BookState::kOnLoan;
  if (reference_only) return BookState::kReferenceOnly;
  if (missing) return BookState::kMissing;
  if (withdrawn) return BookState::kWithdrawn;
  return BookState::kOnShelf;
}

std::vector<std::string> ClassNames() {
  std::vector<std::string> names;
  const std::string file = SettingsFilePath();
  for (int digit = 0; digit <= 9; ++digit) {
    const SettingKey key = ClassNameKey(digit);
    names.push_back(FromSjis(GetPrivateProfileString(key.section, key.key, key.default_value, file)));
  }
  return names;
}

std::optional<int32_t> BookNumberOfPath(std::string_view text) {
  if (text.empty() || text[0] == '0') return std::nullopt;
  return RegistrationNumberWord(text);
}

std::string BookAddress(std::string_view script_name, int32_t number) {
  return std::string(script_name).append("/book/").append(std::to_string(number));
}

BookRecord CurrentBook(CatalogueService& catalogue) {
  auto text = [&](BookField field) { return FromSjis(catalogue.BookText(BookFieldName(field))); };
  BookRecord book;
  book.number = RegistrationNumberWord(catalogue.BookText(BookFieldName(F::kRegistrationNumber))).value_or(0);
  book.title = text(F::kTitle);
  book.title_reading = text(F::kTitleReading);
  book.series = text(F::kSeries);
  book.author = text(F::kAuthor);
  book.author_reading = text(F::kAuthorReading);
  book.publisher = text(F::kPublisher);
  book.year = text(F::kYear);
  book.pages = text(F::kPages);
  book.size = text(F::kSize);
  book.call_number = FromSjis(catalogue.CallNumber());
  book.place = text(F::kPlace);
  book.isbn = text(F::kIsbn);
  book.note = text(F::kNote);
  book.contents = text(F::kContents);
  book.subjects = text(F::kSubjects);
  book.class_code = text(F::kClassCode);
  book.registered_on = text(F::kRegisteredOn);
  book.reference_only = IsTrue(catalogue.BookText(BookFieldName(F::kReferenceOnly)));
  book.missing = IsTrue(catalogue.BookText(BookFieldName(F::kMissing)));
  book.withdrawn = IsTrue(catalogue.BookText(BookFieldName(F::kWithdrawn)));
  if (const std::optional<std::string> due = catalogue.DueDate()) book.due = FromSjis(*due);
  return book;
}

AnswerPage PageOfAnswer(CatalogueService& catalogue, const WordCriteria& criteria, AnswerOrder order, int page,
                        int per) {
  if (criteria.Empty() && order != AnswerOrder::kReading) {
    if (std::optional<AnswerPage> whole = PageOfCatalogue(catalogue, order, page, per)) return *whole;
  }
  AnswerPage out;
  const std::vector<int32_t> identified = Identified(catalogue, criteria);
  std::vector<std::vector<std::string>> identified_rows;
  for (int32_t number : identified) {
    catalogue.FindBook(number);
    identified_rows.push_back(catalogue.BookRow(RowFields()));
    CountClass(identified_rows.back()[1], out.classes);
  }
  catalogue.WordSearch(criteria);
  const AnswerOutline outline = catalogue.Outline(order, identified);
  for (size_t digit = 0; digit < out.classes.size(); ++digit) out.classes[digit] += outline.classes[digit];
  const int listed = static_cast<int>(identified.size());
  PlacePage(listed + outline.count, page, per, out);
  if (out.found == 0) return out;
  const int end = std::min(out.found, out.first + per);
  std::vector<std::vector<std::string>> rows;
  for (int i = out.first; i < std::min(end, listed); ++i) rows.push_back(identified_rows[static_cast<size_t>(i)]);
  const size_t identified_rows_shown = rows.size();
  std::vector<int> positions;
  for (int i = std::max(out.first, listed); i < end; ++i) positions.push_back(outline.At(i - listed));
  const std::vector<std::string_view> fields = RowFields();
  for (std::vector<std::string>& row : catalogue.WindowAt(positions, fields)) rows.push_back(std::move(row));
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != fields.size()) continue;  // a position past the answer's end: no book
    AddBook(catalogue, rows[i], i < identified_rows_shown, out);
  }
  return out;
}

int AnswerCount(CatalogueService& catalogue, const WordCriteria& criteria) {
  const std::vector<int32_t> identified = Identified(catalogue, criteria);
  catalogue.WordSearch(criteria);
  return static_cast<int>(identified.size()) + catalogue.Outline(AnswerOrder::kReading, identified).count;
}

}  // namespace shelfra::opac
