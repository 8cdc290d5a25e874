// TField and its typed descendants: value access and the text rules of each type.
#include "data/field.h"

#include <charconv>

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "data/dataset.h"
#include "data/db_errors.h"
#include "data/field_text.h"
#include "engine/host_config.h"
#include "data_res.h"

namespace shelfra {

namespace {

// Day number (day 1 = 0001-01-01) of 1899-12-30, day 0 of the usual date-time count.
constexpr int32_t kDateTimeEpoch = 693594;

std::string_view Separator(const char& c) { return std::string_view(&c, 1); }

}  // namespace

TField::TField(TComponent* owner, TDataSet& dataset, std::string field_name, TFieldType type, int size,
               int field_no)
    : TComponent(owner), dataset_(dataset), field_name_(std::move(field_name)), type_(type), size_(size),
      field_no_(field_no) {}

TFieldValue TField::Value() const { return dataset_.GetFieldValue(field_no_); }

bool TField::IsNull() const { return Value().is_null; }

std::string TField::DisplayText() const {
  std::string text;
  GetDisplayText(text);
  return text;
}

void TField::GetDisplayText(std::string& text) const {
  if (OnGetText) {
    text.clear();
    OnGetText(const_cast<TField&>(*this), text, true);
    return;
  }
  if (dataset_.ReadyDisplayText(*this, text)) return;
  DisplayRuleInto(text);
}

void TField::AccessError(std::string_view type_name) const {
  throw EDatabaseError(Format(res::data::kFieldAccessError, {field_name_, type_name}));
}

std::string_view TStringField::Text() const {
  TFieldValue v = Value();
  if (v.is_null) return {};
  std::string_view text = v.text.substr(0, v.text.find('\0'));
  return text.substr(0, kMaxBytes);
}

std::string TStringField::StringValue() const { return std::string(Text()); }

void TStringField::DisplayRuleInto(std::string& text) const { text.assign(Text()); }

int32_t TStringField::IntegerValue() const { return StrToInt(StringValue()); }

double TStringField::FloatValue() const { return TextToDouble(StringValue()); }

std::string TIntegerField::StringValue() const {
  TFieldValue v = Value();
  if (v.is_null) return {};
  return IntToStr(static_cast<int64_t>(v.number));
}

int32_t TIntegerField::IntegerValue() const {
  TFieldValue v = Value();
  return v.is_null ? 0 : static_cast<int32_t>(v.number);
}

double TIntegerField::FloatValue() const {
  TFieldValue v = Value();
  return v.is_null ? 0 : v.number;
}

std::string TFloatField::StringValue() const {
  TFieldValue v = Value();
  if (v.is_null) return {};
  return FloatToGeneralText(v.number, 15, Separator(Locale().decimal_separator));
}

std::string TFloatField::DisplayRule() const {
  TFieldValue v = Value();
  if (v.is_null) return {};
  return FloatToGeneralText(v.number, Precision(), Separator(Locale().decimal_separator));
}

int32_t TFloatField::IntegerValue() const {
  TFieldValue v = Value();
  return v.is_null ? 0 : RoundToInt32(v.number);
}

double TFloatField::FloatValue() const {
  TFieldValue v = Value();
  return v.is_null ? 0 : v.number;
}

std::string TDateTimeField::StringValue() const {
  TFieldValue v = Value();
  if (v.is_null) return {};
  const LocaleSettings& locale = Locale();
  return DateTimeToText(v.date, v.time, locale.short_date_format, Separator(locale.date_separator));
}

int32_t TDateTimeField::IntegerValue() const { AccessError("Integer"); }

double TDateTimeField::FloatValue() const {
  TFieldValue v = Value();
  return v.is_null ? 0 : static_cast<double>(v.date - kDateTimeEpoch) + v.time / 86400000.0;
}

std::string TDateField::StringValue() const {
  TFieldValue v = Value();
  if (v.is_null) return {};
  const LocaleSettings& locale = Locale();
  return DateToText(v.date, locale.short_date_format, Separator(locale.date_separator));
}

std::string TBooleanField::StringValue() const {
  TFieldValue v = Value();
  if (v.is_null) return {};
  return v.flag ? "True" : "False";
}

int32_t TBooleanField::IntegerValue() const { AccessError("Integer"); }

double TBooleanField::FloatValue() const { AccessError("Float"); }

}  // namespace shelfra
