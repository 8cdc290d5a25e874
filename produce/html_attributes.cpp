// Attribute sets of the table producer and the texts of the alignment values.
#include "produce/html_attributes.h"

namespace shelfra {

std::string_view AlignText(THTMLAlign align) {
  switch (align) {
    case THTMLAlign::haLeft: return " Align=\"Left\"";
    case THTMLAlign::haRight: return " Align=\"Right\"";
    case THTMLAlign::haCenter: return " Align=\"Center\"";
    case THTMLAlign::haDefault: break;
  }
  return "";
}

std::string_view VAlignText(THTMLVAlign valign) {
  switch (valign) {
    case THTMLVAlign::haTop: return " VAlign=\"Top\"";
    case THTMLVAlign::haMiddle: return " VAlign=\"Middle\"";
    case THTMLVAlign::haBottom: return " VAlign=\"Bottom\"";
    case THTMLVAlign::haBaseline: return " VAlign=\"Basline\"";
    case THTMLVAlign::haVDefault: break;
  }
  return "";
}

std::string_view CaptionAlignText(THTMLCaptionAlignment alignment) {
  switch (alignment) {
    case THTMLCaptionAlignment::caTop: return " Align=\"Top\">";
    case THTMLCaptionAlignment::caBottom: return " Align=\"Bottom\">";
    case THTMLCaptionAlignment::caDefault: break;
  }
  return ">";
}

void AppendStartTag(std::string& out, std::string_view tag, THTMLAlign align, THTMLVAlign valign,
                    std::string_view bg_color, std::string_view custom) {
  out += '<';
  out += tag;
  out += AlignText(align);
  out += VAlignText(valign);
  if (!bg_color.empty()) {
    out += " BgColor=\"";
    out += bg_color;
    out += '"';
  }
  if (!custom.empty()) {
    out += ' ';
    out += custom;
  }
  out += '>';
}

void THTMLTableAttributes::Assign(const THTMLTableAttributes& source) {
  align_ = source.align_;
  bg_color_ = source.bg_color_;
  border_ = source.border_;
  cell_spacing_ = source.cell_spacing_;
  cell_padding_ = source.cell_padding_;
  width_ = source.width_;
}

void THTMLTableAttributes::ResetToDefaults() {
  custom_.clear();
  align_ = THTMLAlign::haDefault;
  border_ = -1;
  cell_spacing_ = -1;
  cell_padding_ = -1;
  width_ = 100;
}

void THTMLTableElementAttributes::Assign(const THTMLTableElementAttributes& source) {
  align_ = source.align_;
  bg_color_ = source.bg_color_;
  valign_ = source.valign_;
}

void THTMLTableElementAttributes::ResetToDefaults() {
  custom_.clear();
  align_ = THTMLAlign::haDefault;
  bg_color_.clear();
  valign_ = THTMLVAlign::haVDefault;
}

void THTMLTableHeaderAttributes::Assign(const THTMLTableHeaderAttributes& source) {
  THTMLTableElementAttributes::Assign(source);
  caption_ = source.caption_;
}

void THTMLTableHeaderAttributes::ResetToDefaults() {
  THTMLTableElementAttributes::ResetToDefaults();
  caption_.clear();
}

}  // namespace shelfra
