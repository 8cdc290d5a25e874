// TSession: the default session - the open databases by alias name and the alias parameters.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "base/request_context.h"
#include "base/strings.h"
#include "data/database.h"
#include "engine/search_index.h"

namespace shelfra {

class TSession : public TComponent {
 public:
  explicit TSession(TComponent* owner);

  // The connection for `alias`, cut to 31 bytes first: the open one of that name (ASCII case
  // ignored) or a new one on the alias's directory; each call counts one use. Raises the host
  // configuration's EDBEngineError for an alias that is not configured.
  TDatabase& OpenDatabase(std::string_view alias);
  // Releases one use; the last release closes and destroys the database, unless the session
  // keeps its databases (see KeepDatabases).
  void CloseDatabase(TDatabase& database);
  // The open database of `alias`, or nullptr. Not owned by the caller.
  TDatabase* FindDatabase(std::string_view alias) const;
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }

  // Clears `list` and fills it with the alias's parameters, one "name=value" line each; the
  // first line is "PATH=" and the directory. The alias is cut to 31 bytes. Raises the host
  // configuration's EDBEngineError for an alias that is not configured.
  void AliasParameters(std::string_view alias, TStrings& list);

  // From the first request a program serves (base/request_context.h) on, a database whose
  // last use ends stays open with its table files and indexes, for the next request of a
  // process that serves many. At every request's start the kept databases are looked at
  // again: one whose alias no longer names its directory (the host configuration changed, or
  // the request names another one) goes; of the others, each table file that is not the
  // same file any more, or was not read during the last request, goes with its index, and
  // each index that changed, turned out damaged or was missing is looked up again.
  bool KeepsDatabases() const { return RequestNumber() > 0; }
  void ForgetChangedDatabases();

  // What the search indexes of the tables hold; until it is set (or when it names no field
  // a table has) no index is made.
  void SetIndexFields(SearchIndexFields fields) { index_fields_ = std::move(fields); }
  const SearchIndexFields& IndexFields() const { return index_fields_; }

 private:
  std::recursive_mutex lock_;          // session operations; re-entered by the same thread
  std::vector<TDatabase*> databases_;  // owned as components
  SearchIndexFields index_fields_;
};

// The default session "Default", one per process, created on first use and never destroyed
// (datasets destroyed by exit hooks still release their databases through it).
TSession& Session();

// Alias names are cut to this many bytes before the engine sees them.
inline constexpr size_t kMaxAliasBytes = 31;

}  // namespace shelfra
