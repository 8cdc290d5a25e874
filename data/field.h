// TField and its typed descendants: one field of a dataset's current record, with the text
// rules of the pages (string, float general format, smallint, date pattern, logical).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/component.h"

namespace shelfra {

class TDataSet;

enum class TFieldType { ftUnknown, ftString, ftSmallint, ftInteger, ftFloat, ftDate, ftBoolean, ftMemo };

// The raw value of one field of the current record, as the engine hands it over.
// `text` stays valid until the dataset moves or closes.
struct TFieldValue {
  bool is_null = true;
  std::string_view text;  // ftString, ftMemo: the bytes
  double number = 0;      // ftFloat, ftSmallint, ftInteger
  int32_t date = 0;       // ftDate: days since 0001-01-01 (day 1 = 0001-01-01)
  bool flag = false;      // ftBoolean
};

// One field of a dataset. Created by the dataset when it opens, owned by the dataset,
// destroyed when it closes.
class TField : public TComponent {
 public:
  // Requires: `dataset` owns this field (it is also the owner component).
  TField(TComponent* owner, TDataSet& dataset, std::string field_name, TFieldType type, int size, int field_no);

  const std::string& FieldName() const { return field_name_; }
  // The label when one is set, else the field name.
  const std::string& DisplayLabel() const { return display_label_.empty() ? field_name_ : display_label_; }
  void SetDisplayLabel(std::string label) { display_label_ = std::move(label); }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }
  int FieldNo() const { return field_no_; }  // position in the dataset, from 0
  TDataSet& DataSet() const { return dataset_; }  // not owned

  bool IsNull() const;
  // The value as text; empty for a blank field.
  virtual std::string StringValue() const = 0;
  // OnGetText's text when a handler is set, else the type's display rule.
  std::string DisplayText() const;
  // The value as a signed 32-bit integer. Raises EDatabaseError when the type has none.
  virtual int32_t IntegerValue() const = 0;
  virtual double FloatValue() const = 0;

  // Asked for the display text when set: (sender, text out, display_text).
  std::function<void(TField& sender, std::string& text, bool display_text)> OnGetText;

 protected:
  virtual std::string DisplayRule() const { return StringValue(); }
  TFieldValue Value() const;  // the current record's raw value

 private:
  TDataSet& dataset_;  // not owned
  std::string field_name_;
  std::string display_label_;
  TFieldType type_;
  int size_;
  int field_no_;
};

}  // namespace shelfra
