// The module's handlers and settings lookups.
#include "app/web_module1.h"

#include <algorithm>

#include "app/catalogue.h"
#include "app_res.h"
#include "base/format.h"
#include "base/profile.h"
#include "base/text.h"
#include "data/field.h"
#include "data/query.h"
#include "data/session.h"
#include "data/table.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace shelfra {

namespace {

constexpr std::string_view kSettingsFileName = "Shelfra.ini";

}  // namespace

TWebModule1::TWebModule1(TComponent* owner) : TWebModule(owner) { LoadDescription(); }

TWebModule1::~TWebModule1() { DestroyComponents(); }

void TWebModule1::WebModule1WebActionItem1Action(TComponent& /*sender*/, TWebRequest& request,
                                                 TWebResponse& response, bool& /*handled*/) {
  detail_link_prefix_.clear();
  const SearchCriteria criteria = SearchCriteria::FromQuery(request.QueryValues());
  if (criteria.Empty()) {
    response.SetContent(PageProducer1->ProduceContent());
    return;
  }

  QueryZosho->Close();
  QueryZosho->ClearSQL();
  for (std::string& line : SearchStatementLines(criteria)) QueryZosho->AddSQL(std::move(line));
  QueryZosho->SetActive(true);

  std::string count_line(res::app::kCountPrefix);
  count_line += IntToStr(QueryZosho->CountRecords());
  count_line += res::app::kCountSuffix;
  DataSetTableProducer1->Header().Add(std::move(count_line));
  response.SetContent(DataSetTableProducer1->ProduceContent());
}

void TWebModule1::WebModule1alListAction(TComponent& /*sender*/, TWebRequest& /*request*/, TWebResponse& response,
                                         bool& /*handled*/) {
  detail_link_prefix_.clear();
  response.SetContent(DataSetTableProducer1->ProduceContent());
}

void TWebModule1::WebModule1WebActionItem2Action(TComponent& /*sender*/, TWebRequest& request,
                                                 TWebResponse& response, bool& /*handled*/) {
  int32_t number = StrToIntDef(request.QueryValues().Values("No"), -1);
  if (ZoshoTable->SeekEqual(res::app::kFieldRegistrationNo, {TSeekValue(number)})) {
    response.SetContent(DataSetPageProducer1->ProduceContent());
  } else {
    response.SetContent(std::string(res::app::kInvalidNumberPage));
  }
}

void TWebModule1::DataSetTableProducer1FormatCell(TComponent& /*sender*/, int cell_row, int cell_column,
                                                  THTMLBgColor& /*bg_color*/, THTMLAlign& /*align*/,
                                                  THTMLVAlign& /*valign*/, std::string& /*custom_attrs*/,
                                                  std::string& cell_data) {
  if (cell_column == 0 && cell_row > 0) {
    // <A HREF="<script name>/Detail?NO=<number>"><number></A>, composed in a string kept from
    // row to row.
    if (detail_link_prefix_.empty()) {
      detail_link_prefix_ = "<A HREF=\"" + CurrentRequest()->VariableText(kScriptName) + "/Detail?NO=";
    }
    detail_link_.assign(detail_link_prefix_);
    detail_link_ += cell_data;
    detail_link_ += "\">";
    detail_link_ += cell_data;
    detail_link_ += "</A>";
    cell_data.swap(detail_link_);
  }
}

void TWebModule1::PageProducer1HTMLTag(TComponent& /*sender*/, TTag /*tag*/, const std::string& tag_string,
                                       TStrings& /*tag_params*/, std::string& replace_text) {
  static constexpr std::string_view kClassDefaults[10] = {
      res::app::kDefaultClass0, res::app::kDefaultClass1, res::app::kDefaultClass2, res::app::kDefaultClass3,
      res::app::kDefaultClass4, res::app::kDefaultClass5, res::app::kDefaultClass6, res::app::kDefaultClass7,
      res::app::kDefaultClass8, res::app::kDefaultClass9,
  };
  // Every call reads the setting its tag shows afresh: an edit shows from the next tag on.
  // NDC1 to NDC9 name classes 1 to 9; NDC10 names class 0.
  for (int n = 1; n <= 10; ++n) {
    if (SameTextAscii(tag_string, "NDC" + IntToStr(n))) {
      replace_text = ReadSetting(res::app::kSectionClasses, IntToStr(n % 10), kClassDefaults[n % 10]);
      return;
    }
  }
  if (SameTextAscii(tag_string, "VadozMes")) {
    replace_text = ReadSetting(res::app::kSectionWeb, res::app::kKeyMessage, res::app::kDefaultMessage);
  }
}

std::string TWebModule1::RegistrationNumberText() {
  TField& number = ZoshoTable->FieldAt(1);
  if (TumeMoji()) return Format("%." + IntToStr(Keta()) + "d", {number.IntegerValue()});
  return number.StringValue();
}

std::string TWebModule1::LendingStatus() {
  int32_t number = ZoshoTable->FieldNamed(res::app::kFieldRegistrationNo).IntegerValue();
  if (!KashidashiTable->SeekEqual(res::app::kFieldRegistrationNo, {TSeekValue(number)})) return std::string();
  return std::string(res::app::kOnLoanPrefix) + KashidashiTable->FieldNamed(res::app::kFieldDueDate).StringValue();
}

void TWebModule1::DataSetPageProducer1HTMLTag(TComponent& /*sender*/, TTag /*tag*/, const std::string& tag_string,
                                              TStrings& /*tag_params*/, std::string& replace_text) {
  // Tags shown as one field of the book, with a suffix written even after an empty value.
  struct FieldTag {
    std::string_view tag;
    std::string_view field;
    std::string_view suffix;
  };
  static constexpr FieldTag kFieldTags[] = {
      {"Title", res::app::kFieldTitle, ""},         {"Author", res::app::kFieldAuthor, ""},
      {"Series", res::app::kFieldSeries, ""},       {"Publisher", res::app::kFieldPublisher, ""},
      {"Year", res::app::kFieldYear, ""},           {"Size", res::app::kFieldSize, "(cm)"},
      {"Page", res::app::kFieldPages, "p."},        {"Comment", res::app::kFieldNote, ""},
      {"Place", res::app::kFieldPlace, ""},         {"Content", res::app::kFieldContents, ""},
  };
  auto field = [this](std::string_view name) { return ZoshoTable->FieldNamed(name).StringValue(); };
  if (SameTextAscii(tag_string, "Seikyu")) {
    // One field after the other, so a missing one is reported in reading order.
    std::string call_number = field(res::app::kFieldClassCode);
    call_number += "/";
    call_number += field(res::app::kFieldBookMark);
    call_number += "/";
    call_number += field(res::app::kFieldVolumeMark);
    replace_text = std::move(call_number);
  } else if (SameTextAscii(tag_string, "No")) {
    replace_text = RegistrationNumberText();
  } else if (SameTextAscii(tag_string, "Kashidashi")) {
    replace_text = LendingStatus();
  } else {
    for (const FieldTag& f : kFieldTags) {
      if (SameTextAscii(tag_string, f.tag)) {
        replace_text = field(f.field);
        replace_text += f.suffix;
        break;
      }
    }
  }
}

std::string TWebModule1::IniFileName() {
  TStrings parameters;
  Session().AliasParameters(CatalogueAlias(), parameters);
  // The first line is "PATH=<directory>": its text from the sixth byte on is the directory.
  std::string directory = parameters.Strings(0).substr(std::min<size_t>(5, parameters.Strings(0).size()), 255);
  // Paths on this host use "/" between directory and file name.
  return directory + "/" + std::string(kSettingsFileName);
}

std::string TWebModule1::ReadSetting(std::string_view section, std::string_view key, std::string_view default_value) {
  return GetPrivateProfileString(section, key, default_value, IniFileName());
}

int TWebModule1::ReadSettingInteger(std::string_view section, std::string_view key, int default_value) {
  std::string text = ReadSetting(section, key, "");
  // Settings may write hexadecimal as C does ("0x0A"); it goes to the integer conversion in
  // that conversion's own spelling ("$0A"), so the settings rule does not depend on which
  // other prefixes the conversion happens to take.
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.replace(0, 2, "$");
  return StrToIntDef(text, default_value);
}

bool TWebModule1::TumeMoji() { return ReadSetting(res::app::kSectionNumbers, res::app::kKeyPadding, "False") == "True"; }

int TWebModule1::Keta() {
  if (ReadSetting(res::app::kSectionNumbers, res::app::kKeyStandard, "True") == "True") return 6;
  return ReadSettingInteger(res::app::kSectionNumbers, res::app::kKeyDigits, 6);
}

}  // namespace shelfra
