// Test helper: an in-memory dataset of string and float fields for the producers' tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"

namespace shelfra::testing {

// One field of the fake table.
struct FakeFieldDef {
  std::string name;
  TFieldType type = TFieldType::ftString;
};

// A cell: text for string fields, the number's text for float fields; nullopt is blank.
using FakeRecord = std::vector<std::optional<std::string>>;

class FakeDataSet : public TDataSet {
 public:
  FakeDataSet(TComponent* owner, std::vector<FakeFieldDef> fields, std::vector<FakeRecord> records);
  ~FakeDataSet() override { Close(); }  // as the real datasets do, telling the observers

  TFieldValue GetFieldValue(int field_no) const override;
  // Position of the current record, from 0 (equal to the record count at the end).
  int RecordIndex() const { return static_cast<int>(current_); }
  int opens = 0;  // InternalOpen calls

 protected:
  void InternalOpen() override;
  void InternalClose() override {}
  bool InternalNext() override;
  bool InternalFirst() override;

 private:
  std::vector<FakeFieldDef> defs_;
  std::vector<FakeRecord> records_;
  size_t current_ = 0;
};

}  // namespace shelfra::testing
