// The module's stored description: its components in their order, their properties, the
// action table and the event bindings.
#include "app/web_module1.h"

#include "app_res.h"
#include "catalogue/catalogue.h"
#include "catalogue/catalogue_service.h"
#include "data/query.h"
#include "data/session.h"
#include "data/table.h"

namespace shelfra {

void TWebModule1::CreateComponents() {
  // The search indexes of the catalogue's tables hold what the search statement reads.
  Session().SetIndexFields(CatalogueIndexFields());

  PageProducer1 = &Create<TPageProducer>("PageProducer1");
  PageProducer1->SetHTMLDoc(res::app::kSearchForm);
  PageProducer1->OnHTMLTag = Bind(this, &TWebModule1::PageProducer1HTMLTag);

  DataSetTableProducer1 = &Create<TDataSetTableProducer>("DataSetTableProducer1");
  DataSetTableProducer1->SetCaption(std::string(res::app::kResultCaption));
  DataSetTableProducer1->SetCaptionAlignment(THTMLCaptionAlignment::caTop);
  for (std::string_view field : ResultListFields()) {
    DataSetTableProducer1->Columns().Add().SetFieldName(std::string(field));
  }
  for (std::string_view line : res::app::kResultHeader) DataSetTableProducer1->Header().Add(std::string(line));
  for (std::string_view line : res::app::kResultFooter) DataSetTableProducer1->Footer().Add(std::string(line));
  DataSetTableProducer1->SetMaxRows(99999);
  DataSetTableProducer1->TableAttributes().SetAlign(THTMLAlign::haCenter);
  DataSetTableProducer1->TableAttributes().SetBgColor("#FCFBE2");
  DataSetTableProducer1->TableAttributes().SetBorder(1);
  DataSetTableProducer1->OnFormatCell = Bind(this, &TWebModule1::DataSetTableProducer1FormatCell);

  QueryZosho = &Create<TQuery>("QueryZosho");
  ConfigureAnswerQuery(*QueryZosho);
  DataSetTableProducer1->SetDataSet(QueryZosho);

  PageProducer2 = &Create<TPageProducer>("PageProducer2");
  PageProducer2->SetHTMLDoc(res::app::kSearchingPage);

  ZoshoTable = &Create<TTable>("ZoshoTable");
  ConfigureBookTable(*ZoshoTable);

  DataSetPageProducer1 = &Create<TDataSetPageProducer>("DataSetPageProducer1");
  DataSetPageProducer1->SetDataSet(ZoshoTable);
  DataSetPageProducer1->SetHTMLDoc(res::app::kDetailPage);
  DataSetPageProducer1->OnHTMLTag = Bind(this, &TWebModule1::DataSetPageProducer1HTMLTag);

  KashidashiTable = &Create<TTable>("KashidashiTable");
  ConfigureLendingTable(*KashidashiTable);

  // The action table, in order.
  TWebActionItem& item1 = Actions().Add();
  item1.SetDefault(true);
  item1.OnAction = Bind(this, &TWebModule1::WebModule1WebActionItem1Action);
  TWebActionItem& list = Actions().Add();
  list.SetName("alList");
  list.SetPathInfo("/list");
  list.OnAction = Bind(this, &TWebModule1::WebModule1alListAction);
  TWebActionItem& item2 = Actions().Add();
  item2.SetPathInfo("/Detail");
  item2.SetMethodType(mtGet);
  item2.OnAction = Bind(this, &TWebModule1::WebModule1WebActionItem2Action);

  // Stored active: the tables open as the description finishes loading.
  ZoshoTable->SetActive(true);
  KashidashiTable->SetActive(true);
}

}  // namespace shelfra
