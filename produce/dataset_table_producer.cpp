// The dataset table producer: the dataset link and the page around the table.
#include "produce/dataset_table_producer.h"

namespace shelfra {

namespace {
// Every line followed by "\r\n"; an empty list adds nothing.
void AppendLines(std::string& out, const TStrings& lines) {
  for (const std::string& line : lines) {
    out += line;
    out += "\r\n";
  }
}
}  // namespace

TDataSetTableProducer::TDataSetTableProducer(TComponent* owner) : TDSTableProducer(owner) {}

TDataSetTableProducer::~TDataSetTableProducer() {
  if (dataset_ != nullptr) dataset_->RemoveObserver(&data_link_);
}

void TDataSetTableProducer::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) {
    dataset_->RemoveObserver(&data_link_);
    RemoveFreeNotification(*dataset_);
  }
  dataset_ = dataset;
  dataset_component_ = dataset;
  if (dataset_ != nullptr) {
    FreeNotification(*dataset_);
    dataset_->AddObserver(&data_link_);
  }
  RebuildLayout();
}

void TDataSetTableProducer::Notification(TComponent& dying) {
  TDSTableProducer::Notification(dying);
  if (&dying == dataset_component_) {
    // The dying dataset drops its observers itself; it must not be touched any more.
    dataset_ = nullptr;
    dataset_component_ = nullptr;
    RebuildLayout();
  }
}

void TDataSetTableProducer::THTTPDataLink::DataSetEvent(TDataSet& /*dataset*/, TDataSetEvent /*event*/) {
  producer_.RebuildLayout();
}

std::string TDataSetTableProducer::ProduceContent() {
  if (dataset_ == nullptr) return std::string();
  if (dataset_->Active() && Columns().Count() == 0) RebuildLayout();
  if (!FireCreateContent()) return std::string();
  std::string out;
  out.reserve(4096);
  AppendLines(out, Header());
  BuildTable(out, *dataset_, MaxRows());
  AppendLines(out, Footer());
  return out;
}

}  // namespace shelfra
