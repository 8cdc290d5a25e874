// TField and its typed descendants: one field of a dataset's current record, with the text
// rules of the pages (string, float general format, smallint, date pattern, date-time,
// logical).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/component.h"
#include "engine/value.h"

namespace shelfra {

class TDataSet;

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
  // DisplayText into `text` (replacing what it held), reusing its storage: a list writes every
  // cell through one string. Without OnGetText the dataset is asked first for a text it holds
  // ready (TDataSet::ReadyDisplayText), which is the same text.
  void GetDisplayText(std::string& text) const;
  // The value as a signed 32-bit integer. Raises EDatabaseError when the type has none.
  virtual int32_t IntegerValue() const = 0;
  // The value as a double. Raises EDatabaseError when the type has none.
  virtual double FloatValue() const = 0;

  // Asked for the display text when set: (sender, text out, display_text).
  std::function<void(TField& sender, std::string& text, bool display_text)> OnGetText;

 protected:
  virtual std::string DisplayRule() const { return StringValue(); }
  // DisplayRule into `text`; a type whose texts are short enough to need no storage of their
  // own keeps the default.
  virtual void DisplayRuleInto(std::string& text) const { text = DisplayRule(); }
  TFieldValue Value() const;  // the current record's raw value
  // Raises EDatabaseError "field '<name>' cannot be accessed as <type_name>".
  [[noreturn]] void AccessError(std::string_view type_name) const;

 private:
  TDataSet& dataset_;  // not owned
  std::string field_name_;
  std::string display_label_;
  TFieldType type_;
  int size_;
  int field_no_;
};

// ftString: the stored bytes up to the first zero byte (at most 8192), nothing trimmed or
// added. The table's character set is the system's, so the text passes through unchanged.
class TStringField : public TField {
 public:
  using TField::TField;
  bool Transliterate() const { return true; }
  std::string StringValue() const override;
  // The most bytes StringValue gives.
  static constexpr size_t kMaxBytes = 8192;
  // Raises EConvertError "'<text>' is no integer" when the text is no integer.
  int32_t IntegerValue() const override;
  // The text read as a number, the locale's decimal separator standing for the point.
  // Raises EConvertError when it is none.
  double FloatValue() const override;

 protected:
  void DisplayRuleInto(std::string& text) const override;

 private:
  std::string_view Text() const;  // StringValue's bytes
};

class TNumericField : public TField {
 public:
  using TField::TField;
};

// A whole number: decimal digits, "-" in front of a negative value; 0 for a blank field.
class TIntegerField : public TNumericField {
 public:
  using TNumericField::TNumericField;
  std::string StringValue() const override;
  int32_t IntegerValue() const override;
  double FloatValue() const override;
};

// ftSmallint: a signed 16-bit value.
class TSmallintField : public TIntegerField {
 public:
  using TIntegerField::TIntegerField;
};

// ftFloat: an 8-byte double shown in the general format with Precision() (15) digits.
class TFloatField : public TNumericField {
 public:
  using TNumericField::TNumericField;
  int Precision() const { return 15; }
  std::string StringValue() const override;
  // Rounded to the nearest whole number (a half to the even one), then cut to 32 bits;
  // 0 for a blank field. Raises EInvalidOp beyond the 64-bit range.
  int32_t IntegerValue() const override;
  double FloatValue() const override;  // 0 for a blank field

 protected:
  std::string DisplayRule() const override;
};

// ftDateTime: the date in the locale's short date pattern, a blank and the time as "h:nn:ss"
// (DateTimeToText). IntegerValue raises EDatabaseError "field '<name>' cannot be accessed as
// Integer".
class TDateTimeField : public TField {
 public:
  using TField::TField;
  std::string StringValue() const override;
  int32_t IntegerValue() const override;
  // Days since 1899-12-30, the usual date-time count, the time as the fraction of a day; 0
  // for a blank field.
  double FloatValue() const override;
};

// ftDate: the date alone, in the locale's short date pattern.
class TDateField : public TDateTimeField {
 public:
  using TDateTimeField::TDateTimeField;
  std::string StringValue() const override;
};

// ftBoolean: "True" or "False". IntegerValue and FloatValue raise EDatabaseError.
class TBooleanField : public TField {
 public:
  using TField::TField;
  std::string StringValue() const override;
  int32_t IntegerValue() const override;
  double FloatValue() const override;
};

}  // namespace shelfra
