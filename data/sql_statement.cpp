// Running a prepared statement: filter the records, then sort them by the ORDER BY fields.
#include "data/sql_statement.h"

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>

#include "data/collation.h"
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
  // positions compares them. Text keys are folded once into one buffer of sort keys, whose
  // byte order is the text order; a character takes at least one byte of text and exactly
  // three of key, so reserving three times the text keeps the views into the buffer valid.
  const size_t width = sort_fields.size();
  std::vector<Scalar> keys(rows.size() * width);
  size_t text_bytes = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string_view record = file.Record(rows[r]);
    for (size_t k = 0; k < width; ++k) {
      Scalar& key = keys[r * width + k];
      key = FieldScalar(file, record, sort_fields[k].field, sort_fields[k].category);
      if (sort_fields[k].category == ValueCategory::kText) text_bytes += key.text.size();
    }
  }
  std::string sort_keys;
  sort_keys.reserve(3 * text_bytes);
  for (size_t k = 0; k < width; ++k) {
    if (sort_fields[k].category != ValueCategory::kText) continue;
    for (size_t r = 0; r < rows.size(); ++r) {
      Scalar& key = keys[r * width + k];
      const size_t start = sort_keys.size();
      AppendSortKey(key.text, sort_keys);
      key.text = std::string_view(sort_keys.data() + start, sort_keys.size() - start);
    }
  }
  std::vector<uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
    for (size_t k = 0; k < width; ++k) {
      const Scalar& a = keys[x * width + k];
      const Scalar& b = keys[y * width + k];
      // A blank text has an empty key, so key order puts blanks first as CompareScalars does.
      int c = sort_fields[k].category == ValueCategory::kText ? a.text.compare(b.text)
                                                              : CompareScalars(sort_fields[k].category, a, b);
      if (c != 0) return sort_fields[k].descending ? c > 0 : c < 0;
    }
    return false;
  });
  std::vector<uint32_t> sorted(rows.size());
  for (size_t r = 0; r < order.size(); ++r) sorted[r] = rows[order[r]];
  return sorted;
}

}  // namespace shelfra
