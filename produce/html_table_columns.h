// The column collection of the table producer: configured columns (THTMLTableColumn) and the
// automatic ones the producer makes for each dataset field (TDefaultHTMLTableColumn).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "produce/html_attributes.h"

namespace shelfra {

class TComponent;
class TDSTableProducer;
class TField;
class THTMLTableColumns;

// One column of the table: its cell attributes, its title and the field it shows.
// Owned by its collection.
class THTMLTableColumn {
 public:
  explicit THTMLTableColumn(THTMLTableColumns& collection) : collection_(collection) {}
  virtual ~THTMLTableColumn() = default;
  THTMLTableColumn(const THTMLTableColumn&) = delete;
  THTMLTableColumn& operator=(const THTMLTableColumn&) = delete;

  virtual std::string_view ClassName() const { return "THTMLTableColumn"; }

  THTMLAlign Align() const { return align_; }
  void SetAlign(THTMLAlign align) { align_ = align; }
  const THTMLBgColor& BgColor() const { return bg_color_; }
  void SetBgColor(THTMLBgColor bg_color) { bg_color_ = std::move(bg_color); }
  const std::string& Custom() const { return custom_; }
  void SetCustom(std::string custom) { custom_ = std::move(custom); }
  THTMLVAlign VAlign() const { return valign_; }
  void SetVAlign(THTMLVAlign valign) { valign_ = valign; }
  // The title and the attributes of the header cell. Owned by the column.
  THTMLTableHeaderAttributes& Title() { return title_; }
  const THTMLTableHeaderAttributes& Title() const { return title_; }

  const std::string& FieldName() const { return field_name_; }
  // Stores the name, drops the current binding and binds at once when the producer's dataset
  // is open and has a field of that name.
  void SetFieldName(std::string field_name);

  // The field the column shows. When none is bound yet, it is looked up by FieldName (ignoring
  // case) while the dataset is open; a found field is bound and its own name replaces
  // FieldName. nullptr when there is none (the cells stay empty). Not owned.
  TField* Field() { return bound_field_ != nullptr ? bound_field_ : BindByName(); }
  // FieldName when not empty, else the class name.
  std::string DisplayName() const;
  // The position in the collection, from 0.
  int Index() const;
  // Copies FieldName, Align, BgColor, VAlign and Title (not Custom).
  void Assign(const THTMLTableColumn& source);

 private:
  friend class TDSTableProducer;
  friend class THTMLTableColumns;

  void Bind(TField& field);
  // Field()'s lookup and binding when no field is bound.
  TField* BindByName();
  void Unbind();

  THTMLTableColumns& collection_;
  THTMLAlign align_ = THTMLAlign::haDefault;
  THTMLBgColor bg_color_;
  std::string custom_;
  std::string field_name_;
  THTMLTableHeaderAttributes title_;
  THTMLVAlign valign_ = THTMLVAlign::haVDefault;
  TField* bound_field_ = nullptr;            // not owned
  const TComponent* bound_component_ = nullptr;  // the same field, to match its destruction notice
};

// A column the producer creates itself for a dataset field when no columns are configured.
class TDefaultHTMLTableColumn : public THTMLTableColumn {
 public:
  using THTMLTableColumn::THTMLTableColumn;
  std::string_view ClassName() const override { return "TDefaultHTMLTableColumn"; }
};

// The ordered columns of a table producer. Adding, deleting or clearing columns rebuilds the
// producer's layout. Owned by the producer.
class THTMLTableColumns {
 public:
  explicit THTMLTableColumns(TDSTableProducer& producer) : producer_(producer) {}
  THTMLTableColumns(const THTMLTableColumns&) = delete;
  THTMLTableColumns& operator=(const THTMLTableColumns&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Requires: 0 <= index < Count().
  THTMLTableColumn& operator[](int index) const { return *items_[static_cast<size_t>(index)]; }
  // Appends a configured column; the reference stays valid until the column is removed.
  THTMLTableColumn& Add();
  // Requires: 0 <= index < Count().
  void Delete(int index);
  void Clear();
  // Replaces the columns by configured copies of `source`'s columns.
  void Assign(const THTMLTableColumns& source);
  // True when there is at least one column and the first is not an automatic one.
  bool Configured() const;

  TDSTableProducer& Producer() const { return producer_; }

 private:
  friend class TDSTableProducer;
  friend class THTMLTableColumn;

  TDSTableProducer& producer_;
  std::vector<std::unique_ptr<THTMLTableColumn>> items_;  // owned, display order
};

}  // namespace shelfra
