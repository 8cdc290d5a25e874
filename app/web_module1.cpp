// The module's handlers and settings lookups.
#include "app/web_module1.h"

#include <algorithm>

#include "app_res.h"
#include "base/format.h"
#include "base/profile.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_service.h"
#include "catalogue/settings.h"
#include "data/field.h"
#include "data/table.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace shelfra {

TWebModule1::TWebModule1(TComponent* owner) : TWebModule(owner) {
  LoadDescription();
  catalogue_ = std::make_unique<CatalogueService>(*QueryZosho, *ZoshoTable, *KashidashiTable);
}

TWebModule1::~TWebModule1() { DestroyComponents(); }

void TWebModule1::WebModule1WebActionItem1Action(TComponent& /*sender*/, TWebRequest& request,
                                                 TWebResponse& response, bool& /*handled*/) {
  detail_link_prefix_.clear();
  const SearchCriteria criteria = SearchCriteria::FromQuery(request.QueryValues());
  if (criteria.Empty()) {
    response.SetContent(PageProducer1->ProduceContent());
    return;
  }

  const int found = catalogue_->Search(criteria);
  std::string count_line(res::app::kCountPrefix);
  count_line += IntToStr(found);
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
  if (catalogue_->FindBook(number)) {
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
  // Every call reads the setting its tag shows afresh: an edit shows from the next tag on.
  // NDC1 to NDC9 name classes 1 to 9; NDC10 names class 0.
  for (int n = 1; n <= 10; ++n) {
    if (SameTextAscii(tag_string, "NDC" + IntToStr(n))) {
      replace_text = ReadSetting(ClassNameKey(n % 10));
      return;
    }
  }
  if (SameTextAscii(tag_string, "VadozMes")) {
    replace_text = ReadSetting(BannerKey());
  }
}

std::string TWebModule1::RegistrationNumberText() {
  TField& number = ZoshoTable->FieldAt(1);
  if (TumeMoji()) return Format("%." + IntToStr(Keta()) + "d", {number.IntegerValue()});
  return number.StringValue();
}

std::string TWebModule1::LendingStatus() {
  std::optional<std::string> due = catalogue_->DueDate();
  if (!due) return std::string();
  return std::string(res::app::kOnLoanPrefix) + *due;
}

void TWebModule1::DataSetPageProducer1HTMLTag(TComponent& /*sender*/, TTag /*tag*/, const std::string& tag_string,
                                              TStrings& /*tag_params*/, std::string& replace_text) {
  if (SameTextAscii(tag_string, "Seikyu")) {
    replace_text = catalogue_->CallNumber();
  } else if (SameTextAscii(tag_string, "No")) {
    replace_text = RegistrationNumberText();
  } else if (SameTextAscii(tag_string, "Kashidashi")) {
    replace_text = LendingStatus();
  } else {
    for (const DetailField& f : DetailFields()) {
      if (SameTextAscii(tag_string, f.tag)) {
        replace_text = catalogue_->BookText(f.field);
        replace_text += f.suffix;
        break;
      }
    }
  }
}

std::string TWebModule1::IniFileName() { return SettingsFilePath(); }

std::string TWebModule1::ReadSetting(const SettingKey& key) {
  return GetPrivateProfileString(key.section, key.key, key.default_value, IniFileName());
}

bool TWebModule1::TumeMoji() { return SettingIsTrue(ReadSetting(PaddingKey())); }

int TWebModule1::Keta() {
  if (SettingIsTrue(ReadSetting(StandardKey()))) return kStandardDigits;
  return SettingInteger(ReadSetting(DigitsKey())).value_or(kStandardDigits);
}

}  // namespace shelfra
