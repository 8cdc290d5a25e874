// The data rows of the table producer: the part of a long result list that grows with the
// answer, written with as little work per cell as the exact bytes allow.
#include <cstring>
#include <vector>

#include "data/dataset.h"
#include "data/field.h"
#include "produce/ds_table_producer.h"

namespace shelfra {

namespace {

constexpr std::string_view kCellEnd = "</TD>";
constexpr std::string_view kRowEnd = "</TR>\r\n";

// Attribute texts are mostly empty: their sizes decide without a comparison of bytes.
bool Same(const std::string& a, const std::string& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

}  // namespace

// A start tag written once for a whole table, with the attributes it was written from: a row
// or cell whose attributes are still those copies it instead of writing it again.
struct TDSTableProducer::WrittenTag {
  THTMLAlign align;
  THTMLVAlign valign;
  std::string bg_color;
  std::string custom;
  std::string text;

  WrittenTag(std::string_view tag, THTMLAlign a, THTMLVAlign v, std::string_view bg, std::string_view c)
      : align(a), valign(v), bg_color(bg), custom(c) {
    AppendStartTag(text, tag, align, valign, bg_color, custom);
  }
  bool Fits(THTMLAlign a, THTMLVAlign v, const std::string& bg, const std::string& c) const {
    return a == align && v == valign && Same(bg, bg_color) && Same(c, custom);
  }
};

// One cell of the row being composed, kept from row to row so that, once its strings have
// grown, composing a row allocates nothing: the handler's arguments and the start tag they give.
struct TDSTableProducer::RowCell {
  std::string text;
  std::string bg_color;
  std::string custom;
  THTMLAlign align = THTMLAlign::haDefault;
  THTMLVAlign valign = THTMLVAlign::haVDefault;
  bool written_tag = true;  // the column's written tag fits; else own_tag, of the changed attributes
  std::string own_tag;
};

namespace {

char* Put(char* at, std::string_view bytes) {
  std::memcpy(at, bytes.data(), bytes.size());
  return at + bytes.size();
}

}  // namespace

size_t TDSTableProducer::ComposeCell(RowCell& cell, int cell_row, int cell_column,
                                     const std::vector<WrittenTag>& tags) {
  THTMLTableColumn& column = columns_[cell_column];
  TField* field = column.Field();
  if (field != nullptr) {
    field->GetDisplayText(cell.text);
  } else {
    cell.text.clear();
  }
  // The handler's arguments arrive as the column's values; the scratch strings are copied
  // only where they differ (after a handler changed them).
  cell.align = column.Align();
  cell.valign = column.VAlign();
  if (!Same(cell.bg_color, column.BgColor())) cell.bg_color.assign(column.BgColor());
  if (!Same(cell.custom, column.Custom())) cell.custom.assign(column.Custom());
  FireFormatCell(cell_row, cell_column, cell.bg_color, cell.align, cell.valign, cell.custom, cell.text);
  const auto k = static_cast<size_t>(cell_column);
  cell.written_tag = k < tags.size() && tags[k].Fits(cell.align, cell.valign, cell.bg_color, cell.custom);
  if (cell.written_tag) return tags[k].text.size() + cell.text.size();
  cell.own_tag.clear();
  AppendStartTag(cell.own_tag, "TD", cell.align, cell.valign, cell.bg_color, cell.custom);
  return cell.own_tag.size() + cell.text.size();
}

void TDSTableProducer::BuildDataRows(std::string& out, TDataSet& dataset, int max_rows) {
  // The row's and every column's start tag, written once as the attributes stand now; a row or
  // cell whose attributes differ from those (a handler changed them) has its tag written
  // afresh, so the bytes are those of writing every tag.
  const THTMLTableRowAttributes& row = row_attributes_;
  const WrittenTag row_tag("TR", row.Align(), row.VAlign(), row.BgColor(), row.Custom());
  std::vector<WrittenTag> cell_tags;
  for (int i = 0; i < columns_.Count(); ++i) {
    const THTMLTableColumn& c = columns_[i];
    cell_tags.emplace_back("TD", c.Align(), c.VAlign(), c.BgColor(), c.Custom());
  }
  std::vector<RowCell> cells(cell_tags.size());
  std::string own_row_tag;
  // 64 bits, so that an unlimited (negative) count can never wrap round to 0.
  int64_t remaining = max_rows;
  int cell_row = 1;
  const size_t rows_start = out.size();
  while (remaining != 0 && !dataset.AtEnd()) {
    // The row's tag as its attributes stand before its cells, as when it is written first.
    const std::string* start = &row_tag.text;
    if (!row_tag.Fits(row.Align(), row.VAlign(), row.BgColor(), row.Custom())) {
      own_row_tag.clear();
      BuildRowTag(own_row_tag);
      start = &own_row_tag;
    }
    size_t size = start->size() + kRowEnd.size();
    int count = 0;
    for (; count < columns_.Count(); ++count) {
      if (static_cast<size_t>(count) == cells.size()) cells.emplace_back();  // a handler added a column
      size += ComposeCell(cells[static_cast<size_t>(count)], cell_row, count, cell_tags) + kCellEnd.size();
    }
    // The whole row at once: one growth of the page, then the pieces copied into place.
    const size_t at = out.size();
    out.resize(at + size);
    char* p = Put(out.data() + at, *start);
    for (int i = 0; i < count; ++i) {
      const auto k = static_cast<size_t>(i);
      const RowCell& cell = cells[k];
      p = Put(Put(Put(p, cell.written_tag ? cell_tags[k].text : cell.own_tag), cell.text), kCellEnd);
    }
    Put(p, kRowEnd);
    dataset.MoveNext();
    --remaining;
    if (cell_row == kSampleRows) ReserveForRows(out, rows_start, dataset, remaining);
    ++cell_row;
  }
}

}  // namespace shelfra
