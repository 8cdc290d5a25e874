// SearchIndex: a side file of one table holding what the search statements need - the folded
// text of the searched fields, the sort order of one of them, the record positions, the
// registration numbers and, per pair of folded characters, the records holding it - so a
// search reads a small part of the table's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/status.h"

namespace shelfra {

class DbfFile;
class SqlCondition;
struct SqlSortField;
struct IndexPosting;

// What an index holds, named by its caller: character fields whose folded texts it keeps (in
// this order; fields the table lacks, or has with another type, are left out), the field of
// them whose sort order it keeps, and a number field whose values it keeps for seeks.
struct SearchIndexFields {
  std::vector<std::string> texts;
  std::string sort;
  std::string number;
};

// An open index is mapped read-only. Opening checks that the index was made from the table as
// it is now (its size, modification time, header bytes and path); a stale, unreadable,
// foreign or malformed index is not opened. Where the index cannot help, the caller scans
// the table.
class SearchIndex {
 public:
  // The index path of `file` in `directory`: "<directory>/<16 hex digits>.idx", the digits
  // a hash of the table's full path.
  static std::string PathFor(const DbfFile& file, const std::string& directory);

  // The index at `path` when it matches `file` as it is now; nullptr otherwise.
  static std::unique_ptr<SearchIndex> Open(const DbfFile& file, const std::string& path);

  // Writes the index of `file` holding `fields` to `path`: first to a temporary file in the
  // same directory, which is then renamed into place, so a reader sees the old file or the
  // whole new one. `written` tells whether it was: not when the table has none of the fields
  // or the file cannot be written. kStatusTableChanged (and nothing written) when the table
  // changed while it was read.
  static EngineStatus Build(const DbfFile& file, const SearchIndexFields& fields, const std::string& path,
                            bool& written);

  // Open, else Build and Open: in `out` the index of `file` in `directory`, made when it is
  // missing or stale; nullptr when it cannot be made. Fails as Build does.
  static EngineStatus OpenOrBuild(const DbfFile& file, const SearchIndexFields& fields, const std::string& directory,
                                  std::unique_ptr<SearchIndex>& out);

  ~SearchIndex();
  SearchIndex(const SearchIndex&) = delete;
  SearchIndex& operator=(const SearchIndex&) = delete;

  // Answers a statement over `file` (the table this index was opened for) whose condition is
  // `where` (nullptr for none) and whose ORDER BY is `sort`: true with the record numbers in
  // `rows` - the same records in the same order as a scan gives - when the statement needs
  // nothing but the held texts (a condition of AND, OR, NOT and LIKE tests of held fields,
  // ORDER BY the sort field ascending or no ORDER BY); false, with `rows` untouched,
  // otherwise.
  bool Run(const DbfFile& file, const SqlCondition* where, const std::vector<SqlSortField>& sort,
           std::vector<uint32_t>& rows) const;

  // The live records (table order) whose field `field` holds the number `value`: true with
  // them in `records` when `field` is the held number field, false otherwise. A record whose
  // field is blank or no number never matches. Requires: `value` is no NaN.
  bool FindNumber(int field, double value, std::vector<uint32_t>& records) const;

  uint32_t LiveCount() const { return live_count_; }

 private:
  struct Slot {
    int field = -1;
    const uint32_t* starts = nullptr;
    const char* text = nullptr;
    uint64_t text_size = 0;
    // The folded text of live record `ordinal`; empty where the file is inconsistent.
    std::string_view Text(uint32_t ordinal) const;
  };

  SearchIndex() = default;
  bool Load(const DbfFile& file);
  // The live records holding every pair of `pairs` (sorted), tested by `where`; false when
  // the lists are inconsistent.
  bool Candidates(const std::vector<uint32_t>& pairs, const SqlCondition& where,
                  std::vector<uint32_t>& hits) const;
  bool HoldsFor(const SqlCondition* where, uint32_t ordinal) const;

  const char* data_ = nullptr;  // the mapped file
  size_t size_ = 0;
  uint32_t live_count_ = 0;
  uint32_t sort_slot_ = 0;      // kNoSlot when there is no sort field
  const uint32_t* records_ = nullptr;  // record number of each live record, in table order
  const uint32_t* order_ = nullptr;    // live records in sort order (stable)
  const uint32_t* rank_ = nullptr;     // position of each live record in order_
  std::vector<Slot> slots_;
  const IndexPosting* postings_ = nullptr;  // by pair
  uint64_t posting_count_ = 0;
  const unsigned char* posting_bytes_ = nullptr;
  uint64_t posting_size_ = 0;
  int number_field_ = -1;          // the number field; -1 when not held
  const char* numbers_ = nullptr;  // IndexNumberEntry by (value, record)
  uint64_t number_count_ = 0;
};

}  // namespace shelfra
