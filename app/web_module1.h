// TWebModule1: the catalogue search's web module - its components, its three actions, their
// handlers, the template tag handlers and the settings lookups.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/strings.h"
#include "produce/dataset_page_producer.h"
#include "produce/dataset_table_producer.h"
#include "produce/page_producer.h"
#include "web/web_dispatcher.h"

namespace shelfra {

class CatalogueService;
class TQuery;
class TTable;
struct SettingKey;

class TWebModule1 : public TWebModule {
 public:
  // Creates the components in their stored order and opens the two tables; raises the data
  // layer's error when the alias or a table cannot be opened.
  explicit TWebModule1(TComponent* owner);
  ~TWebModule1() override;
  std::string_view ClassName() const override { return "TWebModule1"; }

  // Components, owned by the module.
  TPageProducer* PageProducer1 = nullptr;
  TDataSetTableProducer* DataSetTableProducer1 = nullptr;
  TQuery* QueryZosho = nullptr;
  TPageProducer* PageProducer2 = nullptr;
  TTable* ZoshoTable = nullptr;
  TDataSetPageProducer* DataSetPageProducer1 = nullptr;
  TTable* KashidashiTable = nullptr;

  // Default action: the search form without criteria, else the search and its result list.
  void WebModule1WebActionItem1Action(TComponent& sender, TWebRequest& request, TWebResponse& response,
                                      bool& handled);
  // "/list": the result table as configured, without a search.
  void WebModule1alListAction(TComponent& sender, TWebRequest& request, TWebResponse& response, bool& handled);
  // "/Detail" (GET): one book's detail page, or the invalid-number page.
  void WebModule1WebActionItem2Action(TComponent& sender, TWebRequest& request, TWebResponse& response,
                                      bool& handled);
  // Makes the registration number of every data row a link to its detail page.
  void DataSetTableProducer1FormatCell(TComponent& sender, int cell_row, int cell_column, THTMLBgColor& bg_color,
                                       THTMLAlign& align, THTMLVAlign& valign, std::string& custom_attrs,
                                       std::string& cell_data);
  // Search form tags: the banner and the ten class names from the settings file.
  void PageProducer1HTMLTag(TComponent& sender, TTag tag, const std::string& tag_string, TStrings& tag_params,
                            std::string& replace_text);
  // Detail page tags: the book's fields, its padded number and its lending status.
  void DataSetPageProducer1HTMLTag(TComponent& sender, TTag tag, const std::string& tag_string, TStrings& tag_params,
                                   std::string& replace_text);

  // Settings file: "Shelfra.ini" in the directory of the alias "Vadoz". Each call sees the file as it is.
  std::string IniFileName();
  // True when the detail page zero-pads registration numbers (the padding key is exactly "True").
  bool TumeMoji();
  // Digit count for the padding: 6 while the standard key is "True", else the digits key (default 6).
  int Keta();

 protected:
  void CreateComponents() override;

 private:
  std::string ReadSetting(const SettingKey& key);
  std::string RegistrationNumberText();
  std::string LendingStatus();

  std::unique_ptr<CatalogueService> catalogue_;  // over the module's datasets

  std::string detail_link_prefix_;  // "<A HREF=\"<script name>/Detail?NO=" of the current list
  std::string detail_link_;         // the cell being composed
};

}  // namespace shelfra
