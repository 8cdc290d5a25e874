// The catalogue's searches, books and loans, read through a front's datasets.
#include "catalogue/catalogue_service.h"

#include <utility>

#include "data/field.h"
#include "data/query.h"
#include "data/table.h"

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
  const int32_t number = books_.FieldNamed(RegistrationNumberField()).IntegerValue();
  if (!loans_.SeekEqual(RegistrationNumberField(), {TSeekValue(number)})) return std::nullopt;
  return loans_.FieldNamed(DueDateField()).StringValue();
}

}  // namespace shelfra
