// TDataSet: the record set every page reads through - open and close, the current record,
// iteration, fields by name or position, seek, count, filter, and notices to observers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/component.h"
#include "data/field.h"

namespace shelfra {

class TDataSet;

enum class TDataSetEvent { kOpened, kClosed, kLayoutChanged };

// Told when a dataset opens, closes or discards/rebuilds its field list. Not owned by the dataset.
// Opening sends kLayoutChanged (new fields) then kOpened; closing sends kLayoutChanged (fields
// gone) then kClosed. Requires: an observer removes itself before it is destroyed.
class TDataSetObserver {
 public:
  virtual ~TDataSetObserver() = default;
  virtual void DataSetEvent(TDataSet& dataset, TDataSetEvent event) = 0;
};

// A value handed to SeekEqual.
using TSeekValue = std::variant<int32_t, double, std::string>;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner);
  ~TDataSet() override;

  bool Active() const { return active_; }
  // true opens (nothing happens when already open); false closes. A failed open leaves it closed.
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Raises EListError "list index out of range (<index>)" for a position outside the list.
  TField& FieldAt(int index) const;
  // First field whose name equals `name`, ASCII letters ignoring case (the bytes of
  // double-byte characters compare exactly); raises EDatabaseError
  // "<dataset>: field '<name>' not found" when there is none.
  TField& FieldNamed(std::string_view name) const;
  // The same lookup; nullptr when missing (also on a closed dataset).
  TField* FindFieldNamed(std::string_view name) const;

  // After opening the first record is current. MoveNext makes the next record current; when
  // there is none, AtEnd turns true and the last record stays current. AtEnd is also true for
  // a dataset without records (its fields are blank). Raises EDatabaseError when closed.
  void MoveNext();
  bool AtEnd() const { return at_end_; }
  // Moves to the first record (that passes the filter). Raises EDatabaseError when closed.
  void First();
  // Moves to the first record (that passes the filter) at or after cursor position `position`
  // (see CursorPosition); AtEnd when there is none. Raises EDatabaseError when closed.
  void FirstFrom(int64_t position);
  // Where the current record stands in the dataset's cursor: for a table in its own order its
  // record number (deleted records count), for an answer its place in the answer (0 is the
  // first); -1 when there is no current record or the dataset has no cursor of its own.
  virtual int64_t CursorPosition() const { return -1; }

  // Number of records the dataset yields (after filtering); -1 when it cannot be counted.
  // Raises EDatabaseError when the dataset is closed.
  virtual int CountRecords();
  // The records from the current one to the last when the dataset knows their number without
  // reading them; -1 when it does not (the default).
  virtual int64_t RecordsAhead() const { return -1; }
  // Moves to the first record, in dataset order and among those passing the filter, whose
  // fields (names separated by ";", blanks round each ignored) equal the values, one value per
  // name. Not found: returns false and the current record stays. Raises EDatabaseError when
  // closed, for a missing field, or (from the typed datasets) for a value that does not fit the
  // field ("constant out of range" for a smallint); EConvertError for a text given for a number
  // field that is no number.
  bool SeekEqual(std::string_view field_names, const std::vector<TSeekValue>& values, bool case_insensitive = false,
                 bool partial = false);

  // The filter condition; compiled when the dataset opens and again when it changes while
  // open (an engine error for a condition the engine cannot read). Switching Filtered while
  // open moves to the first record that passes.
  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string filter);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool filtered);

  void AddObserver(TDataSetObserver* observer);
  void RemoveObserver(TDataSetObserver* observer);

  // The raw value of field `field_no` of the current record; blank when there is none.
  virtual TFieldValue GetFieldValue(int field_no) const = 0;
  // The display text of `field` (one of this dataset's fields) for the current record when
  // the dataset holds it ready, byte for byte the text the field's type gives its value: true
  // with it in `text`; false (the default), `text` untouched, and the field composes it. For
  // the cells of a long list, which would each pass through the value otherwise.
  virtual bool ReadyDisplayText(const TField& /*field*/, std::string& /*text*/) const { return false; }

 protected:
  // Opens the cursor and calls CreateField for every field, in table order. Raises on
  // failure; InternalClose then undoes what was done. The dataset moves to the first record.
  virtual void InternalOpen() = 0;
  // Releases the cursor; never raises.
  virtual void InternalClose() = 0;
  // Makes the next record current; false at the end.
  virtual bool InternalNext() = 0;
  // Makes the first record current; false when there is none.
  virtual bool InternalFirst() = 0;
  // FirstFrom's move; the default (a dataset without a cursor of its own) moves to the first
  // record and on `position` times.
  virtual bool InternalFirstFrom(size_t position);
  // Base: finds nothing. On success the found record is current.
  virtual bool InternalSeek(const std::vector<TField*>& fields, const std::vector<TSeekValue>& values,
                            bool case_insensitive, bool partial);
  // Called while open when Filter or Filtered changed; recompiles the filter.
  virtual void FilterChanged() {}

  TField& CreateField(std::string name, TFieldType type, int size);
  void SetAtEnd(bool at_end) { at_end_ = at_end; }
  void Notify(TDataSetEvent event);
  // Raises EDatabaseError with "<name>: <text>" (or the text alone for an unnamed dataset).
  [[noreturn]] void DatabaseError(std::string_view text) const;
  void CheckActive() const;

 private:
  void DestroyFields();

  bool active_ = false;
  bool at_end_ = true;
  std::string filter_;
  bool filtered_ = false;
  std::vector<TField*> fields_;                // owned as components, table order
  std::vector<TDataSetObserver*> observers_;   // not owned
};

}  // namespace shelfra
