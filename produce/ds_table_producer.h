// TDSTableProducer: the table logic of the dataset table producer - columns, attributes,
// caption, header and footer, the layout rebuild and every step that writes markup.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/strings.h"
#include "produce/html_attributes.h"
#include "produce/html_table_columns.h"
#include "web/content_producer.h"

namespace shelfra {

class TDataSet;

// Called for every header cell (cell_row 0) and data cell (cell_row 1, 2, ...); the in/out
// arguments arrive set to the cell's values and are copies for this cell only.
using THTMLFormatCellEvent =
    std::function<void(TComponent& sender, int cell_row, int cell_column, THTMLBgColor& bg_color, THTMLAlign& align,
                       THTMLVAlign& valign, std::string& custom_attrs, std::string& cell_data)>;
// May change the caption and its alignment; they arrive as the Caption and CaptionAlignment.
using THTMLGetTableCaptionEvent =
    std::function<void(TComponent& sender, std::string& caption, THTMLCaptionAlignment& alignment)>;
// May veto the output by setting `continue_producing` (arrives true) to false.
using TCreateContentEvent = std::function<void(TComponent& sender, bool& continue_producing)>;

class TDSTableProducer : public TCustomContentProducer {
 public:
  explicit TDSTableProducer(TComponent* owner);
  ~TDSTableProducer() override;

  // The records to show. Not owned.
  virtual TDataSet* DataSet() const = 0;
  virtual void SetDataSet(TDataSet* dataset) = 0;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  THTMLCaptionAlignment CaptionAlignment() const { return caption_alignment_; }
  void SetCaptionAlignment(THTMLCaptionAlignment alignment) { caption_alignment_ = alignment; }
  // The configured columns; empty means one automatic column per dataset field. Owned.
  THTMLTableColumns& Columns() { return columns_; }
  const THTMLTableColumns& Columns() const { return columns_; }
  void SetColumns(const THTMLTableColumns& columns) { columns_.Assign(columns); }
  // Lines written before the table, each followed by "\r\n". Live: callers may add lines.
  TStrings& Header() { return header_; }
  const TStrings& Header() const { return header_; }
  void SetHeader(const TStrings& lines) { header_.Assign(lines); }
  // Lines written after the table, each followed by "\r\n".
  TStrings& Footer() { return footer_; }
  const TStrings& Footer() const { return footer_; }
  void SetFooter(const TStrings& lines) { footer_.Assign(lines); }
  // Most data rows written: 20 by default; 0 writes none, a negative value sets no limit.
  int MaxRows() const { return max_rows_; }
  void SetMaxRows(int max_rows) { max_rows_ = max_rows; }
  THTMLTableRowAttributes& RowAttributes() { return row_attributes_; }
  const THTMLTableRowAttributes& RowAttributes() const { return row_attributes_; }
  void SetRowAttributes(const THTMLTableRowAttributes& attributes) { row_attributes_.Assign(attributes); }
  // Width 100, Border, CellSpacing and CellPadding -1 (not written) by default.
  THTMLTableAttributes& TableAttributes() { return table_attributes_; }
  const THTMLTableAttributes& TableAttributes() const { return table_attributes_; }
  void SetTableAttributes(const THTMLTableAttributes& attributes) { table_attributes_.Assign(attributes); }

  TCreateContentEvent OnCreateContent;
  THTMLFormatCellEvent OnFormatCell;
  THTMLGetTableCaptionEvent OnGetTableCaption;

  // Matches the columns to the dataset's fields: with configured columns every binding is
  // dropped (they bind again on first use); otherwise the automatic columns become one per
  // field of the open dataset, in field order (none when it is closed). Not re-entered.
  void RebuildLayout();

 protected:
  // Appends the table: the TABLE tag, the caption and "\r\n"; the header row; while the
  // dataset is open, up to `max_rows` data rows from its current record on (BuildDataRows);
  // then "</Table>" without a line break. Raises whatever a handler, a move or a field's
  // display text raises.
  void BuildTable(std::string& out, TDataSet& dataset, int max_rows);
  // Calls OnCreateContent; false when it vetoes the output.
  bool FireCreateContent();

  virtual void BuildTableTag(std::string& out);
  // Appends "<Caption " + alignment text + caption + "</Caption>", nothing for an empty caption.
  virtual void BuildCaption(std::string& out);
  virtual void BuildRowTag(std::string& out);
  virtual void BuildHeaderCells(std::string& out);
  // Appends a header cell: "<" + tag + attributes + ">" + cell_data + "</" + tag + ">" with the
  // values that FireFormatCell leaves in the arguments (the data cells are written by
  // BuildDataRows, to the same rule).
  virtual void BuildCell(std::string& out, int cell_row, int cell_column, std::string& cell_data, std::string_view tag,
                         THTMLBgColor& bg_color, THTMLAlign align, THTMLVAlign valign, std::string& custom_attrs);
  virtual void FireFormatCell(int cell_row, int cell_column, THTMLBgColor& bg_color, THTMLAlign& align,
                              THTMLVAlign& valign, std::string& custom_attrs, std::string& cell_data);
  virtual void FireGetTableCaption(std::string& caption, THTMLCaptionAlignment& alignment);

  // Drops the bindings of columns whose field is being destroyed.
  void Notification(TComponent& dying) override;

 private:
  friend class THTMLTableColumn;
  friend class THTMLTableColumns;

  // A long list is written into room reserved once, after the first kSampleRows rows, from
  // their mean size and the rows ahead (when the dataset knows them): no growth by doubling,
  // which would hold the page twice over while it copies.
  static constexpr int kSampleRows = 1024;
  // Up to `max_rows` data rows from the dataset's current record on, each "<TR...>", its
  // cells "<TD...>" + text + "</TD>" (FireFormatCell seeing each cell first) and "</TR>\r\n",
  // moving the dataset on after each.
  void BuildDataRows(std::string& out, TDataSet& dataset, int max_rows);
  // A start tag written once per table, and one cell of the row being composed.
  struct WrittenTag;
  struct RowCell;
  // Reads a data cell's text into `cell`, lets FireFormatCell see it and picks its start tag
  // (`tags`: the columns' written tags); returns the byte count of its tag and text.
  size_t ComposeCell(RowCell& cell, int cell_row, int cell_column, const std::vector<WrittenTag>& tags);
  static void ReserveForRows(std::string& out, size_t rows_start, const TDataSet& dataset, int64_t remaining);
  // Binds `column` to `field` and asks for the field's destruction notice.
  void BindColumn(THTMLTableColumn& column, TField& field);
  void RebuildAutomaticColumns(TDataSet* dataset);

  std::string caption_;
  THTMLCaptionAlignment caption_alignment_ = THTMLCaptionAlignment::caDefault;
  THTMLTableColumns columns_;
  TStrings header_;
  TStrings footer_;
  int max_rows_ = 20;
  THTMLTableRowAttributes row_attributes_;
  THTMLTableAttributes table_attributes_;
  bool rebuilding_ = false;
};

}  // namespace shelfra
