// TDatabase: table files of one alias directory.
#include "data/database.h"

#include <dirent.h>
#include <sys/stat.h>

#include <mutex>

#include "base/error_log.h"
#include "base/hooks.h"
#include "base/sjis_utf8.h"
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

// Index events go to the error log; the index keeper says paths readably already.
void LogIndexEvent(std::string_view line) { LogReadableLine("index: " + std::string(line)); }

// True when `name` is `wanted` with the extension (after the last '.') in any ASCII case and
// everything before it byte for byte.
bool SameButExtensionCase(std::string_view name, std::string_view wanted) {
  const size_t dot = wanted.rfind('.');
  if (dot == std::string_view::npos || name.size() != wanted.size()) return false;
  return name.substr(0, dot + 1) == wanted.substr(0, dot + 1) &&
         SameTextAscii(name.substr(dot + 1), wanted.substr(dot + 1));
}

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
  // Files copied from a machine that names files in UTF-8 (a zip archive, a share) arrive with
  // the UTF-8 spelling of the name; the Shift_JIS name the program uses wins over it.
  std::string utf8;
  if (!SjisToUtf8(file_name, utf8) || utf8 == file_name) utf8.clear();
  if (file_name.find('.') == std::string_view::npos && utf8.empty()) return exact;
  // The exact name ranks first: when it exists, no listing is needed.
  struct stat st;
  if (::stat(exact.c_str(), &st) == 0) return exact;
  DIR* dir = ::opendir(directory_.c_str());
  if (dir == nullptr) return exact;
  // Ranks, best first: the exact name; the extension in another ASCII case (".dbf" for
  // ".DBF"); the UTF-8 spelling; that with the extension in another ASCII case. Of names of
  // one rank, the first the directory lists.
  constexpr int kNone = 4;
  int best = kNone;
  std::string found;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    int rank = kNone;
    if (name == file_name) {
      rank = 0;
    } else if (SameButExtensionCase(name, file_name)) {
      rank = 1;
    } else if (!utf8.empty() && name == utf8) {
      rank = 2;
    } else if (!utf8.empty() && SameButExtensionCase(name, utf8)) {
      rank = 3;
    }
    if (rank < best) {
      best = rank;
      found = std::string(name);
      if (rank == 0) break;
    }
  }
  ::closedir(dir);
  return best == 0 || best == kNone ? exact : directory_ + "/" + found;
}

const DbfFile& TDatabase::OpenTableFile(std::string_view file_name) {
  std::string path = ResolvePath(file_name);
  for (FileEntry& entry : files_) {
    if (entry.file->Path() == path) {
      entry.opened = true;
      return *entry.file;
    }
  }
  static std::once_flag hook_once;
  std::call_once(hook_once, [] { AddBeforeSendHook(CheckTablesBeforeSend); });
  std::unique_ptr<DbfFile> file;
  CheckEngine(DbfFile::Open(path, file));
  files_.push_back(FileEntry{std::move(file)});
  return *files_.back().file;
}

std::shared_ptr<const SearchIndex> TDatabase::SearchIndexFor(const DbfFile& file) {
  for (const IndexEntry& entry : indexes_) {
    if (entry.file == &file) return entry.index;
  }
  const std::string directory = IndexDirectory();
  std::unique_ptr<SearchIndex> index;
  if (!directory.empty()) {
    static std::once_flag log_once;
    std::call_once(log_once, [] { SetIndexLog(LogIndexEvent); });
    index = IndexForRequest(file, *index_fields_, directory);
  }
  indexes_.push_back(IndexEntry{&file, std::move(index), directory});
  return indexes_.back().index;
}

void TDatabase::ForgetChangedFiles() {
  const std::string directory = IndexDirectory();
  std::erase_if(indexes_, [&](const IndexEntry& entry) {
    return entry.index == nullptr || entry.directory != directory || !entry.index->Status().Ok() ||
           !entry.index->StillAt();
  });
  std::erase_if(files_, [&](FileEntry& entry) {
    const bool keep = entry.opened && entry.file->StillAt();
    entry.opened = false;
    if (!keep) {
      std::erase_if(indexes_, [&](const IndexEntry& index) { return index.file == entry.file.get(); });
    }
    return !keep;
  });
}

void TDatabase::CheckIndex(const DbfFile& file) {
  for (IndexEntry& entry : indexes_) {
    if (entry.file == &file && entry.index != nullptr && !entry.index->Status().Ok()) {
      RetireDamagedIndex(*entry.index);
      entry.index.reset();
    }
  }
}

}  // namespace shelfra
