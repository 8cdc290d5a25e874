// TEngineDataSet: a dataset over an engine cursor - the records of one table file, either in
// natural order or as the answer list of a statement - with its compiled filter.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/dataset.h"
#include "engine/sql_condition.h"

namespace shelfra {

class DbfFile;
class SearchIndex;

// The shown rows of an answer the search index gave: the index, the live record ordinals of
// the answer's records (in the same order) and what to do once the index turns out damaged.
struct TShownRows {
  std::shared_ptr<const SearchIndex> index;
  std::vector<uint32_t> ordinals;
  std::function<void()> on_damaged;
};

class TEngineDataSet : public TDataSet {
 public:
  explicit TEngineDataSet(TComponent* owner);
  ~TEngineDataSet() override;

  // The raw value of field `field_no` of the current record; blank when there is none.
  TFieldValue GetFieldValue(int field_no) const override;
  // Ready in a row of the index's shown rows: a character field's text, and a number field's
  // when it is a plain whole number (PlainIntegerText); every other text is composed.
  bool ReadyDisplayText(const TField& field, std::string& text) const override;
  // The records the dataset yields: deleted ones left out, the filter applied when Filtered.
  int CountRecords() override;
  // Known for an answer list without an active filter.
  int64_t RecordsAhead() const override;
  // How many of the records the dataset yields hold each byte first in the value of field
  // `field_no` (an empty or null value counts under 0), when the search index that gave the
  // answer tells without their rows being read (the field is the one it groups by, no filter
  // is active); nothing otherwise.
  std::optional<std::array<int, 256>> IndexedLeadingByteCounts(int field_no) const;
  // The places (0 for the first) of the records the dataset yields, put in the order the
  // search index that gave the answer keeps under `name` (SearchIndexFields::orders), when it
  // keeps it and no filter is active; nothing otherwise.
  std::optional<std::vector<int>> IndexedOrder(std::string_view name) const;
  int64_t CursorPosition() const override { return has_current_ ? static_cast<int64_t>(position_) : -1; }

 protected:
  // Attaches the cursor: all records of `file` in natural order, or (with `answer`) the listed
  // record numbers in that order; creates one field per field of the file and compiles a
  // non-empty Filter. With `shown` (an answer list the index gave), the fields the index
  // shows are read from its shown rows and the table's records are not read for them; should
  // a row turn out damaged, the table is read from then on and `on_damaged` called once.
  // Requires: `file` outlives the cursor (until CloseCursor).
  void OpenCursor(const DbfFile& file, std::vector<uint32_t> answer, bool natural_order, TShownRows shown = {});
  void CloseCursor();

  bool InternalNext() override;
  bool InternalFirst() override;
  bool InternalFirstFrom(size_t position) override;
  // A scan from the first record for the first one (passing the filter) whose fields equal the
  // values, each value made a constant of its field's type.
  bool InternalSeek(const std::vector<TField*>& fields, const std::vector<TSeekValue>& values,
                    bool case_insensitive, bool partial) override;
  void FilterChanged() override;
  // The search index of the cursor's file, asked for by a seek by number on a natural-order
  // cursor; nullptr (the default) when there is none, and the seek then scans.
  virtual const SearchIndex* SeekIndex() { return nullptr; }
  // Called after a seek asked SeekIndex and used the index it gave.
  virtual void SeekIndexUsed() {}

 private:
  size_t CursorSize() const;
  uint32_t RecordAt(size_t position) const;
  // The record at cursor `position` exists, is not deleted and passes an active filter.
  bool Visible(size_t position) const;
  // Makes the shown row of cursor `position` the one at hand; false when the shown rows
  // cannot give it.
  bool ShownRowAt(size_t position) const {
    return shown_.index != nullptr && (position == shown_position_ || ReadShownRow(position));
  }
  bool ReadShownRow(size_t position) const;
  // Lets go of the shown rows of an index found damaged, and has it made again.
  void ForgetDamagedIndex() const;
  // The bytes of the record at cursor `position`. A natural-order cursor reads the mapped
  // file; an answer list, whose records come in any order, reads each record once with
  // pread into a buffer (one system call costs less than faulting in the pages around it).
  std::string_view RecordBytes(size_t position) const;
  void CompileFilter();
  struct SeekKey;
  // `value` made a constant of `field`'s type. Raises EDatabaseError when it cannot be.
  SeekKey MakeSeekKey(const TField& field, const TSeekValue& value) const;
  // Makes `position` the current record when there is one (after the last check that the
  // file is intact); true when there is.
  bool Land(std::optional<size_t> position);

  const DbfFile* file_ = nullptr;       // not owned: the database's
  std::vector<uint32_t> answer_;        // record numbers when !natural_
  bool natural_ = true;
  size_t position_ = 0;                 // cursor position of the current record
  bool has_current_ = false;
  std::unique_ptr<SqlCondition> filter_;  // compiled Filter(), when not empty
  mutable std::string record_buffer_;     // the answer record last read by RecordBytes
  mutable uint32_t buffered_record_ = UINT32_MAX;  // its number; UINT32_MAX when none
  mutable std::string_view buffered_view_;         // its bytes (in record_buffer_ or the file's)
  mutable TShownRows shown_;                       // index empty when there are none
  mutable std::vector<std::string_view> shown_fields_;  // the row at hand, by field (ShownRow)
  // By field: how ReadyDisplayText gives its text from the shown rows (kComposed: it does not).
  enum class ReadyText : uint8_t { kComposed, kCharacter, kNumber };
  mutable std::vector<ReadyText> ready_texts_;
  mutable std::string_view shown_null_flags_;
  mutable size_t shown_position_ = SIZE_MAX;       // its cursor position; SIZE_MAX when none
};

}  // namespace shelfra
