// The HTML attribute sets of the table producer: table, row, cell and header attributes, with
// the alignment enumerations and their exact output texts.
#pragma once

#include <string>
#include <string_view>

namespace shelfra {

enum class THTMLAlign { haDefault, haLeft, haRight, haCenter };
enum class THTMLVAlign { haVDefault, haTop, haMiddle, haBottom, haBaseline };
enum class THTMLCaptionAlignment { caDefault, caTop, caBottom };
// A colour: any text, written verbatim.
using THTMLBgColor = std::string;

// The attribute text, with its leading space: haDefault "" ... haCenter " Align=\"Center\"".
std::string_view AlignText(THTMLAlign align);
// haVDefault "" ... haBaseline " VAlign=\"Basline\"" (spelled without the "e": pages keep
// these exact bytes).
std::string_view VAlignText(THTMLVAlign valign);
// What follows "<Caption ": caDefault ">", caTop " Align=\"Top\">", caBottom " Align=\"Bottom\">".
std::string_view CaptionAlignText(THTMLCaptionAlignment alignment);

// Appends the start tag of a row or cell: "<" + tag + AlignText + VAlignText, then
// " BgColor=\"" + bg_color + "\"" unless it is empty, " " + custom unless it is empty, and ">".
void AppendStartTag(std::string& out, std::string_view tag, THTMLAlign align, THTMLVAlign valign,
                    std::string_view bg_color, std::string_view custom);

// Extra attribute text written verbatim inside the tag.
class THTMLTagAttributes {
 public:
  const std::string& Custom() const { return custom_; }
  void SetCustom(std::string custom) { custom_ = std::move(custom); }

 protected:
  THTMLTagAttributes() = default;
  ~THTMLTagAttributes() = default;
  std::string custom_;
};

// Attributes of the TABLE element. Width is a percentage written only when above 0; Border,
// CellSpacing and CellPadding are written only when 0 or more.
class THTMLTableAttributes : public THTMLTagAttributes {
 public:
  THTMLAlign Align() const { return align_; }
  void SetAlign(THTMLAlign align) { align_ = align; }
  const THTMLBgColor& BgColor() const { return bg_color_; }
  void SetBgColor(THTMLBgColor bg_color) { bg_color_ = std::move(bg_color); }
  int Border() const { return border_; }
  void SetBorder(int border) { border_ = border; }
  int CellSpacing() const { return cell_spacing_; }
  void SetCellSpacing(int cell_spacing) { cell_spacing_ = cell_spacing; }
  int CellPadding() const { return cell_padding_; }
  void SetCellPadding(int cell_padding) { cell_padding_ = cell_padding; }
  int Width() const { return width_; }
  void SetWidth(int width) { width_ = width; }

  // Copies every attribute except Custom.
  void Assign(const THTMLTableAttributes& source);
  // Clears Custom and restores the defaults except BgColor, which stays.
  void ResetToDefaults();

 private:
  THTMLAlign align_ = THTMLAlign::haDefault;
  THTMLBgColor bg_color_;
  int border_ = -1;
  int cell_spacing_ = -1;
  int cell_padding_ = -1;
  int width_ = 100;
};

// Attributes of a row or cell element.
class THTMLTableElementAttributes : public THTMLTagAttributes {
 public:
  THTMLAlign Align() const { return align_; }
  void SetAlign(THTMLAlign align) { align_ = align; }
  const THTMLBgColor& BgColor() const { return bg_color_; }
  void SetBgColor(THTMLBgColor bg_color) { bg_color_ = std::move(bg_color); }
  THTMLVAlign VAlign() const { return valign_; }
  void SetVAlign(THTMLVAlign valign) { valign_ = valign; }

  // Copies every attribute except Custom.
  void Assign(const THTMLTableElementAttributes& source);
  // Clears Custom and restores the defaults.
  void ResetToDefaults();

 private:
  THTMLAlign align_ = THTMLAlign::haDefault;
  THTMLBgColor bg_color_;
  THTMLVAlign valign_ = THTMLVAlign::haVDefault;
};

// Attributes of every TR the table producer writes.
class THTMLTableRowAttributes : public THTMLTableElementAttributes {};

// Attributes of a column's header cell, with its title.
class THTMLTableHeaderAttributes : public THTMLTableElementAttributes {
 public:
  // The column title; empty means "the bound field's display label".
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }

  // Copies every attribute except Custom, Caption included.
  void Assign(const THTMLTableHeaderAttributes& source);
  // Clears Custom and Caption and restores the defaults.
  void ResetToDefaults();

 private:
  std::string caption_;
};

}  // namespace shelfra
