// TDataSet: open/close, fields, iteration, seek, filter switches and observer notices.
#include "data/dataset.h"

#include <algorithm>
#include <utility>

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "base_res.h"
#include "engine/collation.h"
#include "data/db_errors.h"
#include "data_res.h"

namespace shelfra {

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

// The typed datasets close themselves in their destructors, while their cursor still exists.
TDataSet::~TDataSet() = default;

void TDataSet::SetActive(bool active) {
  if (active == active_) return;
  if (active) {
    // Undoes a half-done open, so that a failed open leaves the dataset closed.
    struct Undo {
      TDataSet& dataset;
      bool armed = true;
      ~Undo() {
        if (!armed) return;
        dataset.active_ = false;
        dataset.at_end_ = true;
        dataset.InternalClose();
        dataset.DestroyFields();
      }
    } undo{*this};
    InternalOpen();
    active_ = true;
    at_end_ = !InternalFirst();
    undo.armed = false;
    Notify(TDataSetEvent::kLayoutChanged);
    Notify(TDataSetEvent::kOpened);
  } else {
    active_ = false;
    at_end_ = true;
    InternalClose();
    DestroyFields();
    Notify(TDataSetEvent::kLayoutChanged);
    Notify(TDataSetEvent::kClosed);
  }
}

TField& TDataSet::FieldAt(int index) const {
  if (index < 0 || index >= FieldCount()) throw EListError(Format(res::base::kListIndexError, {index}));
  return *fields_[static_cast<size_t>(index)];
}

TField& TDataSet::FieldNamed(std::string_view name) const {
  TField* field = FindFieldNamed(name);
  if (field == nullptr) DatabaseError(Format(res::data::kFieldNotFound, {name}));
  return *field;
}

TField* TDataSet::FindFieldNamed(std::string_view name) const {
  for (TField* field : fields_) {
    if (SameFieldName(field->FieldName(), name)) return field;
  }
  return nullptr;
}

void TDataSet::MoveNext() {
  CheckActive();
  if (at_end_) return;
  if (!InternalNext()) at_end_ = true;
}

void TDataSet::First() {
  CheckActive();
  at_end_ = !InternalFirst();
}

void TDataSet::FirstFrom(int64_t position) {
  CheckActive();
  at_end_ = position < 0 ? !InternalFirst() : !InternalFirstFrom(static_cast<size_t>(position));
}

bool TDataSet::InternalFirstFrom(size_t position) {
  if (!InternalFirst()) return false;
  for (size_t k = 0; k < position; ++k) {
    if (!InternalNext()) return false;
  }
  return true;
}

int TDataSet::CountRecords() {
  CheckActive();
  return -1;
}

bool TDataSet::SeekEqual(std::string_view field_names, const std::vector<TSeekValue>& values,
                         bool case_insensitive, bool partial) {
  CheckActive();
  std::vector<TField*> fields;
  while (true) {
    size_t semicolon = field_names.find(';');
    fields.push_back(&FieldNamed(TrimBlanks(field_names.substr(0, semicolon))));
    if (semicolon == std::string_view::npos) break;
    field_names.remove_prefix(semicolon + 1);
  }
  if (values.size() != fields.size()) DatabaseError(res::data::kSeekValueCount);
  if (!InternalSeek(fields, values, case_insensitive, partial)) return false;
  at_end_ = false;
  return true;
}

bool TDataSet::InternalSeek(const std::vector<TField*>& /*fields*/, const std::vector<TSeekValue>& /*values*/,
                            bool /*case_insensitive*/, bool /*partial*/) {
  return false;
}

void TDataSet::SetFilter(std::string filter) {
  if (filter == filter_) return;
  std::string previous = std::exchange(filter_, std::move(filter));
  if (!active_) return;
  // Keep the old text when the new one does not compile, so text and compiled filter agree.
  struct Restore {
    TDataSet& dataset;
    std::string& previous;
    bool armed = true;
    ~Restore() {
      if (armed) dataset.filter_ = std::move(previous);
    }
  } restore{*this, previous};
  FilterChanged();
  restore.armed = false;
  if (filtered_) at_end_ = !InternalFirst();
}

void TDataSet::SetFiltered(bool filtered) {
  if (filtered == filtered_) return;
  filtered_ = filtered;
  if (!active_) return;
  FilterChanged();
  at_end_ = !InternalFirst();
}

void TDataSet::AddObserver(TDataSetObserver* observer) {
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) observers_.push_back(observer);
}

void TDataSet::RemoveObserver(TDataSetObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

TField& TDataSet::CreateField(std::string name, TFieldType type, int size) {
  const int field_no = FieldCount();
  TField* field = nullptr;
  switch (type) {
    case TFieldType::ftSmallint:
      field = &Create<TSmallintField>("", *this, std::move(name), type, size, field_no);
      break;
    case TFieldType::ftInteger:
      field = &Create<TIntegerField>("", *this, std::move(name), type, size, field_no);
      break;
    case TFieldType::ftFloat:
      field = &Create<TFloatField>("", *this, std::move(name), type, size, field_no);
      break;
    case TFieldType::ftDate:
      field = &Create<TDateField>("", *this, std::move(name), type, size, field_no);
      break;
    case TFieldType::ftDateTime:
      field = &Create<TDateTimeField>("", *this, std::move(name), type, size, field_no);
      break;
    case TFieldType::ftBoolean:
      field = &Create<TBooleanField>("", *this, std::move(name), type, size, field_no);
      break;
    default:  // ftString, and the raw text of memo and unknown fields
      field = &Create<TStringField>("", *this, std::move(name), type, size, field_no);
      break;
  }
  fields_.push_back(field);
  return *field;
}

void TDataSet::DestroyFields() {
  while (!fields_.empty()) {
    TField* field = fields_.back();
    fields_.pop_back();
    DestroyComponent(*field);
  }
}

void TDataSet::Notify(TDataSetEvent event) {
  std::vector<TDataSetObserver*> observers = observers_;  // an observer may detach while told
  for (TDataSetObserver* observer : observers) {
    if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) {
      observer->DataSetEvent(*this, event);
    }
  }
}

void TDataSet::DatabaseError(std::string_view text) const {
  if (Name().empty()) throw EDatabaseError(std::string(text));
  throw EDatabaseError(Format("%s: %s", {Name(), text}));
}

void TDataSet::CheckActive() const {
  if (!active_) DatabaseError(res::data::kDataSetClosed);
}

}  // namespace shelfra
