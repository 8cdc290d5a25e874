// The default session and its databases.
#include "data/session.h"

#include <algorithm>

#include "base/request_context.h"
#include "base/text.h"
#include "data/engine_error.h"
#include "engine/host_config.h"

namespace shelfra {

namespace {

std::string_view CutAlias(std::string_view alias) { return alias.substr(0, kMaxAliasBytes); }

}  // namespace

TSession::TSession(TComponent* owner) : TComponent(owner) {}

TDatabase& TSession::OpenDatabase(std::string_view alias) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  alias = CutAlias(alias);
  TDatabase* database = FindDatabase(alias);
  if (database == nullptr) {
    std::string directory;
    CheckEngine(AliasDirectory(alias, directory));
    database = &Create<TDatabase>(std::string(alias), std::string(alias), std::move(directory), &index_fields_);
    databases_.push_back(database);
  }
  ++database->use_count_;
  return *database;
}

void TSession::CloseDatabase(TDatabase& database) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (--database.use_count_ > 0 || KeepsDatabases()) return;
  databases_.erase(std::remove(databases_.begin(), databases_.end(), &database), databases_.end());
  DestroyComponent(database);
}

TDatabase* TSession::FindDatabase(std::string_view alias) const {
  alias = CutAlias(alias);
  for (TDatabase* database : databases_) {
    if (SameTextAscii(database->AliasName(), alias)) return database;
  }
  return nullptr;
}

void TSession::AliasParameters(std::string_view alias, TStrings& list) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  list.Clear();
  std::string directory;
  CheckEngine(AliasDirectory(CutAlias(alias), directory));
  list.Add("PATH=" + directory);
}

void TSession::ForgetChangedDatabases() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (size_t i = databases_.size(); i-- > 0;) {
    TDatabase* database = databases_[i];
    if (database->use_count_ > 0) continue;  // still held by someone: theirs to close
    std::string directory;
    if (AliasDirectory(database->AliasName(), directory).Ok() && directory == database->Directory()) {
      database->ForgetChangedFiles();
      continue;
    }
    databases_.erase(databases_.begin() + static_cast<std::ptrdiff_t>(i));
    DestroyComponent(*database);
  }
}

TSession& Session() {
  // Never destroyed: see the header.
  static TSession* const session = [] {
    auto* s = new TSession(nullptr);
    s->SetName("Default");
    AddRequestStartHook([s] { s->ForgetChangedDatabases(); });
    return s;
  }();
  return *session;
}

}  // namespace shelfra
