// TDatabase: table files of one alias directory.
#include "data/database.h"

#include <dirent.h>

#include "base/text.h"
#include "data/dbf_file.h"
#include "data/host_config.h"
#include "data/search_index.h"

namespace shelfra {

TDatabase::TDatabase(TComponent* owner, std::string alias_name, std::string directory)
    : TComponent(owner), alias_name_(std::move(alias_name)), directory_(std::move(directory)) {}

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
  files_.push_back(DbfFile::Open(path));
  return *files_.back();
}

const SearchIndex* TDatabase::SearchIndexFor(const DbfFile& file) {
  for (const IndexEntry& entry : indexes_) {
    if (entry.file == &file) return entry.index.get();
  }
  std::string directory = IndexDirectory();
  std::unique_ptr<SearchIndex> index;
  if (!directory.empty()) {
    // A relative directory counts from the configuration file's directory, as alias
    // directories do.
    if (directory.front() != '/') {
      std::string config = HostConfigPath();
      size_t slash = config.rfind('/');
      directory = (slash == std::string::npos ? std::string(".") : config.substr(0, slash)) + "/" + directory;
    }
    index = SearchIndex::OpenOrBuild(file, directory);
  }
  indexes_.push_back(IndexEntry{&file, std::move(index)});
  return indexes_.back().index.get();
}

}  // namespace shelfra
