// Running a prepared statement: filter the records, then sort them by the ORDER BY fields.
#include "data/sql_statement.h"

#include <algorithm>
#include <memory>
#include <numeric>

#include "data/dbf_file.h"
#include "data/engine_error.h"
#include "data/sql_condition.h"
#include "data/sql_lexer.h"

namespace shelfra {

SqlStatement::SqlStatement(std::string text) : text_(std::move(text)), select_(ParseSelect(text_)) {}

std::vector<uint32_t> SqlStatement::Execute(const DbfFile& file) const {
  std::unique_ptr<SqlCondition> where;
  if (select_.where) where = std::make_unique<SqlCondition>(*select_.where, file, text_);

  struct SortField {
    int field;
    ValueCategory category;
    bool descending;
  };
  std::vector<SortField> sort_fields;
  for (const SqlOrderItem& item : select_.order_by) {
    int field = FindFileField(file, item.field);
    if (field < 0) {
      SqlToken token;
      token.kind = SqlToken::Kind::kName;
      token.offset = item.offset;
      token.length = item.length;
      RaiseSqlError(kStatusUnknownField, text_, token);
    }
    sort_fields.push_back({field, CategoryOf(file.Fields()[static_cast<size_t>(field)].type), item.descending});
  }

  std::vector<uint32_t> rows;
  const uint32_t count = file.RecordCount();
  for (uint32_t i = 0; i < count; ++i) {
    std::string_view record = file.Record(i);
    if (DbfFile::IsDeleted(record)) continue;
    if (where && !where->Holds(record)) continue;
    rows.push_back(i);
  }
  if (sort_fields.empty() || rows.size() < 2) return rows;

  // Keys are read once into one array (texts point into the file), then a stable sort of
  // positions compares them.
  const size_t width = sort_fields.size();
  std::vector<Scalar> keys(rows.size() * width);
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string_view record = file.Record(rows[r]);
    for (size_t k = 0; k < width; ++k) {
      keys[r * width + k] = FieldScalar(file, record, sort_fields[k].field, sort_fields[k].category);
    }
  }
  std::vector<uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
    for (size_t k = 0; k < width; ++k) {
      int c = CompareScalars(sort_fields[k].category, keys[x * width + k], keys[y * width + k]);
      if (c != 0) return sort_fields[k].descending ? c > 0 : c < 0;
    }
    return false;
  });
  std::vector<uint32_t> sorted(rows.size());
  for (size_t r = 0; r < order.size(); ++r) sorted[r] = rows[order[r]];
  return sorted;
}

}  // namespace shelfra
