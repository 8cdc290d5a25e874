// TDatabase: the connection for one alias - its directory and the table files read through it,
// shared by every dataset naming the alias.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"

namespace shelfra {

class DbfFile;
class SearchIndex;
struct SearchIndexFields;

// Created, counted and destroyed by the session (TSession::OpenDatabase/CloseDatabase).
class TDatabase : public TComponent {
 public:
  // Requires: `index_fields` (not owned: the session's) outlives the database.
  TDatabase(TComponent* owner, std::string alias_name, std::string directory, const SearchIndexFields* index_fields);
  ~TDatabase() override;

  const std::string& AliasName() const { return alias_name_; }
  const std::string& Directory() const { return directory_; }
  int UseCount() const { return use_count_; }

  // The table file `file_name` (Shift_JIS) of the directory, read on first use and kept until
  // the database closes, so every dataset of the alias reads the same bytes. The file is the
  // first of these that exists: that name; that name with the extension in another ASCII case
  // (".dbf"); its UTF-8 spelling; that spelling with the extension in another ASCII case.
  // Raises EDBEngineError naming the file (by its Shift_JIS name when none exists) when it is
  // missing or no table. The first
  // table opened in the process also sets up the last check before an answer goes out: a
  // table that changed while it was read ends the request with EDBEngineError.
  const DbfFile& OpenTableFile(std::string_view file_name);

  // The search index of `file` (one of this database's table files) when the host
  // configuration names an index directory: opened, or first made when it is missing or stale
  // (IndexForRequest: when there is none yet, one is made in a process of its own while this
  // request scans), holding the session's index fields. nullptr without that setting or when
  // there is no current index; without the setting nothing is written. Looked up once per
  // file. Shared by the database and the datasets reading it. Raises nothing.
  std::shared_ptr<const SearchIndex> SearchIndexFor(const DbfFile& file);
  // After the index of `file` was used: when it turned out damaged, has it made again and
  // uses it no more.
  void CheckIndex(const DbfFile& file);

  // Between requests (TSession::ForgetChangedDatabases): lets go of each table file that is
  // not the same file at its path any more, or that nobody opened since the last call, with
  // its index; and of each index that is missing, damaged, no longer the file at its path, or
  // of another index directory than the host configuration names now. Raises nothing.
  void ForgetChangedFiles();

  // The path OpenTableFile reads for `file_name`, by the same rule; the exact name's path when
  // none of the files exists. Raises nothing.
  std::string ResolvePath(std::string_view file_name) const;

 private:
  friend class TSession;

  std::string alias_name_;
  std::string directory_;
  const SearchIndexFields* index_fields_;  // not owned
  int use_count_ = 0;
  struct FileEntry {
    std::unique_ptr<DbfFile> file;
    bool opened = true;  // by OpenTableFile since the last ForgetChangedFiles
  };
  std::vector<FileEntry> files_;
  struct IndexEntry {
    const DbfFile* file;                  // not owned: one of files_
    std::shared_ptr<SearchIndex> index;  // null when none could be had
    std::string directory;               // the index directory it was looked up in
  };
  std::vector<IndexEntry> indexes_;
};

}  // namespace shelfra
