// TEngineDataSet: cursor movement, field values, counting, seeking and the filter.
#include "data/engine_dataset.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "data/engine_error.h"
#include "data/field_text.h"
#include "data_res.h"
#include "engine/collation.h"
#include "engine/dbf_file.h"
#include "engine/host_config.h"
#include "engine/search_index.h"
#include "engine/sql_condition.h"
#include "engine/sql_parser.h"

namespace shelfra {

namespace {

// A seek value read as a number: an integer becomes the double of the same number; a text is
// read as a number (the locale's decimal separator standing for the point).
double SeekNumber(const TSeekValue& value) {
  if (const int32_t* i = std::get_if<int32_t>(&value)) return *i;
  if (const double* d = std::get_if<double>(&value)) return *d;
  return TextToDouble(std::get<std::string>(value));
}

}  // namespace

TEngineDataSet::TEngineDataSet(TComponent* owner) : TDataSet(owner) {}

TEngineDataSet::~TEngineDataSet() = default;

void TEngineDataSet::OpenCursor(const DbfFile& file, std::vector<uint32_t> answer, bool natural_order,
                                TShownRows shown) {
  file_ = &file;
  answer_ = std::move(answer);
  natural_ = natural_order;
  shown_ = std::move(shown);
  if (shown_.index != nullptr && (natural_ || shown_.ordinals.size() != answer_.size())) shown_ = TShownRows{};
  shown_fields_.assign(shown_.index != nullptr ? file.Fields().size() : 0, std::string_view());
  ready_texts_.assign(shown_fields_.size(), ReadyText::kComposed);
  for (size_t i = 0; i < ready_texts_.size(); ++i) {
    // A field with a null bit is read as a value: the null flags decide first.
    const DbfField& f = file.Fields()[i];
    if (!shown_.index->Shows(static_cast<int>(i)) || f.null_bit >= 0) continue;
    if (f.dbf_type == 'C' && f.type == TFieldType::ftString) ready_texts_[i] = ReadyText::kCharacter;
    const bool number = f.type == TFieldType::ftFloat || f.type == TFieldType::ftInteger || f.type == TFieldType::ftSmallint;
    if (f.dbf_type == 'N' && number) ready_texts_[i] = ReadyText::kNumber;
  }
  shown_position_ = SIZE_MAX;
  has_current_ = false;
  position_ = 0;
  for (const DbfField& f : file.Fields()) {
    CreateField(f.name, f.type, f.type == TFieldType::ftString ? f.length : 0);
  }
  if (!Filter().empty()) CompileFilter();
}

void TEngineDataSet::CloseCursor() {
  filter_.reset();
  file_ = nullptr;
  answer_.clear();
  natural_ = true;
  has_current_ = false;
  position_ = 0;
  buffered_record_ = UINT32_MAX;
  shown_ = TShownRows{};
  shown_fields_.clear();
  ready_texts_.clear();
  shown_position_ = SIZE_MAX;
}

size_t TEngineDataSet::CursorSize() const {
  if (file_ == nullptr) return 0;
  return natural_ ? file_->RecordCount() : answer_.size();
}

uint32_t TEngineDataSet::RecordAt(size_t position) const {
  return natural_ ? static_cast<uint32_t>(position) : answer_[position];
}

std::string_view TEngineDataSet::RecordBytes(size_t position) const {
  const uint32_t number = RecordAt(position);
  if (natural_) return file_->Record(number);
  if (number != buffered_record_) {
    buffered_record_ = UINT32_MAX;  // stays unset when the read raises
    CheckEngine(file_->ReadRecords(number, 1, record_buffer_, buffered_view_));
    buffered_record_ = number;
  }
  return buffered_view_;
}

bool TEngineDataSet::ReadShownRow(size_t position) const {
  shown_position_ = SIZE_MAX;
  // A list reads the rows in answer order, scattered over the index: the rows a few places
  // ahead are asked from memory now, so that they are there when their turn comes (the place
  // of a row further ahead, its bytes nearer, as finding them needs the place).
  constexpr size_t kPlaceAhead = 16, kRowAhead = 8;
  const std::vector<uint32_t>& ordinals = shown_.ordinals;
  if (position + kPlaceAhead < ordinals.size()) shown_.index->PrefetchShownRow(ordinals[position + kPlaceAhead], false);
  if (position + kRowAhead < ordinals.size()) shown_.index->PrefetchShownRow(ordinals[position + kRowAhead], true);
  if (shown_.index->ShownRow(*file_, shown_.ordinals[position], shown_fields_, shown_null_flags_)) {
    shown_position_ = position;
    return true;
  }
  ForgetDamagedIndex();
  return false;
}

void TEngineDataSet::ForgetDamagedIndex() const {
  // The table answers from now on, and the index is made again.
  std::function<void()> on_damaged = std::move(shown_.on_damaged);
  shown_ = TShownRows{};
  shown_position_ = SIZE_MAX;
  ready_texts_.assign(ready_texts_.size(), ReadyText::kComposed);
  if (on_damaged) on_damaged();
}

std::optional<std::array<int, 256>> TEngineDataSet::IndexedLeadingByteCounts(int field_no) const {
  if (shown_.index == nullptr || (filter_ && Filtered())) return std::nullopt;
  std::array<uint32_t, 256> counts{};
  if (!shown_.index->CountLeadingBytes(field_no, shown_.ordinals, counts)) {
    if (!shown_.index->Status().Ok()) ForgetDamagedIndex();
    return std::nullopt;
  }
  std::array<int, 256> out{};
  for (size_t b = 0; b < counts.size(); ++b) out[b] = static_cast<int>(counts[b]);
  return out;
}

std::optional<std::vector<int>> TEngineDataSet::IndexedOrder(std::string_view name) const {
  if (shown_.index == nullptr || (filter_ && Filtered())) return std::nullopt;
  std::vector<uint32_t> places;
  if (!shown_.index->Reorder(name, shown_.ordinals, places)) {
    if (!shown_.index->Status().Ok()) ForgetDamagedIndex();
    return std::nullopt;
  }
  return std::vector<int>(places.begin(), places.end());
}

bool TEngineDataSet::Visible(size_t position) const {
  // An answer list holds live records that passed the statement; the table cannot have
  // changed since without the request failing (CheckIntact, and the check before sending).
  if (!natural_ && !(filter_ && Filtered())) return position < answer_.size();
  std::string_view record = RecordBytes(position);
  if (DbfFile::IsDeleted(record)) return false;
  return !(filter_ && Filtered()) || filter_->Holds(record);
}

TFieldValue TEngineDataSet::GetFieldValue(int field_no) const {
  if (!has_current_ || file_ == nullptr) return TFieldValue{};
  if (shown_.index != nullptr && shown_.index->Shows(field_no) && ShownRowAt(position_)) {
    return file_->DecodeValue(field_no, shown_fields_[static_cast<size_t>(field_no)], shown_null_flags_);
  }
  TFieldValue value = file_->Decode(RecordBytes(position_), field_no);
  CheckEngine(file_->CheckIntact());  // a value read from pages the file no longer has is no value
  return value;
}

bool TEngineDataSet::ReadyDisplayText(const TField& field, std::string& text) const {
  const auto no = static_cast<size_t>(field.FieldNo());
  if (no >= ready_texts_.size() || ready_texts_[no] == ReadyText::kComposed || !has_current_ ||
      !ShownRowAt(position_)) {
    return false;
  }
  const std::string_view raw = shown_fields_[no];
  if (ready_texts_[no] == ReadyText::kNumber) return PlainIntegerText(raw, text);
  // Decode's text of a C field, which StringValue's rule leaves as it is up to its limit (no
  // zero byte is left in it).
  text.assign(DbfFile::CharacterText(raw).substr(0, TStringField::kMaxBytes));
  return true;
}

int TEngineDataSet::CountRecords() {
  CheckActive();
  if (!natural_ && !(filter_ && Filtered())) return static_cast<int>(answer_.size());
  int count = 0;
  const size_t size = CursorSize();
  for (size_t p = 0; p < size; ++p) {
    if (Visible(p)) ++count;
  }
  CheckEngine(file_->CheckIntact());
  return count;
}

int64_t TEngineDataSet::RecordsAhead() const {
  if (natural_ || (filter_ && Filtered()) || !has_current_) return -1;
  return static_cast<int64_t>(answer_.size() - position_);
}

bool TEngineDataSet::InternalFirst() { return InternalFirstFrom(0); }

bool TEngineDataSet::InternalFirstFrom(size_t position) {
  const size_t size = CursorSize();
  for (size_t p = position; p < size; ++p) {
    if (Visible(p)) {
      CheckEngine(file_->CheckIntact());
      position_ = p;
      has_current_ = true;
      return true;
    }
  }
  if (file_ != nullptr) CheckEngine(file_->CheckIntact());
  has_current_ = false;
  return false;
}

bool TEngineDataSet::InternalNext() {
  if (!has_current_) return false;
  const size_t size = CursorSize();
  for (size_t p = position_ + 1; p < size; ++p) {
    if (Visible(p)) {
      CheckEngine(file_->CheckIntact());
      position_ = p;
      return true;
    }
  }
  CheckEngine(file_->CheckIntact());
  return false;
}

// One seek value made a constant of its field's type.
struct TEngineDataSet::SeekKey {
  int field;
  ValueCategory category;
  Scalar value;
  std::string text;
};

TEngineDataSet::SeekKey TEngineDataSet::MakeSeekKey(const TField& field, const TSeekValue& value) const {
  SeekKey key{field.FieldNo(), CategoryOf(field.DataType()), Scalar{}, {}};
  key.value.blank = false;
  switch (key.category) {
    case ValueCategory::kNumber: {
      double number = SeekNumber(value);
      if (field.DataType() == TFieldType::ftSmallint && !(number >= -32768 && number <= 32767)) {
        DatabaseError(res::data::kConstantOutOfRange);
      }
      if (field.DataType() == TFieldType::ftInteger && !(number >= -2147483648.0 && number <= 2147483647.0)) {
        DatabaseError(res::data::kConstantOutOfRange);
      }
      key.value.number = number;
      break;
    }
    case ValueCategory::kText:
      if (const int32_t* n = std::get_if<int32_t>(&value)) {
        key.text = IntToStr(*n);
      } else if (const double* d = std::get_if<double>(&value)) {
        key.text = FloatToGeneralText(*d, 15, std::string_view(&Locale().decimal_separator, 1));
      } else {
        key.text = std::get<std::string>(value);
      }
      key.value.blank = key.text.empty();
      break;
    case ValueCategory::kBool:
      if (const std::string* s = std::get_if<std::string>(&value)) {
        if (!SameTextAscii(*s, "True") && !SameTextAscii(*s, "False")) {
          DatabaseError(Format(res::data::kSeekTypeMismatch, {field.FieldName()}));
        }
        key.value.flag = SameTextAscii(*s, "True");
      } else {
        key.value.flag = SeekNumber(value) != 0;
      }
      break;
    default:
      DatabaseError(Format(res::data::kSeekTypeMismatch, {field.FieldName()}));
  }
  return key;
}

bool TEngineDataSet::InternalSeek(const std::vector<TField*>& fields, const std::vector<TSeekValue>& values,
                                  bool case_insensitive, bool partial) {
  if (file_ == nullptr) return false;
  // Each value becomes a constant of its field's type first, so that a bad value raises
  // before anything moves.
  std::vector<SeekKey> keys;
  keys.reserve(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) keys.push_back(MakeSeekKey(*fields[i], values[i]));

  auto matches = [&](std::string_view record) {
    for (const SeekKey& key : keys) {
      Scalar v = FieldScalar(*file_, record, key.field, key.category);
      bool same = key.category == ValueCategory::kText
                      ? KeyMatches(v.text, key.text, case_insensitive, partial)
                      : CompareScalars(key.category, v, key.value) == 0;
      if (!same) return false;
    }
    return true;
  };
  std::optional<size_t> found;
  if (natural_ && keys.size() == 1 && keys[0].category == ValueCategory::kNumber && !std::isnan(keys[0].value.number)) {
    // The index lists the records holding the number in table order; each is checked here
    // as the scan would check it.
    std::vector<uint32_t> records;
    const SearchIndex* index = SeekIndex();
    const bool answered = index != nullptr && index->FindNumber(keys[0].field, keys[0].value.number, records);
    if (index != nullptr) SeekIndexUsed();
    if (answered) {
      for (uint32_t number : records) {
        if (number < file_->RecordCount() && Visible(number) && matches(file_->Record(number))) {
          found = number;
          break;
        }
      }
      return Land(found);
    }
  }
  if (natural_) {
    // The table in order, read in chunks rather than paged in record by record.
    const uint32_t length = file_->RecordLength();
    CheckEngine(file_->ScanChunks([&](uint32_t first, uint32_t n, std::string_view chunk) {
      for (uint32_t i = 0; i < n; ++i) {
        std::string_view record = chunk.substr(static_cast<size_t>(i) * length, length);
        if (DbfFile::IsDeleted(record) || (filter_ && Filtered() && !filter_->Holds(record))) continue;
        if (matches(record)) {
          found = first + i;
          return false;
        }
      }
      return true;
    }));
  } else {
    const size_t size = CursorSize();
    for (size_t p = 0; p < size && !found; ++p) {
      if (Visible(p) && matches(RecordBytes(p))) found = p;
    }
  }
  return Land(found);
}

bool TEngineDataSet::Land(std::optional<size_t> position) {
  CheckEngine(file_->CheckIntact());
  if (!position) return false;
  position_ = *position;
  has_current_ = true;
  return true;
}

void TEngineDataSet::FilterChanged() {
  if (file_ == nullptr) return;
  CompileFilter();
}

void TEngineDataSet::CompileFilter() {
  if (Filter().empty()) {
    filter_.reset();
    return;
  }
  SqlExpr expr;
  CheckEngine(ParseCondition(Filter(), expr));
  std::unique_ptr<SqlCondition> filter;
  CheckEngine(SqlCondition::Bind(expr, *file_, Filter(), filter));
  filter_ = std::move(filter);
}

}  // namespace shelfra
