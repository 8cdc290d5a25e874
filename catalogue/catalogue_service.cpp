// The catalogue's searches, books and loans, read through a front's datasets.
#include "catalogue/catalogue_service.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "catalogue/answer_order.h"
#include "catalogue/identifier.h"
#include "data/field.h"
#include "data/query.h"
#include "data/session.h"
#include "data/table.h"
#include "engine/collation.h"

namespace shelfra {

void ConfigureAnswerQuery(TQuery& query) { query.SetDatabaseName(std::string(CatalogueAlias())); }

void ConfigureBookTable(TTable& table) {
  table.SetDatabaseName(std::string(CatalogueAlias()));
  table.SetTableName(std::string(BookTableName()));
  table.SetFieldDefs(BookTableFieldDefs());
  table.SetStoreDefs(true);
}

void ConfigureLendingTable(TTable& table) {
  table.SetDatabaseName(std::string(CatalogueAlias()));
  table.SetTableName(std::string(LendingTableName()));
  table.SetFilter(std::string(LendingFilter()));
  table.SetFiltered(true);
  table.SetAutoRefresh(true);
}

std::optional<AnswerOrder> AnswerOrderNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, AnswerOrder> kNames[] = {
      {"reading", AnswerOrder::kReading}, {"title", AnswerOrder::kTitle},
      {"author", AnswerOrder::kAuthor},   {"year", AnswerOrder::kYear},
      {"-year", AnswerOrder::kYearDescending}, {"new", AnswerOrder::kNewest}};
  for (const auto& [text, order] : kNames) {
    if (text == name) return order;
  }
  return std::nullopt;
}

CatalogueService::CatalogueService(TQuery& answer, TTable& books, TTable& loans)
    : answer_(answer), books_(books), loans_(loans) {}

int CatalogueService::Search(const SearchCriteria& criteria) { return Run(SearchStatementLines(criteria)); }

int CatalogueService::WordSearch(const WordCriteria& criteria) { return Run(WordSearchStatementLines(criteria)); }

int CatalogueService::Run(std::vector<std::string> lines) {
  answer_.Close();
  answer_.ClearSQL();
  for (std::string& line : lines) answer_.AddSQL(std::move(line));
  answer_.SetActive(true);
  return answer_.CountRecords();
}

std::vector<std::vector<std::string>> CatalogueService::Window(int first, int count,
                                                               const std::vector<std::string_view>& fields) {
  std::vector<const TField*> columns;  // looked up once, not for every row
  columns.reserve(fields.size());
  for (std::string_view field : fields) columns.push_back(&answer_.FieldNamed(field));
  std::vector<std::vector<std::string>> rows;
  answer_.First();
  for (int skipped = 0; skipped < first && !answer_.AtEnd(); ++skipped) answer_.MoveNext();
  for (; static_cast<int>(rows.size()) < count && !answer_.AtEnd(); answer_.MoveNext()) {
    std::vector<std::string>& row = rows.emplace_back();
    row.reserve(columns.size());
    for (const TField* column : columns) row.push_back(column->DisplayText());
  }
  return rows;
}

AnswerOutline CatalogueService::Outline(AnswerOrder order, const std::vector<int32_t>& left_out) {
  using F = BookField;
  const TField& class_code = answer_.FieldNamed(BookFieldName(F::kClassCode));
  AnswerOutline outline;
  if (left_out.empty()) {
    // With a current index, the classes and the order are had without reading a row.
    const auto counts = answer_.IndexedLeadingByteCounts(class_code.FieldNo());
    std::optional<std::vector<int>> places;
    if (counts && order != AnswerOrder::kReading) places = answer_.IndexedOrder(IndexedOrderName(order));
    if (counts && (order == AnswerOrder::kReading || places)) {
      outline.count = answer_.CountRecords();
      for (size_t digit = 0; digit < outline.classes.size(); ++digit) {
        outline.classes[digit] = (*counts)[static_cast<unsigned char>('0' + digit)];
      }
      if (places) outline.positions = std::move(*places);
      return outline;
    }
  }
  const TField* number = left_out.empty() ? nullptr : &answer_.FieldNamed(RegistrationNumberField());
  const TField* registered = order == AnswerOrder::kNewest ? &answer_.FieldNamed(BookFieldName(F::kRegisteredOn)) : nullptr;
  auto text = [&](BookField field) { return answer_.FieldNamed(BookFieldName(field)).StringValue(); };
  std::vector<std::string> keys;  // by kept book
  std::vector<int> kept;
  answer_.First();
  for (int position = 0; !answer_.AtEnd(); answer_.MoveNext(), ++position) {
    if (number && std::find(left_out.begin(), left_out.end(), number->IntegerValue()) != left_out.end()) continue;
    const std::string code = class_code.StringValue();
    if (!code.empty() && code[0] >= '0' && code[0] <= '9') ++outline.classes[static_cast<size_t>(code[0] - '0')];
    ++outline.count;
    if (order == AnswerOrder::kReading && left_out.empty()) continue;
    kept.push_back(position);
    if (order == AnswerOrder::kReading) continue;
    std::optional<long long> days;
    if (registered && !registered->IsNull()) days = static_cast<long long>(registered->FloatValue());
    keys.push_back(AnswerOrderKey(order, text, days));
  }
  if (keys.empty()) {
    outline.positions = std::move(kept);
    return outline;
  }
  std::vector<int> places(kept.size());  // sorted, not the keys: no text is moved
  for (size_t i = 0; i < places.size(); ++i) places[i] = static_cast<int>(i);
  std::stable_sort(places.begin(), places.end(), [&](int a, int b) { return keys[a] < keys[b]; });
  outline.positions.reserve(places.size());
  for (int place : places) outline.positions.push_back(kept[static_cast<size_t>(place)]);
  return outline;
}

std::vector<std::vector<std::string>> CatalogueService::WindowAt(const std::vector<int>& positions,
                                                                 const std::vector<std::string_view>& fields) {
  std::vector<const TField*> columns;
  for (std::string_view field : fields) columns.push_back(&answer_.FieldNamed(field));
  std::vector<std::pair<int, size_t>> wanted;  // (position, place in the window), by position
  for (size_t i = 0; i < positions.size(); ++i) wanted.emplace_back(positions[i], i);
  std::sort(wanted.begin(), wanted.end());
  std::vector<std::vector<std::string>> rows(positions.size());
  // The answer query has no filter, so its cursor positions are the answer's positions.
  for (const auto& [target, place] : wanted) {
    if (answer_.AtEnd() || answer_.CursorPosition() != target) answer_.FirstFrom(target);
    if (answer_.AtEnd()) break;
    for (const TField* column : columns) rows[place].push_back(column->DisplayText());
  }
  return rows;
}

std::vector<int32_t> CatalogueService::IdentifiedBooks(std::string_view word, std::string_view class_prefix) {
  std::vector<int32_t> numbers;
  const TField& class_code = books_.FieldNamed(BookFieldName(BookField::kClassCode));
  const TField& number = books_.FieldNamed(RegistrationNumberField());
  auto take = [&] {
    const int32_t n = number.IntegerValue();
    if (class_code.StringValue().starts_with(class_prefix) &&
        std::find(numbers.begin(), numbers.end(), n) == numbers.end()) {
      numbers.push_back(n);
    }
  };
  if (const std::optional<int32_t> n = RegistrationNumberWord(word); n && FindBook(*n)) take();
  if (!IsIsbnWord(word)) return numbers;
  for (int32_t n : BooksWithIsbn(word)) {
    if (FindBook(n)) take();
  }
  return numbers;
}

std::vector<int32_t> CatalogueService::BooksWithIsbn(std::string_view isbn) {
  std::vector<int32_t> numbers;
  if (!IsIsbnWord(isbn)) return numbers;
  const std::string key = IsbnKey(isbn);
  const TField& field = books_.FieldNamed(BookFieldName(BookField::kIsbn));
  const TField& number = books_.FieldNamed(RegistrationNumberField());
  std::string text;
  if (const auto records = books_.IndexedKeyRecords(BookFieldName(BookField::kIsbn), kIsbnKeyRule, key)) {
    // Each record the index names is read and checked as the scan would check it.
    for (int64_t record : *records) {
      books_.FirstFrom(record);
      if (books_.AtEnd() || books_.CursorPosition() != record) continue;
      text = field.StringValue();
      if (text.size() >= 10 && IsbnKey(text) == key) numbers.push_back(number.IntegerValue());
    }
    return numbers;
  }
  for (books_.First(); !books_.AtEnd(); books_.MoveNext()) {
    text = field.StringValue();
    if (text.size() < 10 || IsbnKey(text) != key) continue;
    numbers.push_back(number.IntegerValue());
  }
  return numbers;
}

std::vector<std::string> CatalogueService::BookRow(const std::vector<std::string_view>& fields) {
  std::vector<std::string> row;
  for (std::string_view field : fields) row.push_back(books_.FieldNamed(field).DisplayText());
  return row;
}

std::optional<CatalogueService::TableWindow> CatalogueService::BooksInOrder(AnswerOrder order, int first, int count) {
  const auto window = books_.IndexedOrderWindow(IndexedOrderName(order), first, count);
  if (!window || window->live > std::numeric_limits<int>::max()) return std::nullopt;
  return TableWindow{static_cast<int>(window->live), window->records};
}

bool CatalogueService::BookFrom(int64_t record) {
  books_.FirstFrom(record);
  return !books_.AtEnd();
}

bool CatalogueService::NextBook() {
  books_.MoveNext();
  return !books_.AtEnd();
}

int64_t CatalogueService::BookPosition() const { return books_.CursorPosition(); }

bool CatalogueService::FindBook(int32_t number) {
  return books_.SeekEqual(RegistrationNumberField(), {TSeekValue(number)});
}

std::string CatalogueService::BookText(std::string_view field) { return books_.FieldNamed(field).StringValue(); }

std::string CatalogueService::CallNumber() {
  std::string call_number;
  const std::vector<std::string_view> fields = CallNumberFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) call_number += '/';
    call_number += BookText(fields[i]);
  }
  return call_number;
}

std::optional<std::string> CatalogueService::DueDate() {
  return DueDateOf(books_.FieldNamed(RegistrationNumberField()).IntegerValue());
}

std::optional<std::string> CatalogueService::DueDateOf(int32_t number) {
  if (!loans_.SeekEqual(RegistrationNumberField(), {TSeekValue(number)})) return std::nullopt;
  return loans_.FieldNamed(DueDateField()).StringValue();
}

CatalogueDatasets::CatalogueDatasets() {
  ConfigureAnswerQuery(answer);
  ConfigureBookTable(books);
  ConfigureLendingTable(loans);
}

void CatalogueDatasets::Open() {
  Session().SetIndexFields(CatalogueIndexFields());
  books.SetActive(true);
  loans.SetActive(true);
}

}  // namespace shelfra
