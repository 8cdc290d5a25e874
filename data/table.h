// TTable: a dataset over one table file of the alias directory, records in natural order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/db_dataset.h"
#include "data/field_def.h"

namespace shelfra {

class DbfFile;
class SearchIndex;

class TTable : public TDBDataSet {
 public:
  explicit TTable(TComponent* owner);
  ~TTable() override;

  const std::string& TableName() const { return table_name_; }
  // Closes the table first when it is open.
  void SetTableName(std::string name);

  // The stored field definitions: what the system expects the table to hold. Opening reads
  // the field list from the file itself and does not use them.
  const std::vector<TFieldDef>& FieldDefs() const { return field_defs_; }
  void SetFieldDefs(std::vector<TFieldDef> defs) { field_defs_ = std::move(defs); }
  bool StoreDefs() const { return store_defs_; }
  void SetStoreDefs(bool store) { store_defs_ = store; }

  // The record numbers (FirstFrom positions), in table order, of the live records whose field
  // `field_name` has the key `key` by the rule `rule`, when the table's search index keeps
  // that field's keys by that rule (SearchIndexFields::keyed); nothing otherwise, and the caller
  // scans. Raises EDatabaseError when closed or for a missing field.
  std::optional<std::vector<int64_t>> IndexedKeyRecords(std::string_view field_name, std::string_view rule,
                                                         std::string_view key);
  // The record numbers at places [first, first + count) of the table's live records in the
  // order its search index keeps under `name` (SearchIndexFields::orders), and how many live
  // records there are; nothing when the index does not keep that order. Raises EDatabaseError
  // when closed.
  struct OrderWindow {
    std::vector<int64_t> records;
    int64_t live = 0;
  };
  std::optional<OrderWindow> IndexedOrderWindow(std::string_view name, int64_t first, int64_t count);

 protected:
  // Opens "<alias directory>/<TableName>". Raises EDatabaseError "<name>: TableName property
  // not set" for an empty name, and EDBEngineError for an unknown alias, a table type other
  // than dBase (".DBF", any ASCII case) or a file that is missing or no table.
  void InternalOpen() override;
  void InternalClose() override;
  // The index of the table file when the host configuration names an index directory.
  const SearchIndex* SeekIndex() override;
  void SeekIndexUsed() override;

 private:
  std::string table_name_;
  std::vector<TFieldDef> field_defs_;
  bool store_defs_ = false;
  TDatabase* database_ = nullptr;     // not owned: the open table's, while open
  const DbfFile* table_file_ = nullptr;  // not owned: the database's, while open
};

}  // namespace shelfra
