// TTable: opening a table file through the alias.
#include "data/table.h"

#include <algorithm>

#include "base/format.h"
#include "base/text.h"
#include "data/database.h"
#include "data/engine_error.h"
#include "engine/dbf_file.h"
#include "engine/search_index.h"
#include "data_res.h"

namespace shelfra {

TTable::TTable(TComponent* owner) : TDBDataSet(owner) {}

TTable::~TTable() { Close(); }

void TTable::SetTableName(std::string name) {
  if (name == table_name_) return;
  Close();
  table_name_ = std::move(name);
}

void TTable::InternalOpen() {
  if (table_name_.empty()) DatabaseError(res::data::kTableNameMissing);
  TDatabase& database = AcquireDatabase();
  // The table type follows from the extension; only dBase tables exist here.
  std::string file_name;
  CheckEngine(DbfTableFileName(table_name_, true, file_name));
  const DbfFile& file = database.OpenTableFile(file_name);
  OpenCursor(file, {}, true);
  database_ = &database;
  table_file_ = &file;
}

const SearchIndex* TTable::SeekIndex() {
  if (database_ == nullptr || table_file_ == nullptr) return nullptr;
  return database_->SearchIndexFor(*table_file_).get();
}

std::optional<std::vector<int64_t>> TTable::IndexedKeyRecords(std::string_view field_name, std::string_view rule,
                                                               std::string_view key) {
  const int field = FieldNamed(field_name).FieldNo();
  const SearchIndex* index = SeekIndex();
  if (index == nullptr) return std::nullopt;
  std::vector<uint32_t> records;
  const bool answered = index->FindKey(field, rule, key, records);
  SeekIndexUsed();  // a damaged index is made again
  if (!answered) return std::nullopt;
  return std::vector<int64_t>(records.begin(), records.end());
}

std::optional<TTable::OrderWindow> TTable::IndexedOrderWindow(std::string_view name, int64_t first, int64_t count) {
  CheckActive();
  const SearchIndex* index = SeekIndex();
  if (index == nullptr || first < 0 || count < 0) return std::nullopt;
  std::vector<uint32_t> records;
  const uint32_t from = static_cast<uint32_t>(std::min<int64_t>(first, UINT32_MAX));
  const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, UINT32_MAX));
  const bool answered = index->OrderWindow(name, from, n, records);
  const int64_t live = index->LiveCount();
  SeekIndexUsed();  // a damaged index is made again
  if (!answered) return std::nullopt;
  return OrderWindow{std::vector<int64_t>(records.begin(), records.end()), live};
}

void TTable::SeekIndexUsed() {
  if (database_ != nullptr && table_file_ != nullptr) database_->CheckIndex(*table_file_);
}

void TTable::InternalClose() {
  database_ = nullptr;
  table_file_ = nullptr;
  CloseCursor();
  ReleaseDatabase();
}

}  // namespace shelfra
