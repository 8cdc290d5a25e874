// TDataSetTableProducer: renders the records of a dataset as one HTML table between a header
// and a footer text.
#pragma once

#include <string>

#include "data/dataset.h"
#include "produce/ds_table_producer.h"

namespace shelfra {

class TDataSetTableProducer : public TDSTableProducer {
 public:
  explicit TDataSetTableProducer(TComponent* owner);
  ~TDataSetTableProducer() override;

  // The records to show. Not owned: forgotten when the dataset is destroyed. Its opening,
  // closing and field changes rebuild the column layout.
  TDataSet* DataSet() const override { return dataset_; }
  void SetDataSet(TDataSet* dataset) override;

  // The header lines, the table (see BuildTable) and the footer lines, each line followed by
  // "\r\n". Empty with no dataset or when OnCreateContent vetoes. Starts at the dataset's
  // current record and leaves the dataset after the last row written; never opens, closes or
  // rewinds it. Raises whatever a handler, a move or a field's display text raises.
  std::string ProduceContent() override;

 protected:
  void Notification(TComponent& dying) override;

 private:
  // Passes the dataset's open, close and layout notices on to the producer.
  class THTTPDataLink : public TDataSetObserver {
   public:
    explicit THTTPDataLink(TDataSetTableProducer& producer) : producer_(producer) {}
    void DataSetEvent(TDataSet& dataset, TDataSetEvent event) override;

   private:
    TDataSetTableProducer& producer_;
  };

  TDataSet* dataset_ = nullptr;                    // not owned
  const TComponent* dataset_component_ = nullptr;  // the same dataset, to match its destruction notice
  THTTPDataLink data_link_{*this};
};

}  // namespace shelfra
