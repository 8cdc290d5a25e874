// The table logic of the dataset table producer: layout rebuild and the exact table markup.
#include "produce/ds_table_producer.h"

#include <algorithm>

#include "base/memory.h"
#include "base/text.h"
#include "data/dataset.h"
#include "data/field.h"

namespace shelfra {

namespace {

bool IsAutomatic(const THTMLTableColumn& column) {
  return dynamic_cast<const TDefaultHTMLTableColumn*>(&column) != nullptr;
}

void AppendNumberAttribute(std::string& out, std::string_view name, int value) {
  out += ' ';
  out += name;
  out += '=';
  out += IntToStr(value);
}

}  // namespace

TDSTableProducer::TDSTableProducer(TComponent* owner) : TCustomContentProducer(owner), columns_(*this) {}

TDSTableProducer::~TDSTableProducer() = default;

bool TDSTableProducer::FireCreateContent() {
  bool continue_producing = true;
  if (OnCreateContent) OnCreateContent(*this, continue_producing);
  return continue_producing;
}

void TDSTableProducer::BuildTable(std::string& out, TDataSet& dataset, int max_rows) {
  BuildTableTag(out);
  BuildCaption(out);
  out += "\r\n";
  BuildRowTag(out);
  BuildHeaderCells(out);
  out += "</TR>\r\n";
  if (dataset.Active()) BuildDataRows(out, dataset, max_rows);
  out += "</Table>";
}

void TDSTableProducer::ReserveForRows(std::string& out, size_t rows_start, const TDataSet& dataset,
                                      int64_t remaining) {
  int64_t ahead = dataset.RecordsAhead();
  if (remaining >= 0) ahead = std::min(ahead, remaining);  // a negative count has no limit
  if (ahead <= 0) return;
  // The rows so far tell the size of a row; a thirty-second more, and room for the end of the page.
  const size_t mean = (out.size() - rows_start) / kSampleRows;
  const size_t capacity = out.size() + (mean + mean / 32) * static_cast<size_t>(ahead) + 4096;
  // An estimate past any page a visitor could want is left to the string's own growth.
  constexpr size_t kMostReserved = size_t{1} << 30;
  if (capacity <= out.capacity() || capacity > kMostReserved) return;
  out.reserve(capacity);
  // Written front to back once: huge pages save most of the faults of a page of megabytes.
  AdviseHugePages(out.data() + out.size(), out.capacity() - out.size());
}

void TDSTableProducer::BuildTableTag(std::string& out) {
  const THTMLTableAttributes& a = table_attributes_;
  out += "<Table";
  if (a.Width() > 0) {
    out += " Width=\"";
    out += IntToStr(a.Width());
    out += "%\"";
  }
  out += AlignText(a.Align());
  if (a.CellSpacing() >= 0) AppendNumberAttribute(out, "CellSpacing", a.CellSpacing());
  if (a.CellPadding() >= 0) AppendNumberAttribute(out, "CellPadding", a.CellPadding());
  if (a.Border() >= 0) AppendNumberAttribute(out, "Border", a.Border());
  if (!a.BgColor().empty()) {
    out += " BgColor=\"";
    out += a.BgColor();
    out += '"';
  }
  if (!a.Custom().empty()) {
    out += ' ';
    out += a.Custom();
  }
  out += '>';
}

void TDSTableProducer::BuildCaption(std::string& out) {
  std::string caption = caption_;
  THTMLCaptionAlignment alignment = caption_alignment_;
  FireGetTableCaption(caption, alignment);
  if (caption.empty()) return;
  // "<Caption " is followed by the alignment text, which itself starts with a space or is
  // just ">": caTop gives "<Caption  Align=\"Top\">".
  out += "<Caption ";
  out += CaptionAlignText(alignment);
  out += caption;
  out += "</Caption>";
}

void TDSTableProducer::BuildRowTag(std::string& out) {
  AppendStartTag(out, "TR", row_attributes_.Align(), row_attributes_.VAlign(), row_attributes_.BgColor(),
                 row_attributes_.Custom());
}

void TDSTableProducer::BuildHeaderCells(std::string& out) {
  for (int i = 0; i < columns_.Count(); ++i) {
    THTMLTableColumn& column = columns_[i];
    const THTMLTableHeaderAttributes& title = column.Title();
    std::string text = title.Caption();
    if (text.empty()) {
      TField* field = column.Field();
      text = field != nullptr ? field->DisplayLabel() : column.DisplayName();
    }
    THTMLBgColor bg_color = title.BgColor();
    std::string custom = title.Custom();
    BuildCell(out, 0, i, text, "TH", bg_color, title.Align(), title.VAlign(), custom);
  }
}

void TDSTableProducer::BuildCell(std::string& out, int cell_row, int cell_column, std::string& cell_data,
                                 std::string_view tag, THTMLBgColor& bg_color, THTMLAlign align, THTMLVAlign valign,
                                 std::string& custom_attrs) {
  FireFormatCell(cell_row, cell_column, bg_color, align, valign, custom_attrs, cell_data);
  AppendStartTag(out, tag, align, valign, bg_color, custom_attrs);
  out += cell_data;
  out += "</";
  out += tag;
  out += '>';
}

void TDSTableProducer::FireFormatCell(int cell_row, int cell_column, THTMLBgColor& bg_color, THTMLAlign& align,
                                      THTMLVAlign& valign, std::string& custom_attrs, std::string& cell_data) {
  if (OnFormatCell) OnFormatCell(*this, cell_row, cell_column, bg_color, align, valign, custom_attrs, cell_data);
}

void TDSTableProducer::FireGetTableCaption(std::string& caption, THTMLCaptionAlignment& alignment) {
  if (OnGetTableCaption) OnGetTableCaption(*this, caption, alignment);
}

void TDSTableProducer::BindColumn(THTMLTableColumn& column, TField& field) {
  column.Bind(field);
  // Fields die when their dataset closes; the notice clears the column's pointer.
  FreeNotification(field);
}

void TDSTableProducer::Notification(TComponent& dying) {
  for (const auto& column : columns_.items_) {
    if (column->bound_component_ == &dying) column->Unbind();
  }
  TCustomContentProducer::Notification(dying);
}

void TDSTableProducer::RebuildLayout() {
  if (rebuilding_) return;
  rebuilding_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{rebuilding_};

  auto& items = columns_.items_;
  auto last_configured = std::find_if(items.rbegin(), items.rend(), [](const auto& c) { return !IsAutomatic(*c); });
  if (last_configured != items.rend() &&
      std::any_of(items.begin(), last_configured.base() - 1, [](const auto& c) { return IsAutomatic(*c); })) {
    std::erase_if(items, [](const auto& c) { return IsAutomatic(*c); });
  }
  if (columns_.Configured()) {
    for (const auto& column : items) column->Unbind();
    return;
  }
  RebuildAutomaticColumns(DataSet());
}

// One automatic column per field of the open dataset, in field order, reusing the columns
// already bound to those fields.
void TDSTableProducer::RebuildAutomaticColumns(TDataSet* dataset) {
  std::vector<TField*> fields;
  if (dataset != nullptr && dataset->Active()) {
    fields.reserve(static_cast<size_t>(dataset->FieldCount()));
    for (int i = 0; i < dataset->FieldCount(); ++i) fields.push_back(&dataset->FieldAt(i));
  }
  auto& items = columns_.items_;
  std::erase_if(items, [&fields](const auto& c) {
    return c->bound_field_ == nullptr || std::find(fields.begin(), fields.end(), c->bound_field_) == fields.end();
  });
  for (size_t k = 0; k < fields.size(); ++k) {
    auto found = std::find_if(items.begin() + static_cast<std::ptrdiff_t>(std::min(k, items.size())), items.end(),
                              [&](const auto& c) { return c->bound_field_ == fields[k]; });
    const auto target = items.begin() + static_cast<std::ptrdiff_t>(k);
    if (found != items.end()) {
      std::rotate(target, found, found + 1);
      continue;
    }
    auto column = std::make_unique<TDefaultHTMLTableColumn>(columns_);
    BindColumn(*column, *fields[k]);
    column->field_name_ = fields[k]->FieldName();
    items.insert(target, std::move(column));
  }
}

}  // namespace shelfra
