// SearchIndex: a side file of one table holding what the search statements need - the folded
// text of the searched fields, the reading order of the title reading, the record positions and,
// per pair of folded characters, the records holding it - so a search reads a small part of
// the table's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace shelfra {

class DbfFile;
struct SqlSelect;

// It also holds the registration numbers in order, so a seek by number finds its records
// without reading the table. An open index is mapped read-only. Opening checks that the index was made from the table as it
// is now (its size, modification time, header bytes and path); a stale, unreadable, foreign or
// malformed index is not opened. Nothing here raises: where the index cannot help, the caller
// scans the table.
class SearchIndex {
 public:
  static constexpr uint32_t kVersion = 2;

  // The index path of `file` in `directory`: "<directory>/<16 hex digits>.idx", the digits
  // a hash of the table's full path.
  static std::string PathFor(const DbfFile& file, const std::string& directory);

  // The index at `path` when it matches `file` as it is now; nullptr otherwise.
  static std::unique_ptr<SearchIndex> Open(const DbfFile& file, const std::string& path);

  // Writes the index of `file` to `path`: first to a temporary file in the same directory,
  // which is then renamed into place, so a reader sees the old file or the whole new one.
  // False when the table has none of the indexed fields (nor a registration number) or the
  // file cannot be written.
  static bool Build(const DbfFile& file, const std::string& path);

  // Open, else Build and Open: the index of `file` in `directory`, made when it is missing
  // or stale; nullptr when it cannot be made.
  static std::unique_ptr<SearchIndex> OpenOrBuild(const DbfFile& file, const std::string& directory);

  ~SearchIndex();
  SearchIndex(const SearchIndex&) = delete;
  SearchIndex& operator=(const SearchIndex&) = delete;

  // Answers `select` over `file` (the table this index was opened for): true with the record
  // numbers in `rows` - the same records in the same order as a scan gives - when the statement
  // needs nothing but the indexed fields (conditions of AND, OR, NOT and LIKE on them, ORDER BY
  // the title reading ascending or no ORDER BY); false, with `rows` untouched, otherwise.
  // Requires: the statement was bound against `file` without error.
  bool Run(const DbfFile& file, const SqlSelect& select, std::vector<uint32_t>& rows) const;

  // The live records (table order) whose field `field` holds the number `value`: true with
  // them in `records` when `field` is the indexed registration number, false otherwise. A
  // record whose field is blank or no number never matches. Requires: `value` is no NaN.
  bool FindNumber(int field, double value, std::vector<uint32_t>& records) const;

  uint32_t LiveCount() const { return live_count_; }

 private:
  struct Slot;
  struct Posting;
  class Query;

  SearchIndex() = default;
  bool Load(const DbfFile& file);

  const char* data_ = nullptr;  // the mapped file
  size_t size_ = 0;
  uint32_t live_count_ = 0;
  uint32_t sort_slot_ = 0;      // kNoSlot when the table has no title reading
  const uint32_t* records_ = nullptr;  // record number of each live record, in table order
  const uint32_t* order_ = nullptr;    // live records in reading order (stable)
  const uint32_t* rank_ = nullptr;     // position of each live record in order_
  std::vector<Slot> slots_;
  const Posting* postings_ = nullptr;  // sorted by pair
  uint64_t posting_count_ = 0;
  const unsigned char* posting_bytes_ = nullptr;
  uint64_t posting_size_ = 0;
  int number_field_ = -1;          // the registration number's field; -1 when not held
  const char* numbers_ = nullptr;  // NumberEntry by (value, record)
  uint64_t number_count_ = 0;
};

}  // namespace shelfra
