// Table columns: binding to dataset fields by name and the collection's edits.
#include "produce/html_table_columns.h"

#include "data/dataset.h"
#include "data/field.h"
#include "produce/ds_table_producer.h"

namespace shelfra {

void THTMLTableColumn::SetFieldName(std::string field_name) {
  field_name_ = std::move(field_name);
  Unbind();
  Field();
}

TField* THTMLTableColumn::BindByName() {
  if (field_name_.empty()) return nullptr;
  TDataSet* dataset = collection_.producer_.DataSet();
  if (dataset == nullptr || !dataset->Active()) return nullptr;
  TField* field = dataset->FindFieldNamed(field_name_);
  if (field == nullptr) return nullptr;
  collection_.producer_.BindColumn(*this, *field);
  field_name_ = field->FieldName();
  return field;
}

std::string THTMLTableColumn::DisplayName() const {
  return field_name_.empty() ? std::string(ClassName()) : field_name_;
}

int THTMLTableColumn::Index() const {
  for (int i = 0; i < collection_.Count(); ++i) {
    if (&collection_[i] == this) return i;
  }
  return -1;
}

void THTMLTableColumn::Assign(const THTMLTableColumn& source) {
  field_name_ = source.field_name_;
  Unbind();
  align_ = source.align_;
  bg_color_ = source.bg_color_;
  valign_ = source.valign_;
  title_.Assign(source.title_);
}

void THTMLTableColumn::Bind(TField& field) {
  bound_field_ = &field;
  bound_component_ = &field;
}

void THTMLTableColumn::Unbind() {
  bound_field_ = nullptr;
  bound_component_ = nullptr;
}

THTMLTableColumn& THTMLTableColumns::Add() {
  items_.push_back(std::make_unique<THTMLTableColumn>(*this));
  THTMLTableColumn& column = *items_.back();
  producer_.RebuildLayout();
  return column;
}

void THTMLTableColumns::Delete(int index) {
  items_.erase(items_.begin() + index);
  producer_.RebuildLayout();
}

void THTMLTableColumns::Clear() {
  items_.clear();
  producer_.RebuildLayout();
}

void THTMLTableColumns::Assign(const THTMLTableColumns& source) {
  if (&source == this) return;
  items_.clear();
  for (const auto& item : source.items_) {
    items_.push_back(std::make_unique<THTMLTableColumn>(*this));
    items_.back()->Assign(*item);
  }
  producer_.RebuildLayout();
}

bool THTMLTableColumns::Configured() const {
  return !items_.empty() && dynamic_cast<const TDefaultHTMLTableColumn*>(items_.front().get()) == nullptr;
}

}  // namespace shelfra
