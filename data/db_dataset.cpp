// TDBDataSet: the database connection of a dataset.
#include "data/db_dataset.h"

#include "data/session.h"

namespace shelfra {

TDBDataSet::TDBDataSet(TComponent* owner) : TEngineDataSet(owner) {}

TDBDataSet::~TDBDataSet() { ReleaseDatabase(); }

void TDBDataSet::SetDatabaseName(std::string name) {
  if (name == database_name_) return;
  Close();
  database_name_ = std::move(name);
}

TDatabase& TDBDataSet::AcquireDatabase() {
  if (database_ == nullptr) database_ = &Session().OpenDatabase(database_name_);
  return *database_;
}

void TDBDataSet::ReleaseDatabase() {
  if (database_ == nullptr) return;
  TDatabase* database = database_;
  database_ = nullptr;
  Session().CloseDatabase(*database);
}

}  // namespace shelfra
