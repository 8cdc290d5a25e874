// TDBDataSet: an engine dataset that reaches its tables through a database alias of the
// default session.
#pragma once

#include <string>

#include "data/engine_dataset.h"

namespace shelfra {

class TDatabase;

class TDBDataSet : public TEngineDataSet {
 public:
  explicit TDBDataSet(TComponent* owner);
  ~TDBDataSet() override;

  const std::string& DatabaseName() const { return database_name_; }
  // Closes the dataset first when it is open.
  void SetDatabaseName(std::string name);
  // Kept for the engine; this system never writes, so it changes nothing it reads.
  bool AutoRefresh() const { return auto_refresh_; }
  void SetAutoRefresh(bool auto_refresh) { auto_refresh_ = auto_refresh; }

 protected:
  // The session's database for DatabaseName, counted as one use until ReleaseDatabase.
  // Raises EDBEngineError for an alias that is not configured.
  TDatabase& AcquireDatabase();
  void ReleaseDatabase();

 private:
  std::string database_name_;
  bool auto_refresh_ = false;
  TDatabase* database_ = nullptr;  // not owned: the session's
};

}  // namespace shelfra
