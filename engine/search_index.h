// SearchIndex: a side file of one table holding what the search statements need - the folded
// text of the searched fields, the sort order of one of them, the record positions, the
// registration numbers and, per pair of folded characters, the records holding it - so a
// search reads a small part of the table's bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index_format.h"
#include "engine/index_status.h"
#include "engine/mapped_file.h"
#include "engine/status.h"

namespace shelfra {

class DbfFile;
class SqlCondition;
struct SqlSortField;

// What an index holds, named by its caller: character fields whose folded texts it keeps (in
// this order; fields the table lacks, or has with another type, are left out), the field of
// them whose sort order it keeps, a number field whose values it keeps for seeks, and the
// fields of any type whose bytes it keeps for showing (the shown rows: a result list of these
// fields is written without reading the table), and a text field of them by which answers are
// grouped: the index keeps the records in the order of its folded text (so a test of it
// against a leading text, LIKE "9%", is a range of them) and the first byte of each record's
// value (so an answer is counted by it without reading its rows).
struct SearchIndexFields {
  std::vector<std::string> texts;
  std::string sort;
  std::string number;
  std::vector<std::string> shown;
  std::string grouped;
  // A field of any type whose records the index also keeps by a key made of its text by
  // `key_of` (empty, or longer than kMaxIndexKeyLength bytes: no key), so the records of a
  // key are found without a scan (the ISBN, by the one form of its two). `key_rule` names the
  // rule `key_of` follows; an index made by another rule is not asked.
  std::string keyed;
  std::string key_rule;
  std::function<std::string(std::string_view text)> key_of;
  // Orders besides the sort field's (at most kMaxIndexOrders), each named (with the rule of its
  // keys in the name) and each record's key made by `key` from the table's record (bytes
  // compared as unsigned; equal keys keep the sort field's order). A key function that gives
  // nothing for a record leaves its order out of the index.
  struct Order {
    std::string name;
    std::function<std::optional<std::string>(const DbfFile& file, std::string_view record)> key;
  };
  std::vector<Order> orders;
};

// An open index is mapped read-only under the guard against files that shrink (MappedFile).
// Opening checks that the index was made from the very file the table is now: its path,
// device, inode, size, modification and change times and header bytes all agree; a stale,
// unreadable, foreign or malformed index is not opened. Every part of the file a request
// reads is checked against the CRC-32C of its block before it is trusted; a block that does
// not match (or a page of the file that went away) makes the index damaged: the question is
// left to the scan, and Status() tells the caller to have the index made again. Where the
// index cannot help, the caller scans the table.
class SearchIndex {
 public:
  // The index path of `file` in `directory`: "<directory>/<16 hex digits>.idx", the digits
  // a hash of the table's full path.
  static std::string PathFor(const DbfFile& file, const std::string& directory);

  // Opens the index at `path` into `out` when it matches `file` as it is now. Otherwise
  // `out` is left alone and the status says why the file there cannot serve: kMissing,
  // kUnreadable (with the errno), kOtherVersion, kMalformed, kStale, kOtherTable,
  // kOtherFields or kDamaged, its message the words the log shows ("missing", "stale (the
  // table was replaced or changed since)", ...).
  static IndexStatus Open(const DbfFile& file, const std::string& path, std::unique_ptr<SearchIndex>& out);

  // Writes the index of `file` holding `fields` to `path`: first to a temporary file in the
  // same directory, which is then renamed into place, so a reader sees the old file or the
  // whole new one. Ok when it was written; otherwise the reason (kNoFields, kTooLarge,
  // kTableChanged when the table changed while it was read, kCreateFailed, kWriteFailed,
  // kReadBackFailed, kRenameFailed) and nothing is left behind. The character pairs are
  // sorted `run_entries` at a time (a test's small runs exercise the merge). Raises
  // std::bad_alloc when memory runs out (the temporary files are removed).
  static IndexStatus Build(const DbfFile& file, const SearchIndexFields& fields, const std::string& path,
                           size_t run_entries = kIndexRunEntries);

  ~SearchIndex();
  SearchIndex(const SearchIndex&) = delete;
  SearchIndex& operator=(const SearchIndex&) = delete;

  // Answers a statement over `file` (the table this index was opened for) whose condition is
  // `where` (nullptr for none) and whose ORDER BY is `sort`: true with the record numbers in
  // `rows` - the same records in the same order as a scan gives - when the statement needs
  // nothing but the held texts (a condition of AND, OR, NOT and LIKE tests of held fields,
  // ORDER BY the sort field ascending or no ORDER BY); false, with `rows` untouched,
  // otherwise. The records tested are those holding the character pairs the condition
  // requires; without any, those of the grouped field's range when the condition requires a
  // leading text of it (LIKE "9%"), else every live record.
  // With `ordinals`, also the live record ordinals of the same rows (for ShownRecord).
  bool Run(const DbfFile& file, const SqlCondition* where, const std::vector<SqlSortField>& sort,
           std::vector<uint32_t>& rows, std::vector<uint32_t>* ordinals = nullptr) const;

  // How many of the live records `ordinals` hold each byte first in field `field` (a table
  // position; an empty or null value counts under 0): true with the counts in `counts` when
  // `field` is the grouped field, false otherwise or when damaged.
  bool CountLeadingBytes(int field, const std::vector<uint32_t>& ordinals, std::array<uint32_t, 256>& counts) const;

  // True when the shown rows keep field `field` (a table position).
  bool Shows(int field) const {
    return field >= 0 && static_cast<size_t>(field) < shows_.size() && shows_[static_cast<size_t>(field)];
  }
  // The shown fields of live record `ordinal` as DbfFile::DecodeValue takes them: in
  // `by_field`, at each shown field's table position, its bytes (a character field's without
  // its trailing blanks), and the record's null flags in `null_flags` (empty when the table has
  // none); the views point into the index and live as long as it does. `file` is the table
  // this index was opened for; `by_field` must have a place for each of its fields. False when
  // the row's bytes are damaged. Requires: ordinal < LiveCount().
  bool ShownRow(const DbfFile& file, uint32_t ordinal, std::vector<std::string_view>& by_field,
                std::string_view& null_flags) const;
  // A hint that ShownRow(ordinal) is asked soon, so that its memory is on the way by then (an
  // answer's rows lie anywhere in the file, and waiting for each in turn is most of the time a
  // long list takes): the row's place in the span array, and with `row_too` the row's bytes,
  // which are found through that place (so the place is best hinted some rows earlier).
  // Reads nothing it trusts and changes nothing; an ordinal past the live records is ignored.
  void PrefetchShownRow(uint32_t ordinal, bool row_too) const;

  // The live records (table order) whose field `field` holds the number `value`: true with
  // them in `records` when `field` is the held number field, false otherwise. A record whose
  // field is blank or no number never matches. Requires: `value` is no NaN.
  bool FindNumber(int field, double value, std::vector<uint32_t>& records) const;

  // The live records (record numbers, table order) whose field `field` has the key `key`
  // under the rule `rule`: true with them in `records` when `field` is the keyed field and its
  // keys were made by `rule`, false otherwise or when damaged.
  bool FindKey(int field, std::string_view rule, std::string_view key, std::vector<uint32_t>& records) const;

  // The places (0 for the first) of the live records `ordinals`, listed in the sort field's
  // order, put in the order named `name`: true with them in `places` when the index keeps
  // that order, false otherwise or when damaged. Requires: each ordinal once.
  bool Reorder(std::string_view name, const std::vector<uint32_t>& ordinals, std::vector<uint32_t>& places) const;

  // The record numbers of the live records at places [first, first + count) of the order named
  // `name` (all live records in it): true with them in `records` (fewer, or none, past its end),
  // false when the index does not keep that order or is damaged.
  bool OrderWindow(std::string_view name, uint32_t first, uint32_t count, std::vector<uint32_t>& records) const;

  uint32_t LiveCount() const { return live_count_; }
  const std::string& Path() const { return file_->Path(); }
  const FileIdentity& Identity() const { return file_->Identity(); }
  // Path() still names this very index file, unchanged (MappedFile::StillAt).
  bool StillAt() const { return file_->StillAt(); }
  // Ok while the index is sound; kDamaged once a block failed its check or a page of the
  // file went away since it was opened: no answer of this index is to be trusted any more.
  IndexStatus Status() const;

 private:
  struct Slot {
    int field = -1;
    uint64_t starts_offset = 0;
    uint64_t text_offset = 0;
    uint64_t text_size = 0;
  };

  SearchIndex() = default;
  // Checks the header against `file` and takes the sections' places from it; the reason it
  // cannot serve when it cannot.
  IndexStatus Load(const DbfFile& file);
  // Load's checks of the header alone (`h`, its CRC field zero; `header_crc` the stored
  // value): the version, its CRC and the table's identity.
  IndexStatus CheckHeader(const IndexFileHeader& h, uint32_t header_crc, const DbfFile& file) const;
  // Load's checks of the sections: each lies inside the file, the slots and the shown fields
  // are the table's.
  IndexStatus LoadSections(const IndexFileHeader& h, const DbfFile& file);
  IndexStatus LoadSlots(const IndexFileHeader& h, const DbfFile& file);
  IndexStatus LoadShown(const IndexFileHeader& h, const DbfFile& file);
  // True when [offset, offset + size) lies inside the sections, 4-aligned.
  bool InSections(uint64_t offset, uint64_t size) const;
  // Bytes [offset, offset + size) of the file, each block of them checked against its CRC-32C
  // the first time it is read; nullptr (and kDamaged from then on) when one does not match
  // or the range does not lie in the sections.
  const char* Bytes(uint64_t offset, uint64_t size) const;
  uint64_t BlockStart(uint64_t block) const;
  uint64_t BlockEnd(uint64_t block) const;
  // Blocks [first, last] checked (each once); false, and damaged, when one is not sound.
  bool Verified(uint64_t first, uint64_t last) const;
  // The start and end (two uint32) of live record `ordinal` in the span array at `offset`;
  // false when damaged.
  bool Span(uint64_t offset, uint32_t ordinal, uint32_t& start, uint32_t& end) const;
  // The folded text of live record `ordinal` in `slot`; false when its bytes are damaged.
  bool SlotText(const Slot& slot, uint32_t ordinal, std::string_view& text) const;
  // The value of type T at entry `index` of the array at `offset`; false when damaged.
  template <class T>
  bool Entry(uint64_t offset, uint64_t index, T& value) const;
  // The first of the `count` entries T of the array at `offset` for which `below(entry)` is
  // false, or `count`, in `at` (the entries are ordered so that `below` holds for a prefix);
  // false when damaged.
  template <class T, class Below>
  bool FirstNotBelow(uint64_t offset, uint64_t count, Below below, uint64_t& at) const;
  // The live records holding every pair of `pairs` (sorted), tested by `where`; false when
  // the lists are inconsistent.
  bool Candidates(const std::vector<uint32_t>& pairs, const SqlCondition& where,
                  std::vector<uint32_t>& hits) const;
  bool HoldsFor(const SqlCondition* where, uint32_t ordinal) const;
  // The live records passing `where` found through the grouped field's order, when `where`
  // requires that field to begin with a text: true with them in `hits` (in no particular
  // order); false when it does not (or when damaged: then Status says so).
  bool GroupHits(const SqlCondition& where, std::vector<uint32_t>& hits) const;
  // `hits` put in sort order (by_rank) or table order.
  bool Ordered(std::vector<uint32_t>& hits, bool by_rank) const;
  // The first record of the grouped order whose folded text is not below `key`: with
  // `past_prefix`, not below nor beginning with it either.
  bool GroupBound(std::string_view key, bool past_prefix, uint64_t& at) const;

  std::unique_ptr<MappedFile> file_;
  const char* data_ = nullptr;  // the mapped file's bytes
  size_t size_ = 0;
  uint64_t crc_offset_ = 0;            // the CRC table: one uint32 per block
  // A bit per block, checked and sound; in bitmaps made only for the parts of the file read.
  mutable std::vector<std::vector<uint64_t>> verified_;
  mutable bool damaged_ = false;
  uint32_t live_count_ = 0;
  uint32_t sort_slot_ = 0;      // kNoSlot when there is no sort field
  uint64_t records_offset_ = 0;  // uint32 record number of each live record, in table order
  uint64_t order_offset_ = 0;    // uint32 live records in sort order (stable)
  uint64_t rank_offset_ = 0;     // uint32 position of each live record in the sort order
  uint32_t group_slot_ = kNoSlot;     // slot of the grouped field
  uint64_t group_order_offset_ = 0;   // uint32 live records by its folded text (stable)
  uint64_t group_bytes_offset_ = 0;   // uint8 first byte of its value per live record
  int keyed_field_ = -1;             // the keyed field; -1 when none
  std::string key_rule_;
  uint64_t keys_offset_ = 0;         // IndexKeyEntry by (key, ordinal)
  uint64_t key_count_ = 0;
  struct KeptOrder {
    std::string name;
    uint64_t order_offset = 0;
    uint64_t rank_offset = 0;
  };
  std::vector<KeptOrder> orders_;
  // The kept order named `name`; nullptr when there is none.
  const KeptOrder* OrderNamed(std::string_view name) const;
  std::vector<Slot> slots_;
  uint64_t postings_offset_ = 0;  // IndexPosting by pair
  uint64_t posting_count_ = 0;
  uint64_t posting_bytes_offset_ = 0;
  uint64_t posting_size_ = 0;
  int number_field_ = -1;         // the number field; -1 when not held
  uint64_t numbers_offset_ = 0;   // IndexNumberEntry by (value, record)
  uint64_t number_count_ = 0;
  std::vector<int> shown_;        // the shown fields, in row order
  // What ShownRow checks of each shown field's bytes, in row order: a character field's at
  // most `length` bytes, any other's exactly `length` (the table's field definitions, copied
  // so that reading a row touches nothing else).
  struct ShownShape {
    size_t field;
    size_t length;
    bool character;
  };
  std::vector<ShownShape> shown_shapes_;
  std::vector<bool> shows_;       // by table position: kept in the shown rows
  uint64_t rows_offset_ = 0;      // uint32 start and end of each live record's row
  uint64_t row_text_offset_ = 0;  // where the rows' offsets count from
  uint64_t row_text_size_ = 0;
};

template <class T>
inline bool SearchIndex::Entry(uint64_t offset, uint64_t index, T& value) const {
  const char* p = Bytes(offset + index * sizeof value, sizeof value);
  if (p == nullptr) return false;
  std::memcpy(&value, p, sizeof value);
  return true;
}

template <class T, class Below>
inline bool SearchIndex::FirstNotBelow(uint64_t offset, uint64_t count, Below below, uint64_t& at) const {
  uint64_t low = 0, high = count;
  while (low < high) {
    const uint64_t mid = low + (high - low) / 2;
    T entry{};
    if (!Entry(offset, mid, entry)) return false;
    if (below(entry)) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  at = low;
  return true;
}

}  // namespace shelfra
