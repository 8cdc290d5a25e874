// TDataSetPageProducer: a template producer that fills tags named after fields of a dataset
// from its current record before the OnHTMLTag handler sees them.
#pragma once

#include <string>

#include "data/dataset.h"
#include "produce/page_producer.h"

namespace shelfra {

class TDataSetPageProducer : public TPageProducer {
 public:
  explicit TDataSetPageProducer(TComponent* owner) : TPageProducer(owner) {}

  // The dataset whose current record fills the tags. Not owned: forgotten when destroyed.
  virtual TDataSet* DataSet() const { return dataset_; }
  virtual void SetDataSet(TDataSet* dataset);

  // Opens a closed dataset (its open errors pass through), then expands the template as
  // TPageProducer does. The dataset stays open and its current record is not moved.
  std::string ProduceContent() override;

 protected:
  // A tag without parameters whose name equals a field's name (ignoring case) arrives at
  // OnHTMLTag with that field's display text already in `replace_text`; the handler has the
  // last word.
  void FireHTMLTag(TTag tag, const std::string& tag_string, TStrings& tag_params, std::string& replace_text) override;
  void Notification(TComponent& dying) override;

 private:
  TDataSet* dataset_ = nullptr;                    // not owned
  const TComponent* dataset_component_ = nullptr;  // the same dataset, to match its destruction notice
};

}  // namespace shelfra
