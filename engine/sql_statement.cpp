// Running a prepared statement: through the search index when it can answer, else a scan that
// filters the records and sorts them by the ORDER BY fields.
#include "engine/sql_statement.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>

#include "engine/collation.h"
#include "engine/dbf_file.h"
#include "engine/search_index.h"
#include "engine/sql_condition.h"
#include "engine/sql_lexer.h"

namespace shelfra {

namespace {

// One sort key of an answer row. A text key is its sort key (AppendSortKey), kept in one
// buffer as offset and length, since the record it came from is gone once its chunk is.
struct RowKey {
  Scalar value;  // numbers, logicals and dates; `text` unused
  size_t offset = 0;
  size_t length = 0;
};

// Finds records that hold `needle` anywhere in their bytes: memchr for the needle's rarest
// byte (counted over the first chunk), then a comparison of the whole needle around each hit.
class NeedleFinder {
 public:
  explicit NeedleFinder(std::string needle) : needle_(std::move(needle)) {}
  bool Empty() const { return needle_.empty(); }

  // Chooses the byte to look for from the byte counts of `sample`.
  void Calibrate(std::string_view sample) {
    size_t counts[256] = {};
    for (unsigned char c : sample) ++counts[c];
    for (size_t i = 0; i < needle_.size(); ++i) {
      if (counts[static_cast<unsigned char>(needle_[i])] <= counts[static_cast<unsigned char>(needle_[key_])]) key_ = i;
    }
  }

  // The first position at or after `from` where the needle starts in `bytes`; npos when none.
  size_t Find(std::string_view bytes, size_t from) const {
    const char key = needle_[key_];
    size_t pos = from + key_;
    while (pos < bytes.size()) {
      const void* hit = std::memchr(bytes.data() + pos, key, bytes.size() - pos);
      if (hit == nullptr) return std::string_view::npos;
      pos = static_cast<size_t>(static_cast<const char*>(hit) - bytes.data());
      const size_t start = pos - key_;
      if (start + needle_.size() <= bytes.size() && std::memcmp(bytes.data() + start, needle_.data(), needle_.size()) == 0) {
        return start;
      }
      ++pos;
    }
    return std::string_view::npos;
  }

 private:
  std::string needle_;
  size_t key_ = 0;
};

// The ORDER BY keys of `order_by` bound to the fields of `file` into `out`; an unknown field
// fails naming its token of `text`.
EngineStatus BindSortFields(const std::vector<SqlOrderItem>& order_by, const DbfFile& file, std::string_view text,
                            std::vector<SqlSortField>& out) {
  for (const SqlOrderItem& item : order_by) {
    const int field = file.FieldIndex(item.field);
    if (field < 0) {
      SqlToken token;
      token.kind = SqlToken::Kind::kName;
      token.offset = item.offset;
      token.length = item.length;
      return SqlError(kStatusUnknownField, text, token);
    }
    out.push_back({field, CategoryOf(file.Fields()[static_cast<size_t>(field)].type), item.descending});
  }
  return {};
}

// The answer of a scan: the numbers of the records that pass, in table order until Sort, with
// the sort keys of each row taken while its record is at hand.
class ScanAnswer {
 public:
  // `where` may be null (every record passes). Not owned; all outlive the object.
  ScanAnswer(const DbfFile& file, const SqlCondition* where, const std::vector<SqlSortField>& sort_fields,
             std::vector<uint32_t>& rows)
      : file_(file), where_(where), sort_fields_(sort_fields), rows_(rows) {}

  // Reads the records chunk by chunk. With bytes that every answer holds, only the records
  // where they occur are tested. Fails as DbfFile::ScanChunks does.
  EngineStatus Scan() {
    NeedleFinder finder(where_ != nullptr ? where_->RequiredBytes() : std::string());
    const uint32_t length = file_.RecordLength();
    return file_.ScanChunks([&](uint32_t first, uint32_t n, std::string_view chunk) {
      if (finder.Empty()) {
        for (uint32_t i = 0; i < n; ++i) Take(first + i, chunk.substr(static_cast<size_t>(i) * length, length));
        return true;
      }
      if (first == 0) finder.Calibrate(chunk);
      size_t pos = 0;
      while ((pos = finder.Find(chunk, pos)) != std::string_view::npos) {
        const uint32_t i = static_cast<uint32_t>(pos / length);
        Take(first + i, chunk.substr(static_cast<size_t>(i) * length, length));
        pos = static_cast<size_t>(i + 1) * length;
      }
      return true;
    });
  }

  // Puts the rows in ORDER BY order: a stable sort of positions; text keys compare as bytes
  // (the order of CompareText, and a blank text has an empty key, so blanks come first as
  // CompareScalars puts them).
  void Sort() {
    const size_t width = sort_fields_.size();
    if (width == 0 || rows_.size() < 2) return;
    std::vector<uint32_t> order(rows_.size());
    std::iota(order.begin(), order.end(), 0u);
    const std::string_view sort_keys = sort_keys_;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
      for (size_t k = 0; k < width; ++k) {
        const RowKey& a = keys_[x * width + k];
        const RowKey& b = keys_[y * width + k];
        const int c = sort_fields_[k].category == ValueCategory::kText
                          ? sort_keys.substr(a.offset, a.length).compare(sort_keys.substr(b.offset, b.length))
                          : CompareScalars(sort_fields_[k].category, a.value, b.value);
        if (c != 0) return sort_fields_[k].descending ? c > 0 : c < 0;
      }
      return false;
    });
    std::vector<uint32_t> sorted(rows_.size());
    for (size_t r = 0; r < order.size(); ++r) sorted[r] = rows_[order[r]];
    rows_ = std::move(sorted);
  }

 private:
  void Take(uint32_t number, std::string_view record) {
    if (DbfFile::IsDeleted(record)) return;
    if (where_ != nullptr && !where_->Holds(record)) return;
    rows_.push_back(number);
    for (const SqlSortField& sort : sort_fields_) {
      RowKey key;
      key.value = FieldScalar(file_, record, sort.field, sort.category);
      if (sort.category == ValueCategory::kText) {
        key.offset = sort_keys_.size();
        AppendSortKey(key.value.text, sort_keys_);
        key.length = sort_keys_.size() - key.offset;
        key.value.text = {};
      }
      keys_.push_back(key);
    }
  }

  const DbfFile& file_;
  const SqlCondition* where_;                     // not owned; null: no condition
  const std::vector<SqlSortField>& sort_fields_;  // not owned
  std::vector<uint32_t>& rows_;                   // not owned
  std::vector<RowKey> keys_;                      // sort_fields_.size() per row
  std::string sort_keys_;                         // the text keys' bytes
};

}  // namespace

EngineStatus SqlStatement::Prepare(std::string text, std::unique_ptr<SqlStatement>& out) {
  std::unique_ptr<SqlStatement> statement(new SqlStatement());
  statement->text_ = std::move(text);
  if (EngineStatus s = ParseSelect(statement->text_, statement->select_); !s.Ok()) return s;
  out = std::move(statement);
  return {};
}

EngineStatus SqlStatement::Execute(const DbfFile& file, const SearchIndex* index, std::vector<uint32_t>& rows,
                                   bool* from_index, std::vector<uint32_t>* ordinals) const {
  if (from_index != nullptr) *from_index = false;
  if (ordinals != nullptr) ordinals->clear();
  // Binding first, so that an unknown field or a type mismatch fails whichever way the
  // statement is answered.
  std::unique_ptr<SqlCondition> where;
  if (select_.where) {
    if (EngineStatus s = SqlCondition::Bind(*select_.where, file, text_, where); !s.Ok()) return s;
  }
  std::vector<SqlSortField> sort_fields;
  if (EngineStatus s = BindSortFields(select_.order_by, file, text_, sort_fields); !s.Ok()) return s;

  rows.clear();
  if (index != nullptr && index->Run(file, where.get(), sort_fields, rows, ordinals)) {
    if (from_index != nullptr) *from_index = true;
    return {};
  }
  if (ordinals != nullptr) ordinals->clear();

  ScanAnswer answer(file, where.get(), sort_fields, rows);
  if (EngineStatus s = answer.Scan(); !s.Ok()) return s;
  // An answer read from bytes the file no longer has is no answer.
  if (EngineStatus s = file.CheckUnchanged(); !s.Ok()) return s;
  answer.Sort();
  return {};
}

}  // namespace shelfra
