// SearchIndex::Build: reading the table once, collecting the folded texts, the sort order,
// the numbers and the record lists of character pairs, and writing the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <numeric>

#include "engine/collation.h"
#include "engine/crc32c.h"
#include "engine/dbf_file.h"
#include "engine/index_format.h"
#include "engine/search_index.h"
#include "engine/sql_condition.h"

namespace shelfra {

namespace {

// Pairs collected per pass while building: 8 bytes each, so a pass holds at most 256 MB.
constexpr uint64_t kPairsPerPass = uint64_t{1} << 25;

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
    size_t done = 0;
    while (error_ == 0 && done < buffer_.size()) {
      ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error_ = errno;
      else if (n == 0) error_ = EIO;
      else done += static_cast<size_t>(n);
    }
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

// What one pass over the table collects.
struct Collected {
  std::vector<uint32_t> fields;      // table field of each slot
  uint32_t sort_slot = kNoSlot;
  int number_field = -1;
  std::vector<uint32_t> records;     // record number of each live record
  std::vector<std::string> texts;    // per slot: the folded texts one after the other
  std::vector<std::vector<uint32_t>> starts;  // per slot: text start per live record, then the end
  std::vector<IndexNumberEntry> numbers;
  std::vector<uint32_t> order;       // live records in sort order
  std::vector<uint32_t> rank;        // position in `order` per live record
  uint64_t pair_estimate = 0;        // folded bytes: more than the pairs they hold
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
  c.texts.resize(c.fields.size());
  c.starts.resize(c.fields.size());
}

// Folded texts, sort keys and numbers of the live records, read chunk by chunk; then the sort
// order. False (with Ok) when a text section outgrows its 32-bit offsets.
EngineStatus CollectRecords(const DbfFile& file, Collected& c, bool& fits) {
  std::string keys;
  std::vector<uint64_t> key_starts;
  const size_t slot_count = c.fields.size();
  const uint32_t length = file.RecordLength();
  fits = true;
  EngineStatus scanned = file.ScanChunks([&](uint32_t first, uint32_t n, std::string_view chunk) {
    for (uint32_t i = 0; i < n; ++i) {
      std::string_view record = chunk.substr(static_cast<size_t>(i) * length, length);
      if (DbfFile::IsDeleted(record)) continue;
      c.records.push_back(first + i);
      if (c.number_field >= 0) {
        TFieldValue number = file.Decode(record, c.number_field);
        if (!number.is_null) c.numbers.push_back(IndexNumberEntry{number.number, first + i, 0});
      }
      for (size_t s = 0; s < slot_count; ++s) {
        std::string_view text = file.Decode(record, static_cast<int>(c.fields[s])).text;
        std::string& texts = c.texts[s];
        c.starts[s].push_back(static_cast<uint32_t>(texts.size()));
        const size_t before = texts.size();
        AppendFolded(text, texts);
        c.pair_estimate += texts.size() - before;
        if (texts.size() > UINT32_MAX) return fits = false;
        if (s == c.sort_slot) {
          key_starts.push_back(keys.size());
          AppendSortKey(text, keys);
        }
      }
    }
    return true;
  });
  if (!scanned.Ok() || !fits) return scanned;
  const uint32_t live = static_cast<uint32_t>(c.records.size());
  for (size_t s = 0; s < slot_count; ++s) c.starts[s].push_back(static_cast<uint32_t>(c.texts[s].size()));

  // Sort order: a stable sort by the sort key, so equal keys keep table order.
  c.order.resize(live);
  std::iota(c.order.begin(), c.order.end(), 0u);
  if (c.sort_slot != kNoSlot) {
    key_starts.push_back(keys.size());
    auto key = [&](uint32_t o) {
      return std::string_view(keys).substr(key_starts[o], key_starts[o + 1] - key_starts[o]);
    };
    std::stable_sort(c.order.begin(), c.order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
  }
  std::stable_sort(c.numbers.begin(), c.numbers.end(),
                   [](const IndexNumberEntry& a, const IndexNumberEntry& b) { return a.value < b.value; });
  c.rank.resize(live);
  for (uint32_t k = 0; k < live; ++k) c.rank[c.order[k]] = k;
  return {};
}

// Record lists per character pair, made in as many passes over the texts as keep the
// collected pairs within kPairsPerPass; each pass takes the pairs of one hash class.
void CollectPostings(const Collected& c, std::vector<IndexPosting>& postings, std::string& posting_bytes) {
  const uint64_t passes = c.pair_estimate / kPairsPerPass + 1;
  const uint32_t live = static_cast<uint32_t>(c.records.size());
  std::vector<uint64_t> collected;
  std::vector<uint32_t> local;
  for (uint64_t pass = 0; pass < passes; ++pass) {
    collected.clear();
    for (uint32_t o = 0; o < live; ++o) {
      local.clear();
      for (size_t s = 0; s < c.fields.size(); ++s) {
        std::string_view text(c.texts[s].data() + c.starts[s][o], c.starts[s][o + 1] - c.starts[s][o]);
        ForEachPair(text, [&](uint32_t pair) {
          if (PairHash(pair) % passes == pass) local.push_back(pair);
        });
      }
      std::sort(local.begin(), local.end());
      local.erase(std::unique(local.begin(), local.end()), local.end());
      for (uint32_t pair : local) collected.push_back(static_cast<uint64_t>(pair) << 32 | o);
    }
    std::sort(collected.begin(), collected.end());
    for (size_t i = 0; i < collected.size();) {
      const uint32_t pair = static_cast<uint32_t>(collected[i] >> 32);
      IndexPosting posting{pair, 0, posting_bytes.size()};
      uint32_t previous = 0;
      for (; i < collected.size() && static_cast<uint32_t>(collected[i] >> 32) == pair; ++i) {
        const uint32_t o = static_cast<uint32_t>(collected[i]);
        AppendVarint(posting.count == 0 ? o : o - previous, posting_bytes);
        previous = o;
        ++posting.count;
      }
      postings.push_back(posting);
    }
  }
  std::sort(postings.begin(), postings.end(),
            [](const IndexPosting& a, const IndexPosting& b) { return a.pair < b.pair; });
}

// Writes the whole file to `fd`: 0, or the errno of the write that failed.
int WriteIndex(int fd, const DbfFile& file, const Collected& c, const std::vector<IndexPosting>& postings,
                const std::string& posting_bytes) {
  const size_t slot_count = c.fields.size();
  IndexFileHeader h{};
  std::memcpy(h.magic, kIndexMagic, sizeof kIndexMagic);
  h.version = kIndexVersion;
  h.slot_count = static_cast<uint32_t>(slot_count);
  h.table_size = file.OpenedSize();
  h.table_mtime_ns = file.OpenedMtimeNs();
  h.header_hash = Fnv1a(file.HeaderBytes());
  h.header_length = static_cast<uint32_t>(file.HeaderBytes().size());
  h.record_count = file.RecordCount();
  h.record_length = file.RecordLength();
  h.live_count = static_cast<uint32_t>(c.records.size());
  h.sort_slot = c.sort_slot;
  const std::string full_path = FullPath(file.Path());
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
  h.records_offset = w.Section(c.records);
  h.order_offset = w.Section(c.order);
  h.rank_offset = w.Section(c.rank);
  std::vector<IndexSlotEntry> entries(slot_count);
  for (size_t s = 0; s < slot_count; ++s) {
    entries[s].field = c.fields[s];
    entries[s].starts_offset = w.Section(c.starts[s]);
    entries[s].text_offset = w.Offset();
    entries[s].text_size = c.texts[s].size();
    w.Append(c.texts[s].data(), c.texts[s].size());
    w.Pad();
  }
  h.slots_offset = w.Section(entries);
  h.postings_offset = w.Section(postings);
  h.posting_count = postings.size();
  h.posting_bytes_offset = w.Offset();
  h.posting_bytes_size = posting_bytes.size();
  w.Append(posting_bytes.data(), posting_bytes.size());
  w.Pad();
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
  if (!w.Ok()) return w.Error();
  const ssize_t n = ::pwrite(fd, &h, sizeof h, 0);
  if (n < 0) return errno;
  return n == static_cast<ssize_t>(sizeof h) ? 0 : EIO;
}

std::string Because(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

}  // namespace

EngineStatus SearchIndex::Build(const DbfFile& file, const SearchIndexFields& fields, const std::string& path,
                                std::string& failure) {
  failure = "the table has none of the fields an index holds";
  Collected c;
  ChooseFields(file, fields, c);
  if (c.fields.empty() && c.number_field < 0) return {};

  // The temporary file first, so that a directory that cannot be written costs nothing more.
  static std::atomic<unsigned> serial{0};
  Temporary temp;
  temp.path = path + std::string(kIndexTemporaryInfix) + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1));
  temp.fd = ::open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (temp.fd < 0) {
    failure = Because("cannot create the temporary file", errno);
    return {};
  }

  bool fits = true;
  if (EngineStatus s = CollectRecords(file, c, fits); !s.Ok()) return s;
  if (!fits) {
    failure = "a field's texts exceed 4 GB";
    return {};
  }
  std::vector<IndexPosting> postings;
  std::string posting_bytes;
  CollectPostings(c, postings, posting_bytes);

  int err = WriteIndex(temp.fd, file, c, postings, posting_bytes);
  if (::close(temp.fd) != 0 && err == 0) err = errno;
  temp.fd = -1;
  // A table that shrank or changed while it was read must not leave behind an index of bytes
  // it no longer holds.
  if (EngineStatus s = file.CheckUnchanged(); !s.Ok()) return s;
  if (err != 0) {
    failure = Because("cannot write the index", err);
    return {};
  }
  if (::rename(temp.path.c_str(), path.c_str()) != 0) {
    failure = Because("cannot rename the index into place", errno);
    return {};
  }
  temp.kept = true;
  failure.clear();
  return {};
}

}  // namespace shelfra
