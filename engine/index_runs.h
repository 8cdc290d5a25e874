// PairRuns: the (character pair, record) entries of an index build, sorted in runs of bounded
// size spilled to a side file, and merged back into one record list per pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "engine/index_format.h"
#include "engine/index_status.h"

namespace shelfra {

// Collects entries in record order, spills each full run to the side file sorted by pair (a
// run: per pair, its pair, count and byte length as three uint32, then its records
// delta-coded), and merges the runs at the end. Memory stays bounded by the run size
// whatever the table's size.
class PairRuns {
 public:
  // Spills to the side file `fd` (open for reading and writing, empty; not owned) a run of
  // about `run_entries` entries at a time. Requires: run_entries > 0.
  PairRuns(int fd, size_t run_entries);

  // Adds that live record `ordinal` holds `pair`. Requires: ordinals never go down.
  void Add(uint32_t pair, uint32_t ordinal) { entries_.push_back(uint64_t{pair} << 32 | ordinal); }
  // Spills the entries as a run once they reach the run size (called after each record, so a
  // record's entries share a run); kWriteFailed when the side file cannot be written.
  IndexStatus SpillWhenFull() { return entries_.size() >= run_entries_ ? Spill() : IndexStatus{}; }
  // Spills what is left and gives back the run buffers (the merge and the writing after it
  // need that memory); after it, only Merge.
  IndexStatus Finish();
  size_t RunCount() const { return runs_.size(); }

  // Calls `visit` for each pair held, in ascending order, with the number of its records and
  // their ordinals delta-coded in LEB128 (the first as it is), as the index file keeps them.
  // kReadBackFailed when the side file cannot be read back whole.
  using ListVisit = std::function<void(uint32_t pair, uint32_t count, std::string_view list)>;
  IndexStatus Merge(const ListVisit& visit) const;

 private:
  struct Run {
    uint64_t offset = 0;  // in the side file
    uint64_t size = 0;
  };
  IndexStatus Spill();

  int fd_;
  size_t run_entries_;
  uint64_t side_size_ = 0;
  std::vector<uint64_t> entries_;  // pair << 32 | ordinal
  std::vector<uint64_t> scratch_;
  std::vector<Run> runs_;
};

}  // namespace shelfra
