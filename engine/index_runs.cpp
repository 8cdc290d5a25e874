// PairRuns: sorting a run by pair, spilling it to the side file, and merging the runs back
// through a buffered reader of the side file.
#include "engine/index_runs.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "engine/index_format.h"
#include "engine/index_writer.h"

namespace shelfra {

namespace {

// Sorts `entries` (pair << 32 | ordinal, in ordinal order) by pair, keeping the ordinal order
// of equal pairs: two stable counting passes over the pair's 16-bit halves.
void SortByPair(std::vector<uint64_t>& entries, std::vector<uint64_t>& scratch) {
  scratch.resize(entries.size());
  std::vector<uint32_t> counts(65537);
  for (int shift : {32, 48}) {
    std::fill(counts.begin(), counts.end(), 0);
    for (uint64_t e : entries) ++counts[((e >> shift) & 0xFFFF) + 1];
    for (size_t k = 1; k < counts.size(); ++k) counts[k] += counts[k - 1];
    for (uint64_t e : entries) scratch[counts[(e >> shift) & 0xFFFF]++] = e;
    entries.swap(scratch);
  }
}

// Reads a part of a file front to back through a buffer.
class Reader {
 public:
  Reader(int fd, uint64_t offset, uint64_t size) : fd_(fd), offset_(offset), left_(size) {}
  // Fills `out` with `size` bytes; false at the end or on a failed read.
  bool Read(void* out, size_t size) {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
      if (pos_ == buffer_.size() && (left_ == 0 || !Refill())) return false;
      const size_t take = std::min(size, buffer_.size() - pos_);
      std::memcpy(p, buffer_.data() + pos_, take);
      pos_ += take;
      p += take;
      size -= take;
    }
    return true;
  }

 private:
  bool Refill() {
    buffer_.resize(static_cast<size_t>(std::min<uint64_t>(left_, 1 << 18)));
    size_t got = 0;
    while (got < buffer_.size()) {
      ssize_t n = ::pread(fd_, buffer_.data() + got, buffer_.size() - got, static_cast<off_t>(offset_ + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    offset_ += got;
    left_ -= got;
    pos_ = 0;
    return true;
  }
  int fd_;
  uint64_t offset_;
  uint64_t left_;
  std::string buffer_;
  size_t pos_ = 0;
};

// The pair at the head of one run while merging, with its record list.
struct RunCursor {
  explicit RunCursor(Reader r) : reader(r) {}
  Reader reader;
  uint32_t pair = 0;
  uint32_t count = 0;
  std::string list;
  bool done = false;
  // Moves to the run's next pair; false when its bytes cannot be read whole.
  bool Next() {
    uint32_t head[3];
    if (!reader.Read(head, sizeof head)) {
      done = true;  // the run's end
      return true;
    }
    pair = head[0];
    count = head[1];
    list.resize(head[2]);
    return reader.Read(list.data(), list.size());
  }
};

IndexStatus ReadBackFailed() {
  return IndexStatus::Failed(IndexReason::kReadBackFailed, "cannot read the side file back");
}

}  // namespace

PairRuns::PairRuns(int fd, size_t run_entries) : fd_(fd), run_entries_(run_entries) {
  entries_.reserve(std::min<size_t>(run_entries_, kIndexRunEntries) + 4096);
}

IndexStatus PairRuns::Spill() {
  if (entries_.empty()) return {};
  SortByPair(entries_, scratch_);
  Run run{side_size_, 0};
  std::string out;
  auto flush = [&] {
    const int err = WriteAt(fd_, out, side_size_);
    side_size_ += out.size();
    out.clear();
    return err;
  };
  std::string list;
  for (size_t i = 0; i < entries_.size();) {
    const uint32_t pair = static_cast<uint32_t>(entries_[i] >> 32);
    uint32_t count = 0;
    uint32_t previous = 0;
    list.clear();
    for (; i < entries_.size() && static_cast<uint32_t>(entries_[i] >> 32) == pair; ++i, ++count) {
      const uint32_t o = static_cast<uint32_t>(entries_[i]);
      AppendVarint(count == 0 ? o : o - previous, list);
      previous = o;
    }
    const uint32_t head[3] = {pair, count, static_cast<uint32_t>(list.size())};
    out.append(reinterpret_cast<const char*>(head), sizeof head);
    out += list;
    int err = out.size() >= (size_t{1} << 20) ? flush() : 0;
    if (err == 0 && i == entries_.size()) err = flush();
    if (err != 0) return IndexStatus::Refused(IndexReason::kWriteFailed, "cannot write the side file", err);
  }
  run.size = side_size_ - run.offset;
  runs_.push_back(run);
  entries_.clear();
  return {};
}

IndexStatus PairRuns::Finish() {
  IndexStatus spilled = Spill();
  std::vector<uint64_t>().swap(entries_);
  std::vector<uint64_t>().swap(scratch_);
  return spilled;
}

IndexStatus PairRuns::Merge(const ListVisit& visit) const {
  std::vector<RunCursor> cursors;
  cursors.reserve(runs_.size());
  for (const Run& run : runs_) {
    cursors.emplace_back(Reader(fd_, run.offset, run.size));
    if (!cursors.back().Next()) return ReadBackFailed();
  }
  std::string list;
  for (;;) {
    uint32_t pair = UINT32_MAX;
    bool any = false;
    for (const RunCursor& c : cursors) {
      if (!c.done && (!any || c.pair < pair)) {
        pair = c.pair;
        any = true;
      }
    }
    if (!any) return {};
    // Later runs hold later records, so the lists follow one another; each run's first
    // record is written again as a difference from the last one before it.
    uint32_t count = 0;
    uint32_t last = 0;
    list.clear();
    for (RunCursor& c : cursors) {
      if (c.done || c.pair != pair) continue;
      const auto* bytes = reinterpret_cast<const unsigned char*>(c.list.data());
      uint32_t read = 0;
      for (PostingCursor p(bytes, bytes + c.list.size(), c.count); !p.Done(); p.Advance(), ++read, ++count) {
        AppendVarint(count == 0 ? p.Value() : p.Value() - last, list);
        last = p.Value();
      }
      if (read != c.count || !c.Next()) return ReadBackFailed();
    }
    visit(pair, count, list);
  }
}

}  // namespace shelfra
