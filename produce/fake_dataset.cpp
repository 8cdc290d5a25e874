// Test helper: the in-memory dataset.
#include "produce/fake_dataset.h"

#include <cstdlib>

namespace shelfra::testing {

FakeDataSet::FakeDataSet(TComponent* owner, std::vector<FakeFieldDef> fields, std::vector<FakeRecord> records)
    : TDataSet(owner), defs_(std::move(fields)), records_(std::move(records)) {}

TFieldValue FakeDataSet::GetFieldValue(int field_no) const {
  TFieldValue value;
  if (current_ >= records_.size()) return value;
  const std::optional<std::string>& cell = records_[current_][static_cast<size_t>(field_no)];
  if (!cell) return value;
  value.is_null = false;
  if (defs_[static_cast<size_t>(field_no)].type == TFieldType::ftFloat) {
    value.number = std::strtod(cell->c_str(), nullptr);
  } else {
    value.text = *cell;
  }
  return value;
}

void FakeDataSet::InternalOpen() {
  ++opens;
  for (const FakeFieldDef& def : defs_) CreateField(def.name, def.type, 64);
  current_ = 0;
  SetAtEnd(records_.empty());
}

bool FakeDataSet::InternalNext() {
  if (current_ < records_.size()) ++current_;
  return current_ < records_.size();
}

bool FakeDataSet::InternalFirst() {
  current_ = 0;
  return !records_.empty();
}

}  // namespace shelfra::testing
