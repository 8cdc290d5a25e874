// SearchIndex::Build: one pass over the table writes the folded texts straight into the file
// (those of short fields are gathered and written after the others), the shown rows into a
// side file copied in after them, and collects the record numbers, sort keys, numbers and
// character pairs; the pairs are sorted in bounded runs spilled to another side file and
// merged into the record lists at the end, so memory stays bounded whatever the table's size.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

#include "engine/collation.h"
#include "engine/crc32c.h"
#include "engine/dbf_file.h"
#include "engine/index_format.h"
#include "engine/search_index.h"
#include "engine/sql_condition.h"

namespace shelfra {

namespace {

// (pair, record) entries sorted at a time before they are spilled as a run: 8 bytes each,
// twice over while sorting, so 64 MB.
constexpr size_t kRunEntries = size_t{1} << 22;

// Slots of fields this short keep their texts together, after the others, so that a search
// testing only them (the class code) reads and checks a few pages rather than every record's
// texts. They are collected in memory: a few bytes a record.
constexpr int kCompactSlotLength = 32;

// Writes all of `bytes` to `fd` at `offset`; 0, or the errno value of the failure.
int WriteAt(int fd, std::string_view bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Buffered appending to a side file of the build; the first failure is kept.
class SideFile {
 public:
  explicit SideFile(int fd) : fd_(fd) {}
  uint64_t Size() const { return size_ + buffer_.size(); }
  int Error() const { return error_; }
  void Append(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= (1u << 20)) Flush();
  }
  void Flush() {
    if (error_ == 0) error_ = WriteAt(fd_, buffer_, size_);
    size_ += buffer_.size();
    buffer_.clear();
  }

 private:
  int fd_;
  uint64_t size_ = 0;
  std::string buffer_;
  int error_ = 0;
};

// Buffered writing of the index file, tracking the offset, the first failure and the CRC of
// every block of the sections.
class Writer {
 public:
  explicit Writer(int fd) : fd_(fd) {}
  uint64_t Offset() const { return offset_ + buffer_.size(); }
  bool Ok() const { return error_ == 0; }
  int Error() const { return error_; }  // errno of the first failed write; 0 when none
  void Append(const void* data, size_t size) {
    Checksum(static_cast<const char*>(data), size);
    buffer_.append(static_cast<const char*>(data), size);
    if (buffer_.size() >= (1u << 20)) Flush();
  }
  // The CRCs of the blocks so far, the last (partial) block included. Call once, at the end
  // of the sections.
  std::vector<uint32_t> BlockCrcs() {
    if (block_fill_ > 0) crcs_.push_back(block_crc_);
    block_fill_ = 0;
    return std::move(crcs_);
  }
  template <class T>
  void AppendVector(const std::vector<T>& v) { Append(v.data(), v.size() * sizeof(T)); }
  void Pad() {
    static const char kZeros[8] = {};
    Append(kZeros, (8 - Offset() % 8) % 8);
  }
  // Appends a section and pads after it; its offset.
  template <class T>
  uint64_t Section(const std::vector<T>& v) {
    const uint64_t at = Offset();
    AppendVector(v);
    Pad();
    return at;
  }
  void Flush() {
    if (error_ == 0) error_ = WriteAt(fd_, buffer_, offset_);
    offset_ += buffer_.size();
    buffer_.clear();
  }

 private:
  // Adds bytes about to be appended to the CRC of their blocks; the header is not in a block.
  void Checksum(const char* p, size_t n) {
    const uint64_t at = Offset();
    if (at < kIndexSectionsStart) {
      const size_t skip = static_cast<size_t>(std::min<uint64_t>(n, kIndexSectionsStart - at));
      p += skip;
      n -= skip;
    }
    while (n > 0) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(n, kIndexBlockSize - block_fill_));
      block_crc_ = Crc32c(p, take, block_crc_);
      block_fill_ += take;
      p += take;
      n -= take;
      if (block_fill_ == kIndexBlockSize) {
        crcs_.push_back(block_crc_);
        block_crc_ = 0;
        block_fill_ = 0;
      }
    }
  }

  int fd_;
  uint64_t offset_ = 0;
  std::string buffer_;
  int error_ = 0;
  std::vector<uint32_t> crcs_;
  uint32_t block_crc_ = 0;
  uint64_t block_fill_ = 0;
};

// The temporary file a build writes; removed unless kept.
struct Temporary {
  std::string path;
  int fd = -1;
  bool kept = false;
  ~Temporary() {
    if (fd >= 0) ::close(fd);
    if (!kept) ::unlink(path.c_str());
  }
};

// Reads a file front to back through a buffer.
class Reader {
 public:
  Reader(int fd, uint64_t offset, uint64_t size) : fd_(fd), offset_(offset), left_(size) {}
  bool Ok() const { return ok_; }
  // Fills `out` with `size` bytes; false at the end or on a failed read.
  bool Read(void* out, size_t size) {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
      if (pos_ == buffer_.size()) {
        if (left_ == 0 || !Refill()) return false;
      }
      const size_t take = std::min(size, buffer_.size() - pos_);
      std::memcpy(p, buffer_.data() + pos_, take);
      pos_ += take;
      p += take;
      size -= take;
    }
    return true;
  }
  // One LEB128 value.
  bool Varint(uint32_t& value) {
    value = 0;
    for (int shift = 0; shift <= 28; shift += 7) {
      unsigned char b;
      if (!Read(&b, 1)) return false;
      value |= static_cast<uint32_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return true;
    }
    return ok_ = false;
  }

 private:
  bool Refill() {
    buffer_.resize(static_cast<size_t>(std::min<uint64_t>(left_, 1 << 18)));
    size_t got = 0;
    while (got < buffer_.size()) {
      ssize_t n = ::pread(fd_, buffer_.data() + got, buffer_.size() - got, static_cast<off_t>(offset_ + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return ok_ = false;
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
  bool ok_ = true;
};

// One sorted run of (pair, record) entries in the side file: per pair, its pair, count and
// byte length, then its records delta-coded (the first one as it is).
struct Run {
  uint64_t offset = 0;
  uint64_t size = 0;
};

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

// Sorts and appends `entries` as one run to the side file `fd` at `offset`; clears them.
// Errno of a failed write, else 0.
int SpillRun(std::vector<uint64_t>& entries, std::vector<uint64_t>& scratch, int fd, uint64_t& offset,
             std::vector<Run>& runs) {
  if (entries.empty()) return 0;
  SortByPair(entries, scratch);
  std::string out;
  Run run{offset, 0};
  auto flush = [&] {
    if (int err = WriteAt(fd, out, offset); err != 0) return err;
    offset += out.size();
    out.clear();
    return 0;
  };
  std::string list;
  for (size_t i = 0; i < entries.size();) {
    const uint32_t pair = static_cast<uint32_t>(entries[i] >> 32);
    uint32_t count = 0;
    uint32_t previous = 0;
    list.clear();
    for (; i < entries.size() && static_cast<uint32_t>(entries[i] >> 32) == pair; ++i, ++count) {
      const uint32_t o = static_cast<uint32_t>(entries[i]);
      AppendVarint(count == 0 ? o : o - previous, list);
      previous = o;
    }
    const uint32_t head[3] = {pair, count, static_cast<uint32_t>(list.size())};
    out.append(reinterpret_cast<const char*>(head), sizeof head);
    out += list;
    if (out.size() >= (1u << 20)) {
      if (int err = flush(); err != 0) return err;
    }
  }
  if (int err = flush(); err != 0) return err;
  run.size = offset - run.offset;
  runs.push_back(run);
  entries.clear();
  return 0;
}

// The head of one run while merging.
struct RunCursor {
  Reader reader;
  uint32_t pair = 0, count = 0, length = 0;
  bool done = false;
  void Next() {
    uint32_t head[3];
    if (!reader.Read(head, sizeof head)) {
      done = true;
      return;
    }
    pair = head[0];
    count = head[1];
    length = head[2];
  }
};

// Merges the runs into the record list of each pair, written to `w`; the postings table
// (offsets from `base`) in `postings`. False when the side file could not be read back.
bool MergeRuns(int fd, const std::vector<Run>& runs, Writer& w, uint64_t base, std::vector<IndexPosting>& postings) {
  std::vector<RunCursor> cursors;
  cursors.reserve(runs.size());
  for (const Run& run : runs) {
    cursors.push_back(RunCursor{Reader(fd, run.offset, run.size)});
    cursors.back().Next();
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
    if (!any) break;
    // Later runs hold later records, so the lists follow one another; each run's first
    // record is written again as a difference from the last one before it.
    IndexPosting posting{pair, 0, w.Offset() - base};
    uint32_t last = 0;
    list.clear();
    for (RunCursor& c : cursors) {
      if (c.done || c.pair != pair) continue;
      uint32_t value = 0;
      for (uint32_t k = 0; k < c.count; ++k) {
        uint32_t delta;
        if (!c.reader.Varint(delta)) return false;
        value = k == 0 ? delta : value + delta;
        AppendVarint(posting.count == 0 ? value : value - last, list);
        last = value;
        ++posting.count;
      }
      c.Next();
      if (!c.reader.Ok()) return false;
    }
    w.Append(list.data(), list.size());
    postings.push_back(posting);
  }
  return true;
}

// The set of pairs one record holds, emptied for each record in constant time: a slot is in
// the set when its stamp is the current record's. Open addressing, kept at most half full.
class PairSet {
 public:
  PairSet() { Resize(12); }
  void Clear() {
    if (++stamp_ == 0) {  // the stamps wrapped around: forget them all
      std::fill(stamps_.begin(), stamps_.end(), 0);
      stamp_ = 1;
    }
    count_ = 0;
  }
  // True when `pair` was not in the set yet (it is now).
  bool Insert(uint32_t pair) {
    if (count_ * 2 >= pairs_.size()) Grow();
    const size_t mask = pairs_.size() - 1;
    size_t i = static_cast<size_t>((pair * 0x9E3779B1u) >> (32 - bits_));
    while (stamps_[i] == stamp_) {
      if (pairs_[i] == pair) return false;
      i = (i + 1) & mask;
    }
    stamps_[i] = stamp_;
    pairs_[i] = pair;
    ++count_;
    return true;
  }

 private:
  void Resize(int bits) {
    bits_ = bits;
    pairs_.assign(size_t{1} << bits, 0);
    stamps_.assign(size_t{1} << bits, 0);
    stamp_ = 1;
    count_ = 0;
  }
  // A record with more different pairs than the table holds: a table twice the size.
  void Grow() {
    std::vector<uint32_t> kept;
    for (size_t i = 0; i < pairs_.size(); ++i) {
      if (stamps_[i] == stamp_) kept.push_back(pairs_[i]);
    }
    Resize(bits_ + 1);
    for (uint32_t pair : kept) Insert(pair);
  }
  std::vector<uint32_t> pairs_;
  std::vector<uint32_t> stamps_;
  uint32_t stamp_ = 1;
  size_t count_ = 0;
  int bits_ = 0;
};

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
  std::vector<Run> runs;             // in the side file
};

// The slots of the held fields the table has as character fields, and the number field.
void ChooseFields(const DbfFile& file, const SearchIndexFields& wanted, Collected& c) {
  for (const std::string& name : wanted.texts) {
    const int field = file.FieldIndex(name);
    if (field < 0 || file.Fields()[static_cast<size_t>(field)].dbf_type != 'C') continue;
    if (std::find(c.fields.begin(), c.fields.end(), static_cast<uint32_t>(field)) != c.fields.end()) continue;
    if (SameFieldName(name, wanted.sort)) c.sort_slot = static_cast<uint32_t>(c.fields.size());
    c.fields.push_back(static_cast<uint32_t>(field));
  }
  c.number_field = wanted.number.empty() ? -1 : file.FieldIndex(wanted.number);
  if (c.number_field >= 0 &&
      CategoryOf(file.Fields()[static_cast<size_t>(c.number_field)].type) != ValueCategory::kNumber) {
    c.number_field = -1;
  }
  c.spans.resize(c.fields.size());
  c.compact.resize(c.fields.size());
  for (uint32_t field : c.fields) c.is_compact.push_back(file.Fields()[field].length <= kCompactSlotLength);
  for (const std::string& name : wanted.shown) {
    const int field = file.FieldIndex(name);
    if (field < 0 || c.shown.size() == kMaxShownFields) continue;
    if (std::find(c.shown.begin(), c.shown.end(), static_cast<uint32_t>(field)) != c.shown.end()) continue;
    c.shown.push_back(static_cast<uint32_t>(field));
  }
}

// Appends the shown row of `record`, laid out as the file's layout says.
void AppendShownRow(const DbfFile& file, const std::vector<uint32_t>& shown, std::string_view record,
                    std::string& row) {
  for (uint32_t field : shown) {
    const DbfField& f = file.Fields()[field];
    std::string_view bytes = record.substr(static_cast<size_t>(f.offset), static_cast<size_t>(f.length));
    if (f.dbf_type == 'C') {
      while (!bytes.empty() && bytes.back() == ' ') bytes.remove_suffix(1);
    }
    const unsigned char length[2] = {static_cast<unsigned char>(bytes.size() & 0xFF),
                                     static_cast<unsigned char>(bytes.size() >> 8)};
    row.append(reinterpret_cast<const char*>(length), 2);
    row.append(bytes);
  }
  if (file.NullFlagsOffset() >= 0) {
    row.append(record.substr(static_cast<size_t>(file.NullFlagsOffset()), static_cast<size_t>(file.NullFlagsLength())));
  }
}

// The pass over the table: each live record's folded texts appended to `w` (from `text_start`
// on), its sort key, number and character pairs collected, the pairs spilled in sorted runs to
// the side file `side`. `failure` says why the index cannot be made, when it cannot.
EngineStatus CollectRecords(const DbfFile& file, Collected& c, Writer& w, uint64_t text_start, int side,
                            SideFile& rows, std::string& failure) {
  const size_t slot_count = c.fields.size();
  const uint32_t length = file.RecordLength();
  std::vector<uint64_t> entries, scratch;
  entries.reserve(kRunEntries + 4096);
  PairSet pairs;
  std::string folded;
  std::string row;
  uint64_t side_offset = 0;
  EngineStatus scanned = file.ScanChunks([&](uint32_t first, uint32_t n, std::string_view chunk) {
    for (uint32_t i = 0; i < n; ++i) {
      std::string_view record = chunk.substr(static_cast<size_t>(i) * length, length);
      if (DbfFile::IsDeleted(record)) continue;
      const uint32_t ordinal = static_cast<uint32_t>(c.records.size());
      c.records.push_back(first + i);
      if (c.number_field >= 0) {
        // A not-a-number (a stored double) equals no number sought and has no place in the
        // sorted list.
        TFieldValue number = file.Decode(record, c.number_field);
        if (!number.is_null && !std::isnan(number.number)) {
          c.numbers.push_back(IndexNumberEntry{number.number, first + i, 0});
        }
      }
      pairs.Clear();
      for (size_t s = 0; s < slot_count; ++s) {
        std::string_view text = file.Decode(record, static_cast<int>(c.fields[s])).text;
        folded.clear();
        AppendFolded(text, folded);
        // A compact slot's spans count from the start of its own texts until they are written.
        const uint64_t start = c.is_compact[s] ? c.compact[s].size() : w.Offset() - text_start;
        if (start + folded.size() > UINT32_MAX) {
          failure = "the folded texts exceed 4 GB";
          return false;
        }
        if (c.is_compact[s]) {
          c.compact[s] += folded;
        } else {
          w.Append(folded.data(), folded.size());
        }
        c.spans[s].push_back(static_cast<uint32_t>(start));
        c.spans[s].push_back(static_cast<uint32_t>(start + folded.size()));
        ForEachPair(folded, [&](uint32_t pair) {
          if (pairs.Insert(pair)) entries.push_back(static_cast<uint64_t>(pair) << 32 | ordinal);
        });
        if (s == c.sort_slot) {
          c.key_starts.push_back(c.keys.size());
          AppendSortKey(text, c.keys);
        }
      }
      if (!c.shown.empty()) {
        row.clear();
        AppendShownRow(file, c.shown, record, row);
        const uint64_t start = rows.Size();
        if (start + row.size() > UINT32_MAX) {
          failure = "the shown rows exceed 4 GB";
          return false;
        }
        rows.Append(row);
        c.rows.push_back(static_cast<uint32_t>(start));
        c.rows.push_back(static_cast<uint32_t>(start + row.size()));
      }
      if (entries.size() >= kRunEntries) {
        if (int err = SpillRun(entries, scratch, side, side_offset, c.runs); err != 0) {
          failure = std::string("cannot write the side file: ") + std::strerror(err);
          return false;
        }
      }
    }
    return true;
  });
  if (!scanned.Ok() || !failure.empty()) return scanned;
  if (int err = SpillRun(entries, scratch, side, side_offset, c.runs); err != 0) {
    failure = std::string("cannot write the side file: ") + std::strerror(err);
  }
  rows.Flush();
  if (rows.Error() != 0) failure = std::string("cannot write the side file: ") + std::strerror(rows.Error());
  return {};
}

// The live records in sort order (a stable sort by the sort key, so equal keys keep table
// order) and each one's place in it.
void SortOrder(Collected& c, std::vector<uint32_t>& order, std::vector<uint32_t>& rank) {
  const uint32_t live = static_cast<uint32_t>(c.records.size());
  order.resize(live);
  std::iota(order.begin(), order.end(), 0u);
  if (c.sort_slot != kNoSlot) {
    c.key_starts.push_back(c.keys.size());
    auto key = [&](uint32_t o) {
      return std::string_view(c.keys).substr(c.key_starts[o], c.key_starts[o + 1] - c.key_starts[o]);
    };
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
  }
  std::string().swap(c.keys);
  std::vector<uint64_t>().swap(c.key_starts);
  rank.resize(live);
  for (uint32_t k = 0; k < live; ++k) rank[order[k]] = k;
}

// Appends the rows of the side file `fd` (`size` bytes; `spans` their start and end, by live
// record) to `w` in `order`, and makes `spans` tell where they are now. False when the side
// file cannot be read.
bool CopyRowsInOrder(int fd, uint64_t size, const std::vector<uint32_t>& order, std::vector<uint32_t>& spans,
                     Writer& w) {
  if (size == 0) return true;
  void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return false;
  const char* bytes = static_cast<const char*>(map);
  uint32_t at = 0;
  for (uint32_t o : order) {
    const uint32_t start = spans[2 * size_t{o}];
    const uint32_t length = spans[2 * size_t{o} + 1] - start;
    w.Append(bytes + start, length);
    spans[2 * size_t{o}] = at;
    spans[2 * size_t{o} + 1] = at + length;
    at += length;
  }
  ::munmap(map, static_cast<size_t>(size));
  return true;
}

std::string Because(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

// Writes the whole file to `fd` in one pass over the table; `failure` says why not.
EngineStatus WriteIndex(int fd, int side, int rows_fd, const DbfFile& file, Collected& c, std::string& failure) {
  IndexFileHeader h{};
  std::memcpy(h.magic, kIndexMagic, sizeof kIndexMagic);
  h.version = kIndexVersion;
  h.slot_count = static_cast<uint32_t>(c.fields.size());
  h.table_size = file.OpenedSize();
  h.table_mtime_ns = file.OpenedMtimeNs();
  h.header_hash = Fnv1a(file.HeaderBytes());
  h.header_length = static_cast<uint32_t>(file.HeaderBytes().size());
  h.record_count = file.RecordCount();
  h.record_length = file.RecordLength();
  h.sort_slot = c.sort_slot;
  const std::string full_path = file.ResolvedPath();
  h.path_length = static_cast<uint32_t>(full_path.size());
  h.number_field = c.number_field >= 0 ? static_cast<uint32_t>(c.number_field) : kNoSlot;
  const FileIdentity& identity = file.Identity();
  h.table_device = identity.device;
  h.table_inode = identity.inode;
  h.table_ctime_ns = identity.ctime_ns;

  Writer w(fd);
  w.Append(&h, sizeof h);
  w.Pad();
  h.path_offset = w.Offset();
  w.Append(full_path.data(), full_path.size());
  w.Pad();
  const uint64_t text_start = w.Offset();
  SideFile rows_file(rows_fd);
  if (EngineStatus s = CollectRecords(file, c, w, text_start, side, rows_file, failure); !s.Ok() || !failure.empty()) {
    return s;
  }
  // The compact slots' texts follow the others, each slot's together.
  for (size_t s = 0; s < c.fields.size(); ++s) {
    if (!c.is_compact[s]) continue;
    const uint64_t base = w.Offset() - text_start;
    if (base + c.compact[s].size() > UINT32_MAX) {
      failure = "the folded texts exceed 4 GB";
      return {};
    }
    w.Append(c.compact[s].data(), c.compact[s].size());
    for (uint32_t& at : c.spans[s]) at += static_cast<uint32_t>(base);
    std::string().swap(c.compact[s]);
  }
  const uint64_t text_size = w.Offset() - text_start;
  w.Pad();
  h.live_count = static_cast<uint32_t>(c.records.size());
  std::vector<uint32_t> order, rank;
  SortOrder(c, order, rank);
  // The shown rows, copied from their side file in sort order: a sorted answer reads them
  // front to back.
  h.row_text_offset = w.Offset();
  h.row_text_size = rows_file.Size();
  if (!CopyRowsInOrder(rows_fd, rows_file.Size(), order, c.rows, w)) {
    failure = "cannot read the side file back";
    return {};
  }
  w.Pad();
  h.records_offset = w.Section(c.records);
  h.order_offset = w.Section(order);
  h.rank_offset = w.Section(rank);
  std::vector<IndexSlotEntry> entries(c.fields.size());
  for (size_t s = 0; s < c.fields.size(); ++s) {
    entries[s] = IndexSlotEntry{c.fields[s], 0, w.Section(c.spans[s]), text_start, text_size};
    std::vector<uint32_t>().swap(c.spans[s]);
  }
  h.slots_offset = w.Section(entries);
  h.shown_count = static_cast<uint32_t>(c.shown.size());
  h.shown_offset = w.Section(c.shown);
  h.rows_offset = w.Section(c.rows);
  std::vector<uint32_t>().swap(c.rows);
  h.posting_bytes_offset = w.Offset();
  std::vector<IndexPosting> postings;
  if (!MergeRuns(side, c.runs, w, h.posting_bytes_offset, postings)) {
    failure = "cannot read the side file back";
    return {};
  }
  h.posting_bytes_size = w.Offset() - h.posting_bytes_offset;
  w.Pad();
  h.postings_offset = w.Section(postings);
  h.posting_count = postings.size();
  std::stable_sort(c.numbers.begin(), c.numbers.end(),
                   [](const IndexNumberEntry& a, const IndexNumberEntry& b) { return a.value < b.value; });
  h.numbers_offset = w.Section(c.numbers);
  h.number_count = c.numbers.size();
  h.crc_offset = w.Offset();
  const std::vector<uint32_t> crcs = w.BlockCrcs();
  h.block_count = crcs.size();
  h.crc_table_crc = Crc32c(crcs.data(), crcs.size() * sizeof(uint32_t));
  w.AppendVector(crcs);
  h.file_size = w.Offset();
  h.header_crc = 0;
  h.header_crc = Crc32c(&h, sizeof h);
  w.Flush();
  if (!w.Ok()) {
    failure = Because("cannot write the index", w.Error());
    return {};
  }
  if (int err = WriteAt(fd, std::string_view(reinterpret_cast<const char*>(&h), sizeof h), 0); err != 0) {
    failure = Because("cannot write the index", err);
  }
  return {};
}

}  // namespace

EngineStatus SearchIndex::Build(const DbfFile& file, const SearchIndexFields& fields, const std::string& path,
                                std::string& failure) {
  failure.clear();
  Collected c;
  ChooseFields(file, fields, c);
  if (c.fields.empty() && c.number_field < 0 && c.shown.empty()) {
    failure = "the table has none of the fields an index holds";
    return {};
  }
  // The temporary files first, so that a directory that cannot be written costs nothing more.
  // All carry the temporary prefix, so a later build removes them if this one dies.
  static std::atomic<unsigned> serial{0};
  Temporary temp, side, rows;
  temp.path = path + std::string(kIndexTemporaryInfix) + std::to_string(::getpid()) + "." +
              std::to_string(serial.fetch_add(1));
  side.path = temp.path + ".pairs";
  rows.path = temp.path + ".rows";
  temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  side.fd = temp.fd < 0 ? -1 : ::open(side.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  rows.fd = side.fd < 0 ? -1 : ::open(rows.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (temp.fd < 0 || side.fd < 0 || rows.fd < 0) {
    failure = Because("cannot create the temporary file", errno);
    return {};
  }
  EngineStatus s = WriteIndex(temp.fd, side.fd, rows.fd, file, c, failure);
  if (!s.Ok() || !failure.empty()) return s;
  if (::close(temp.fd) != 0) failure = Because("cannot write the index", errno);
  temp.fd = -1;
  // A table that shrank or changed while it was read must not leave behind an index of bytes
  // it no longer holds.
  if (EngineStatus changed = file.CheckUnchanged(); !changed.Ok()) return changed;
  if (failure.empty() && ::rename(temp.path.c_str(), path.c_str()) != 0) {
    failure = Because("cannot rename the index into place", errno);
  }
  temp.kept = failure.empty();
  return {};
}

}  // namespace shelfra
