// The dataset page producer: opening the dataset and presetting tag texts from its fields.
#include "produce/dataset_page_producer.h"

#include "data/field.h"

namespace shelfra {

void TDataSetPageProducer::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) RemoveFreeNotification(*dataset_);
  dataset_ = dataset;
  dataset_component_ = dataset;
  if (dataset_ != nullptr) FreeNotification(*dataset_);
}

std::string TDataSetPageProducer::ProduceContent() {
  if (dataset_ != nullptr && !dataset_->Active()) dataset_->SetActive(true);
  return TPageProducer::ProduceContent();
}

void TDataSetPageProducer::FireHTMLTag(TTag tag, const std::string& tag_string, TStrings& tag_params,
                                       std::string& replace_text) {
  if (tag_params.Empty() && dataset_ != nullptr) {
    if (TField* field = dataset_->FindFieldNamed(tag_string)) replace_text = field->DisplayText();
  }
  TPageProducer::FireHTMLTag(tag, tag_string, tag_params, replace_text);
}

void TDataSetPageProducer::Notification(TComponent& dying) {
  if (&dying == dataset_component_) {
    dataset_ = nullptr;
    dataset_component_ = nullptr;
  }
  TPageProducer::Notification(dying);
}

}  // namespace shelfra
