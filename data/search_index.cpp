// SearchIndex: building the side file, checking it against the table, and answering
// statements from it.
#include "data/search_index.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string_view>

#include "base/text.h"
#include "data/collation.h"
#include "data/dbf_file.h"
#include "data/kana_fold.h"
#include "data/sql_condition.h"
#include "data/sql_parser.h"
#include "data_res.h"

namespace shelfra {

namespace {

constexpr char kMagic[8] = {'S', 'H', 'L', 'F', 'I', 'D', 'X', '1'};
constexpr uint32_t kNoSlot = 0xFFFFFFFFu;
constexpr uint32_t kMaxSlots = 64;
// Pairs collected per pass while building: 8 bytes each, so a pass holds at most 256 MB.
constexpr uint64_t kPairsPerPass = uint64_t{1} << 25;

// The fields the index holds, in slot order: the nine searched fields and the class code. Only
// those the table has as character fields become slots.
constexpr std::string_view kIndexedFields[] = {
    res::data::kBookField4,  res::data::kBookField5, res::data::kBookField8, res::data::kBookField9,
    res::data::kBookField7,  res::data::kBookField2, res::data::kBookField3, res::data::kBookField33,
    res::data::kBookField23, res::data::kBookField16,
};
constexpr std::string_view kSortField = res::data::kBookField5;
constexpr std::string_view kNumberField = res::data::kBookField1;

// The file starts with this header; every section after it starts at a multiple of 8.
struct FileHeader {
  char magic[8];                  // 0, 8: kMagic
  uint32_t version;               // 8, 4: kVersion
  uint32_t slot_count;            // 12, 4
  int64_t table_size;             // 16, 8: the table's size when the index was made
  int64_t table_mtime_ns;         // 24, 8: and its modification time
  uint64_t header_hash;           // 32, 8: FNV-1a of the table's header bytes
  uint32_t header_length;         // 40, 4
  uint32_t record_count;          // 44, 4: physical records, deleted ones included
  uint32_t record_length;         // 48, 4
  uint32_t live_count;            // 52, 4: records not deleted
  uint32_t sort_slot;             // 56, 4: slot of the title reading; kNoSlot when none
  uint32_t path_length;           // 60, 4
  uint64_t path_offset;           // 64, 8: the table's full path
  uint64_t records_offset;        // 72, 8: uint32 record number per live record
  uint64_t order_offset;          // 80, 8: uint32 live records in reading order
  uint64_t rank_offset;           // 88, 8: uint32 position in that order per live record
  uint64_t slots_offset;          // 96, 8: SlotEntry per slot
  uint64_t postings_offset;       // 104, 8: PostingEntry per character pair, by pair
  uint64_t posting_count;         // 112, 8
  uint64_t posting_bytes_offset;  // 120, 8: the record lists, delta-coded LEB128
  uint64_t posting_bytes_size;    // 128, 8
  uint64_t file_size;             // 136, 8
  uint32_t number_field;          // 144, 4: the registration number's field; kNoSlot when none
  uint32_t reserved;              // 148, 4
  uint64_t numbers_offset;        // 152, 8: NumberEntry per live record with a number
  uint64_t number_count;          // 160, 8
};

struct NumberEntry {
  double value;     // 0, 8
  uint32_t record;  // 8, 4: the record number
  uint32_t reserved;  // 12, 4
};

struct SlotEntry {
  uint32_t field;          // 0, 4: the table field's position
  uint32_t reserved;       // 4, 4
  uint64_t starts_offset;  // 8, 8: uint32 text start per live record, then the text's end
  uint64_t text_offset;    // 16, 8: the folded texts, one after the other
  uint64_t text_size;      // 24, 8
};

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string FullPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string out(real);
  std::free(real);
  return out;
}

// The folded form of a text: each character's folded code (KanaFold, ASCII case ignored) as
// Shift_JIS bytes. Folding it again gives the same codes, so a LIKE pattern matches the folded
// text exactly when it matches the text.
void AppendFolded(std::string_view text, std::string& out) {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p != end) {
    FoldedChar c = fold.Next(p, end);
    KanaFold::AppendCode(c.code, out);
    p += c.width;
  }
}

// Calls `visit(pair)` for each pair of neighbouring characters of a folded text.
template <class Visit>
void ForEachPair(std::string_view folded, Visit visit) {
  const KanaFold& fold = KanaFold::IgnoringCase();
  const auto* p = reinterpret_cast<const unsigned char*>(folded.data());
  const auto* end = p + folded.size();
  uint32_t previous = 0;
  bool first = true;
  while (p != end) {
    FoldedChar c = fold.Next(p, end);
    if (!first) visit(previous << 16 | c.code);
    previous = c.code;
    first = false;
    p += c.width;
  }
}

uint32_t PairHash(uint32_t pair) { return static_cast<uint32_t>((pair * 0x9E3779B1ull) >> 16); }

void AppendVarint(uint32_t value, std::string& out) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

// Buffered writing of the index file, tracking the offset and the first failure.
class Writer {
 public:
  explicit Writer(int fd) : fd_(fd) {}
  uint64_t Offset() const { return offset_ + buffer_.size(); }
  bool Ok() const { return ok_; }
  void Append(const void* data, size_t size) {
    buffer_.append(static_cast<const char*>(data), size);
    if (buffer_.size() >= (1u << 20)) Flush();
  }
  template <class T>
  void AppendVector(const std::vector<T>& v) { Append(v.data(), v.size() * sizeof(T)); }
  void Pad() {
    static const char kZeros[8] = {};
    Append(kZeros, (8 - Offset() % 8) % 8);
  }
  void Flush() {
    size_t done = 0;
    while (ok_ && done < buffer_.size()) {
      ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok_ = false;
      else done += static_cast<size_t>(n);
    }
    offset_ += buffer_.size();
    buffer_.clear();
  }

 private:
  int fd_;
  uint64_t offset_ = 0;
  std::string buffer_;
  bool ok_ = true;
};

bool InFile(uint64_t offset, uint64_t size, uint64_t file_size) {
  return offset <= file_size && size <= file_size - offset && offset % 4 == 0;
}

}  // namespace

struct SearchIndex::Slot {
  int field = -1;
  const uint32_t* starts = nullptr;
  const char* text = nullptr;
  uint64_t text_size = 0;
  // The folded text of live record `ordinal`; empty where the file is inconsistent.
  std::string_view Text(uint32_t ordinal) const {
    const uint32_t a = starts[ordinal];
    const uint32_t b = starts[ordinal + 1];
    if (a > b || b > text_size) return {};
    return std::string_view(text + a, b - a);
  }
};

struct SearchIndex::Posting {
  uint32_t pair;    // 0, 4: first character's code << 16 | second's
  uint32_t count;   // 4, 4: records in the list
  uint64_t offset;  // 8, 8: of the list in the posting bytes
};

// A condition compiled against the index's slots.
class SearchIndex::Query {
 public:
  explicit Query(const SearchIndex& index) : index_(index) {}

  // The node for `expr`; -1 when it needs anything the index does not hold.
  int Compile(const SqlExpr& expr, const DbfFile& file) {
    Node node;
    node.kind = expr.kind;
    switch (expr.kind) {
      case SqlExpr::Kind::kAnd:
      case SqlExpr::Kind::kOr:
        node.left = Compile(expr.children[0], file);
        node.right = Compile(expr.children[1], file);
        if (node.left < 0 || node.right < 0) return -1;
        break;
      case SqlExpr::Kind::kNot:
        node.left = Compile(expr.children[0], file);
        if (node.left < 0) return -1;
        break;
      case SqlExpr::Kind::kLike: {
        const SqlExpr& subject = expr.children[0];
        const SqlExpr& pattern = expr.children[1];
        if (subject.kind != SqlExpr::Kind::kField || pattern.kind != SqlExpr::Kind::kText) return -1;
        const int field = FindFileField(file, subject.text);
        for (size_t s = 0; s < index_.slots_.size(); ++s) {
          if (index_.slots_[s].field == field) node.slot = static_cast<int>(s);
        }
        if (node.slot < 0) return -1;
        node.negated = expr.negated;
        node.pattern = static_cast<int>(patterns_.size());
        patterns_.emplace_back(pattern.text);
        break;
      }
      default:
        return -1;
    }
    nodes_.push_back(node);
    return static_cast<int>(nodes_.size()) - 1;
  }

  bool Holds(int index, uint32_t ordinal) const {
    const Node& node = nodes_[static_cast<size_t>(index)];
    switch (node.kind) {
      case SqlExpr::Kind::kAnd:
        return Holds(node.left, ordinal) && Holds(node.right, ordinal);
      case SqlExpr::Kind::kOr:
        return Holds(node.left, ordinal) || Holds(node.right, ordinal);
      case SqlExpr::Kind::kNot:
        return !Holds(node.left, ordinal);
      default: {
        const LikePattern& pattern = patterns_[static_cast<size_t>(node.pattern)];
        if (pattern.MatchesEverything()) return !node.negated;
        return pattern.Matches(index_.slots_[static_cast<size_t>(node.slot)].Text(ordinal)) != node.negated;
      }
    }
  }

  // Character pairs that every record passing node `index` holds in some field.
  std::vector<uint32_t> Required(int index) const {
    const Node& node = nodes_[static_cast<size_t>(index)];
    std::vector<uint32_t> out;
    switch (node.kind) {
      case SqlExpr::Kind::kAnd: {
        out = Required(node.left);
        std::vector<uint32_t> right = Required(node.right);
        out.insert(out.end(), right.begin(), right.end());
        break;
      }
      case SqlExpr::Kind::kOr: {
        std::vector<uint32_t> left = Required(node.left);
        std::vector<uint32_t> right = Required(node.right);
        std::sort(right.begin(), right.end());
        for (uint32_t pair : left) {
          if (std::binary_search(right.begin(), right.end(), pair)) out.push_back(pair);
        }
        break;
      }
      case SqlExpr::Kind::kLike:
        if (node.negated) break;
        for (const std::vector<uint16_t>& run : patterns_[static_cast<size_t>(node.pattern)].LiteralRuns()) {
          for (size_t i = 1; i < run.size(); ++i) out.push_back(static_cast<uint32_t>(run[i - 1]) << 16 | run[i]);
        }
        break;
      default:
        break;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
  }

 private:
  struct Node {
    SqlExpr::Kind kind = SqlExpr::Kind::kNull;
    int left = -1;
    int right = -1;
    int slot = -1;
    int pattern = -1;
    bool negated = false;
  };
  const SearchIndex& index_;
  std::vector<Node> nodes_;
  std::vector<LikePattern> patterns_;
};

namespace {

// Walks one delta-coded record list.
class PostingCursor {
 public:
  PostingCursor(const unsigned char* p, const unsigned char* end, uint32_t count) : p_(p), end_(end), left_(count) {
    Advance();
  }
  bool Done() const { return done_; }
  uint32_t Value() const { return value_; }
  void Advance() {
    if (left_ == 0) {
      done_ = true;
      return;
    }
    uint32_t delta = 0;
    int shift = 0;
    for (;;) {
      if (p_ == end_ || shift > 28) {
        done_ = true;  // a list cut short: nothing more to trust
        return;
      }
      const unsigned char b = *p_++;
      delta |= static_cast<uint32_t>(b & 0x7F) << shift;
      shift += 7;
      if ((b & 0x80) == 0) break;
    }
    value_ = started_ ? value_ + delta : delta;
    started_ = true;
    --left_;
  }
  // Moves to the first value not below `target`.
  void SkipTo(uint32_t target) {
    while (!done_ && value_ < target) Advance();
  }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
  uint32_t left_;
  uint32_t value_ = 0;
  bool started_ = false;
  bool done_ = false;
};

}  // namespace

SearchIndex::~SearchIndex() {
  if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
}

std::string SearchIndex::PathFor(const DbfFile& file, const std::string& directory) {
  static const char kHex[] = "0123456789abcdef";
  uint64_t h = Fnv1a(FullPath(file.Path()));
  std::string name(16, '0');
  for (int i = 15; i >= 0; --i, h >>= 4) name[static_cast<size_t>(i)] = kHex[h & 15];
  return directory + "/" + name + ".idx";
}

std::unique_ptr<SearchIndex> SearchIndex::OpenOrBuild(const DbfFile& file, const std::string& directory) {
  const std::string path = PathFor(file, directory);
  if (std::unique_ptr<SearchIndex> index = Open(file, path)) return index;
  ::mkdir(directory.c_str(), 0755);  // a cache directory named but not made yet
  if (!Build(file, path)) return nullptr;
  return Open(file, path);
}

std::unique_ptr<SearchIndex> SearchIndex::Open(const DbfFile& file, const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) < sizeof(FileHeader)) {
    ::close(fd);
    return nullptr;
  }
  void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return nullptr;
  std::unique_ptr<SearchIndex> index(new SearchIndex());
  index->data_ = static_cast<const char*>(map);
  index->size_ = static_cast<size_t>(st.st_size);
  if (!index->Load(file)) return nullptr;
  return index;
}

bool SearchIndex::Load(const DbfFile& file) {
  FileHeader h;
  std::memcpy(&h, data_, sizeof h);
  const std::string_view header = file.HeaderBytes();
  if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.version != kVersion || h.file_size != size_ ||
      h.table_size != file.OpenedSize() || h.table_mtime_ns != file.OpenedMtimeNs() ||
      h.header_length != header.size() || h.header_hash != Fnv1a(header) || h.record_count != file.RecordCount() ||
      h.record_length != file.RecordLength() || h.live_count > h.record_count ||
      h.slot_count > kMaxSlots || (h.sort_slot != kNoSlot && h.sort_slot >= h.slot_count)) {
    return false;
  }
  const uint64_t live = h.live_count;
  if (!InFile(h.path_offset, h.path_length, size_) ||
      std::string_view(data_ + h.path_offset, h.path_length) != FullPath(file.Path()) ||
      !InFile(h.records_offset, 4 * live, size_) || !InFile(h.order_offset, 4 * live, size_) ||
      !InFile(h.rank_offset, 4 * live, size_) || !InFile(h.slots_offset, sizeof(SlotEntry) * h.slot_count, size_) ||
      h.posting_count > size_ || !InFile(h.postings_offset, sizeof(Posting) * h.posting_count, size_) ||
      !InFile(h.posting_bytes_offset, h.posting_bytes_size, size_) || h.number_count > h.live_count ||
      !InFile(h.numbers_offset, sizeof(NumberEntry) * h.number_count, size_)) {
    return false;
  }
  if (h.number_field != kNoSlot) {
    if (h.number_field >= file.Fields().size() || CategoryOf(file.Fields()[h.number_field].type) != ValueCategory::kNumber) {
      return false;
    }
    number_field_ = static_cast<int>(h.number_field);
    numbers_ = data_ + h.numbers_offset;
    number_count_ = h.number_count;
  }
  live_count_ = h.live_count;
  sort_slot_ = h.sort_slot;
  records_ = reinterpret_cast<const uint32_t*>(data_ + h.records_offset);
  order_ = reinterpret_cast<const uint32_t*>(data_ + h.order_offset);
  rank_ = reinterpret_cast<const uint32_t*>(data_ + h.rank_offset);
  for (uint32_t s = 0; s < h.slot_count; ++s) {
    SlotEntry e;
    std::memcpy(&e, data_ + h.slots_offset + s * sizeof e, sizeof e);
    if (e.field >= file.Fields().size() || file.Fields()[e.field].dbf_type != 'C' ||
        !InFile(e.starts_offset, 4 * (live + 1), size_) || !InFile(e.text_offset, e.text_size, size_)) {
      return false;
    }
    Slot slot;
    slot.field = static_cast<int>(e.field);
    slot.starts = reinterpret_cast<const uint32_t*>(data_ + e.starts_offset);
    slot.text = data_ + e.text_offset;
    slot.text_size = e.text_size;
    slots_.push_back(slot);
  }
  postings_ = reinterpret_cast<const Posting*>(data_ + h.postings_offset);
  posting_count_ = h.posting_count;
  posting_bytes_ = reinterpret_cast<const unsigned char*>(data_ + h.posting_bytes_offset);
  posting_size_ = h.posting_bytes_size;
  return true;
}

bool SearchIndex::Build(const DbfFile& file, const std::string& path) {
  std::vector<uint32_t> fields;
  uint32_t sort_slot = kNoSlot;
  for (std::string_view name : kIndexedFields) {
    const int field = FindFileField(file, name);
    if (field < 0 || file.Fields()[static_cast<size_t>(field)].dbf_type != 'C') continue;
    if (std::find(fields.begin(), fields.end(), static_cast<uint32_t>(field)) != fields.end()) continue;
    if (SameFieldName(name, kSortField)) sort_slot = static_cast<uint32_t>(fields.size());
    fields.push_back(static_cast<uint32_t>(field));
  }
  int number_field = FindFileField(file, kNumberField);
  if (number_field >= 0 &&
      CategoryOf(file.Fields()[static_cast<size_t>(number_field)].type) != ValueCategory::kNumber) {
    number_field = -1;
  }
  if (fields.empty() && number_field < 0) return false;
  const size_t slot_count = fields.size();

  // The temporary file first, so that a directory that cannot be written costs nothing more.
  static std::atomic<unsigned> serial{0};
  const std::string temporary =
      path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1));
  struct Temporary {
    const std::string& path;
    int fd;
    bool kept = false;
    ~Temporary() {
      if (fd >= 0) ::close(fd);
      if (!kept) ::unlink(path.c_str());
    }
  } temp{temporary, ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
  if (temp.fd < 0) return false;
  std::vector<NumberEntry> numbers;

  // Folded texts and sort keys of the live records, read chunk by chunk.
  std::vector<uint32_t> records;
  std::vector<std::string> texts(slot_count);
  std::vector<std::vector<uint32_t>> starts(slot_count);
  std::string keys;
  std::vector<uint64_t> key_starts;
  uint64_t pair_estimate = 0;
  const uint32_t count = file.RecordCount();
  const uint32_t length = file.RecordLength();
  const uint32_t per_chunk = std::max<uint32_t>(1, (1u << 20) / length);
  std::string buffer;
  for (uint32_t first = 0; first < count; first += per_chunk) {
    const uint32_t n = std::min(per_chunk, count - first);
    std::string_view chunk = file.ReadRecords(first, n, buffer);
    for (uint32_t i = 0; i < n; ++i) {
      std::string_view record = chunk.substr(static_cast<size_t>(i) * length, length);
      if (DbfFile::IsDeleted(record)) continue;
      records.push_back(first + i);
      if (number_field >= 0) {
        TFieldValue number = file.Decode(record, number_field);
        if (!number.is_null) numbers.push_back(NumberEntry{number.number, first + i, 0});
      }
      for (size_t s = 0; s < slot_count; ++s) {
        std::string_view text = file.Decode(record, static_cast<int>(fields[s])).text;
        starts[s].push_back(static_cast<uint32_t>(texts[s].size()));
        const size_t before = texts[s].size();
        AppendFolded(text, texts[s]);
        pair_estimate += texts[s].size() - before;
        if (texts[s].size() > UINT32_MAX) return false;
        if (s == sort_slot) {
          key_starts.push_back(keys.size());
          AppendSortKey(text, keys);
        }
      }
    }
  }
  const uint32_t live = static_cast<uint32_t>(records.size());
  for (size_t s = 0; s < slot_count; ++s) starts[s].push_back(static_cast<uint32_t>(texts[s].size()));

  // Reading order: a stable sort by the sort key, so equal readings keep table order.
  std::vector<uint32_t> order(live);
  std::iota(order.begin(), order.end(), 0u);
  if (sort_slot != kNoSlot) {
    key_starts.push_back(keys.size());
    auto key = [&](uint32_t o) {
      return std::string_view(keys).substr(key_starts[o], key_starts[o + 1] - key_starts[o]);
    };
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
  }
  std::stable_sort(numbers.begin(), numbers.end(),
                   [](const NumberEntry& a, const NumberEntry& b) { return a.value < b.value; });
  std::string().swap(keys);
  std::vector<uint64_t>().swap(key_starts);
  std::vector<uint32_t> rank(live);
  for (uint32_t k = 0; k < live; ++k) rank[order[k]] = k;

  // Record lists per character pair, made in as many passes over the texts as keep the
  // collected pairs within kPairsPerPass; each pass takes the pairs of one hash class.
  const uint64_t passes = pair_estimate / kPairsPerPass + 1;
  std::vector<Posting> postings;
  std::string posting_bytes;
  std::vector<uint64_t> collected;
  std::vector<uint32_t> local;
  for (uint64_t pass = 0; pass < passes; ++pass) {
    collected.clear();
    for (uint32_t o = 0; o < live; ++o) {
      local.clear();
      for (size_t s = 0; s < slot_count; ++s) {
        std::string_view text(texts[s].data() + starts[s][o], starts[s][o + 1] - starts[s][o]);
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
      Posting posting{pair, 0, posting_bytes.size()};
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
  std::vector<uint64_t>().swap(collected);
  std::sort(postings.begin(), postings.end(), [](const Posting& a, const Posting& b) { return a.pair < b.pair; });

  // The file: written under the temporary name, renamed into place when complete.
  FileHeader h{};
  std::memcpy(h.magic, kMagic, sizeof kMagic);
  h.version = kVersion;
  h.slot_count = static_cast<uint32_t>(slot_count);
  h.table_size = file.OpenedSize();
  h.table_mtime_ns = file.OpenedMtimeNs();
  h.header_hash = Fnv1a(file.HeaderBytes());
  h.header_length = static_cast<uint32_t>(file.HeaderBytes().size());
  h.record_count = count;
  h.record_length = length;
  h.live_count = live;
  h.sort_slot = sort_slot;
  const std::string full_path = FullPath(file.Path());
  h.path_length = static_cast<uint32_t>(full_path.size());
  h.number_field = number_field >= 0 ? static_cast<uint32_t>(number_field) : kNoSlot;

  Writer w(temp.fd);
  w.Append(&h, sizeof h);
  w.Pad();
  h.path_offset = w.Offset();
  w.Append(full_path.data(), full_path.size());
  w.Pad();
  h.records_offset = w.Offset();
  w.AppendVector(records);
  w.Pad();
  h.order_offset = w.Offset();
  w.AppendVector(order);
  w.Pad();
  h.rank_offset = w.Offset();
  w.AppendVector(rank);
  w.Pad();
  std::vector<SlotEntry> entries(slot_count);
  for (size_t s = 0; s < slot_count; ++s) {
    entries[s].field = fields[s];
    entries[s].starts_offset = w.Offset();
    w.AppendVector(starts[s]);
    w.Pad();
    entries[s].text_offset = w.Offset();
    entries[s].text_size = texts[s].size();
    w.Append(texts[s].data(), texts[s].size());
    w.Pad();
  }
  h.slots_offset = w.Offset();
  w.AppendVector(entries);
  w.Pad();
  h.postings_offset = w.Offset();
  h.posting_count = postings.size();
  w.AppendVector(postings);
  w.Pad();
  h.posting_bytes_offset = w.Offset();
  h.posting_bytes_size = posting_bytes.size();
  w.Append(posting_bytes.data(), posting_bytes.size());
  w.Pad();
  h.numbers_offset = w.Offset();
  h.number_count = numbers.size();
  w.AppendVector(numbers);
  w.Pad();
  h.file_size = w.Offset();
  w.Flush();
  bool ok = w.Ok() && ::pwrite(temp.fd, &h, sizeof h, 0) == static_cast<ssize_t>(sizeof h);
  ok = ::close(temp.fd) == 0 && ok;
  temp.fd = -1;
  // A table that shrank or changed while it was read must not leave behind an index of bytes
  // it no longer holds: the request ends with the "table changed" error instead.
  file.CheckUnchanged();
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  temp.kept = ok;
  return ok;
}

bool SearchIndex::FindNumber(int field, double value, std::vector<uint32_t>& records) const {
  if (field != number_field_ || number_field_ < 0) return false;
  records.clear();
  auto at = [this](uint64_t i) {
    NumberEntry e;
    std::memcpy(&e, numbers_ + i * sizeof e, sizeof e);
    return e;
  };
  // Entries are ordered by value and, among equal values, by record number.
  uint64_t low = 0, high = number_count_;
  while (low < high) {
    const uint64_t mid = low + (high - low) / 2;
    if (at(mid).value < value) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  for (uint64_t i = low; i < number_count_; ++i) {
    const NumberEntry e = at(i);
    if (!(e.value == value)) break;
    records.push_back(e.record);
  }
  return true;
}

bool SearchIndex::Run(const DbfFile& file, const SqlSelect& select, std::vector<uint32_t>& rows) const {
  Query query(*this);
  int root = -1;
  if (select.where) {
    root = query.Compile(*select.where, file);
    if (root < 0) return false;
  }
  bool by_rank = false;
  if (!select.order_by.empty()) {
    const SqlOrderItem& item = select.order_by.front();
    if (select.order_by.size() != 1 || item.descending || sort_slot_ == kNoSlot ||
        FindFileField(file, item.field) != slots_[sort_slot_].field) {
      return false;
    }
    by_rank = true;
  }

  std::vector<uint32_t> hits;  // live record ordinals
  const std::vector<uint32_t> pairs = root >= 0 ? query.Required(root) : std::vector<uint32_t>{};
  if (!pairs.empty()) {
    // The records holding every required pair, by intersecting their lists (shortest first),
    // each then tested in full.
    std::vector<PostingCursor> cursors;
    std::vector<uint32_t> counts;
    for (uint32_t pair : pairs) {
      const Posting* end = postings_ + posting_count_;
      const Posting* found =
          std::lower_bound(postings_, end, pair, [](const Posting& p, uint32_t value) { return p.pair < value; });
      if (found == end || found->pair != pair) {
        rows.clear();  // no record holds the pair, so none passes
        return true;
      }
      if (found->offset > posting_size_) return false;
      cursors.emplace_back(posting_bytes_ + found->offset, posting_bytes_ + posting_size_, found->count);
      counts.push_back(found->count);
    }
    std::vector<size_t> by_count(cursors.size());
    std::iota(by_count.begin(), by_count.end(), size_t{0});
    std::sort(by_count.begin(), by_count.end(), [&](size_t a, size_t b) { return counts[a] < counts[b]; });
    PostingCursor& lead = cursors[by_count[0]];
    while (!lead.Done()) {
      uint32_t target = lead.Value();
      bool all = true;
      for (size_t k = 1; k < by_count.size(); ++k) {
        PostingCursor& other = cursors[by_count[k]];
        other.SkipTo(target);
        if (other.Done()) {
          all = false;
          lead = PostingCursor(nullptr, nullptr, 0);
          break;
        }
        if (other.Value() != target) {
          all = false;
          lead.SkipTo(other.Value());
          break;
        }
      }
      if (!all) continue;
      if (target < live_count_ && query.Holds(root, target)) hits.push_back(target);
      lead.Advance();
    }
    if (by_rank) {
      std::sort(hits.begin(), hits.end(), [this](uint32_t a, uint32_t b) { return rank_[a] < rank_[b]; });
    }
  } else {
    for (uint32_t k = 0; k < live_count_; ++k) {
      const uint32_t o = by_rank ? order_[k] : k;
      if (o < live_count_ && (root < 0 || query.Holds(root, o))) hits.push_back(o);
    }
  }

  const uint32_t record_count = file.RecordCount();
  for (uint32_t& hit : hits) {
    hit = records_[hit];
    if (hit >= record_count) return false;  // an inconsistent index: the scan answers
  }
  rows = std::move(hits);
  return true;
}

}  // namespace shelfra
