// The pass over the table of an index build (SearchIndex::Build): which fields the index holds,
// and one pass that writes each live record's folded texts into the index file and its shown
// row into a side file, and collects its record number, sort key, grouped bytes, number, key
// and character pairs (into PairRuns).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index_format.h"
#include "engine/index_runs.h"
#include "engine/index_status.h"
#include "engine/index_writer.h"
#include "engine/search_index.h"

namespace shelfra {

class DbfFile;

namespace index_build {

// What the pass over the table collects besides the texts, which go straight into the file.
struct Collected {
  std::vector<uint32_t> fields;      // table field of each slot
  uint32_t sort_slot = kNoSlot;
  int number_field = -1;
  std::vector<uint32_t> records;     // record number of each live record
  std::vector<std::vector<uint32_t>> spans;  // per slot: start and end of each live record's text
  std::vector<std::string> compact;  // per slot: the texts of a compact slot (else empty)
  std::vector<bool> is_compact;
  std::vector<uint32_t> shown;       // table field of each shown field
  std::vector<uint32_t> rows;        // start and end of each live record's shown row, in the rows file
  std::vector<IndexNumberEntry> numbers;
  std::string keys;                  // sort keys of the sort slot, one after the other
  std::vector<uint64_t> key_starts;
  uint32_t group_slot = kNoSlot;
  std::string group_texts;           // folded texts of the grouped slot, one after the other
  std::vector<uint32_t> group_starts;
  std::vector<uint8_t> group_bytes;  // first byte of the grouped field's value per live record
  int keyed_field = -1;
  std::function<std::string(std::string_view)> key_of;
  std::vector<IndexKeyEntry> key_entries;  // the keyed field's keys, by live record
  std::vector<SearchIndexFields::Order> orders;  // the other orders asked for
  std::vector<std::string> order_keys;           // per order: its keys, one after the other
  std::vector<std::vector<uint32_t>> order_starts;  // per order: where each live record's key starts
  std::vector<bool> order_dropped;               // per order: a record had no key, or too many bytes
};

// The slots of the held fields the table has as character fields, the number field, the
// grouped and the keyed field.
void ChooseFields(const DbfFile& file, const SearchIndexFields& wanted, Collected& c);

// The pass over the table, then the runs' last entries spilled and the rows' side file
// flushed; the texts go to `w` (counted from `text_start`).
IndexStatus CollectRecords(const DbfFile& file, Collected& c, IndexWriter& w, uint64_t text_start, PairRuns& runs,
                           SideFile& rows);

// The build's failures that name what grew too large, and a table that changed while read.
IndexStatus TooLarge(const char* what);
IndexStatus TableChanged();

}  // namespace index_build
}  // namespace shelfra
