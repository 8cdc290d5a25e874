// TDatabase: table files of one alias directory.
#include "data/database.h"

#include <dirent.h>

#include <mutex>

#include "base/error_log.h"
#include "base/hooks.h"
#include "base/text.h"
#include "data/engine_error.h"
#include "engine/dbf_file.h"
#include "engine/host_config.h"
#include "engine/index_keeper.h"
#include "engine/search_index.h"

namespace shelfra {

namespace {

// Before an answer goes out: a table that changed under the request makes it no answer.
void CheckTablesBeforeSend() { CheckEngine(DbfFile::CheckAllUnchanged()); }

// Index events go to the error log.
void LogIndexEvent(std::string_view line) { LogLine("index: " + std::string(line)); }

}  // namespace

TDatabase::TDatabase(TComponent* owner, std::string alias_name, std::string directory,
                     const SearchIndexFields* index_fields)
    : TComponent(owner),
      alias_name_(std::move(alias_name)),
      directory_(std::move(directory)),
      index_fields_(index_fields) {}

TDatabase::~TDatabase() = default;

std::string TDatabase::ResolvePath(std::string_view file_name) const {
  std::string exact = directory_ + "/" + std::string(file_name);
  size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return exact;
  DIR* dir = ::opendir(directory_.c_str());
  if (dir == nullptr) return exact;
  std::string found;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == file_name) {
      found.clear();
      break;
    }
    // Same stem byte for byte; the extension may differ in ASCII case (".dbf" for ".DBF").
    if (found.empty() && name.size() == file_name.size() && name.substr(0, dot + 1) == file_name.substr(0, dot + 1) &&
        SameTextAscii(name.substr(dot + 1), file_name.substr(dot + 1))) {
      found = std::string(name);
    }
  }
  ::closedir(dir);
  return found.empty() ? exact : directory_ + "/" + found;
}

const DbfFile& TDatabase::OpenTableFile(std::string_view file_name) {
  std::string path = ResolvePath(file_name);
  for (const std::unique_ptr<DbfFile>& file : files_) {
    if (file->Path() == path) return *file;
  }
  static std::once_flag hook_once;
  std::call_once(hook_once, [] { AddBeforeSendHook(CheckTablesBeforeSend); });
  std::unique_ptr<DbfFile> file;
  CheckEngine(DbfFile::Open(path, file));
  files_.push_back(std::move(file));
  return *files_.back();
}

const SearchIndex* TDatabase::SearchIndexFor(const DbfFile& file) {
  for (const IndexEntry& entry : indexes_) {
    if (entry.file == &file) return entry.index.get();
  }
  const std::string directory = IndexDirectory();
  std::unique_ptr<SearchIndex> index;
  if (!directory.empty()) {
    static std::once_flag log_once;
    std::call_once(log_once, [] { SetIndexLog(LogIndexEvent); });
    index = IndexForRequest(file, *index_fields_, directory);
  }
  indexes_.push_back(IndexEntry{&file, std::move(index)});
  return indexes_.back().index.get();
}

void TDatabase::CheckIndex(const DbfFile& file) {
  for (IndexEntry& entry : indexes_) {
    if (entry.file == &file && entry.index != nullptr && entry.index->Damaged()) {
      RetireDamagedIndex(*entry.index);
      entry.index.reset();
    }
  }
}

}  // namespace shelfra
