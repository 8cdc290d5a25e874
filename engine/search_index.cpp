// SearchIndex: opening the side file, checking it against the table, and answering
// statements and seeks from it.
#include "engine/search_index.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>

#include "engine/dbf_file.h"
#include "engine/index_format.h"
#include "engine/sql_condition.h"

namespace shelfra {

namespace {

bool InFile(uint64_t offset, uint64_t size, uint64_t file_size) {
  return offset <= file_size && size <= file_size - offset && offset % 4 == 0;
}

}  // namespace

std::string_view SearchIndex::Slot::Text(uint32_t ordinal) const {
  const uint32_t a = starts[ordinal];
  const uint32_t b = starts[ordinal + 1];
  if (a > b || b > text_size) return {};
  return std::string_view(text + a, b - a);
}

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

EngineStatus SearchIndex::OpenOrBuild(const DbfFile& file, const SearchIndexFields& fields,
                                      const std::string& directory, std::unique_ptr<SearchIndex>& out) {
  const std::string path = PathFor(file, directory);
  out = Open(file, path);
  if (out != nullptr) return {};
  ::mkdir(directory.c_str(), 0755);  // a cache directory named but not made yet
  bool written = false;
  if (EngineStatus s = Build(file, fields, path, written); !s.Ok()) return s;
  if (written) out = Open(file, path);
  return {};
}

std::unique_ptr<SearchIndex> SearchIndex::Open(const DbfFile& file, const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) < sizeof(IndexFileHeader)) {
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
  IndexFileHeader h;
  std::memcpy(&h, data_, sizeof h);
  const std::string_view header = file.HeaderBytes();
  if (std::memcmp(h.magic, kIndexMagic, sizeof kIndexMagic) != 0 || h.version != kIndexVersion ||
      h.file_size != size_ || h.table_size != file.OpenedSize() || h.table_mtime_ns != file.OpenedMtimeNs() ||
      h.header_length != header.size() || h.header_hash != Fnv1a(header) || h.record_count != file.RecordCount() ||
      h.record_length != file.RecordLength() || h.live_count > h.record_count || h.slot_count > kMaxSlots ||
      (h.sort_slot != kNoSlot && h.sort_slot >= h.slot_count)) {
    return false;
  }
  const uint64_t live = h.live_count;
  if (!InFile(h.path_offset, h.path_length, size_) ||
      std::string_view(data_ + h.path_offset, h.path_length) != FullPath(file.Path()) ||
      !InFile(h.records_offset, 4 * live, size_) || !InFile(h.order_offset, 4 * live, size_) ||
      !InFile(h.rank_offset, 4 * live, size_) ||
      !InFile(h.slots_offset, sizeof(IndexSlotEntry) * h.slot_count, size_) || h.posting_count > size_ ||
      !InFile(h.postings_offset, sizeof(IndexPosting) * h.posting_count, size_) ||
      !InFile(h.posting_bytes_offset, h.posting_bytes_size, size_) || h.number_count > h.live_count ||
      !InFile(h.numbers_offset, sizeof(IndexNumberEntry) * h.number_count, size_)) {
    return false;
  }
  if (h.number_field != kNoSlot) {
    if (h.number_field >= file.Fields().size() ||
        CategoryOf(file.Fields()[h.number_field].type) != ValueCategory::kNumber) {
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
    IndexSlotEntry e;
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
  postings_ = reinterpret_cast<const IndexPosting*>(data_ + h.postings_offset);
  posting_count_ = h.posting_count;
  posting_bytes_ = reinterpret_cast<const unsigned char*>(data_ + h.posting_bytes_offset);
  posting_size_ = h.posting_bytes_size;
  return true;
}

bool SearchIndex::FindNumber(int field, double value, std::vector<uint32_t>& records) const {
  if (field != number_field_ || number_field_ < 0) return false;
  records.clear();
  auto at = [this](uint64_t i) {
    IndexNumberEntry e;
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
    const IndexNumberEntry e = at(i);
    if (!(e.value == value)) break;
    records.push_back(e.record);
  }
  return true;
}

bool SearchIndex::HoldsFor(const SqlCondition* where, uint32_t ordinal) const {
  if (where == nullptr) return true;
  return where->HoldsOnTexts([&](int field) -> std::string_view {
    for (const Slot& slot : slots_) {
      if (slot.field == field) return slot.Text(ordinal);
    }
    return {};
  });
}

bool SearchIndex::Candidates(const std::vector<uint32_t>& pairs, const SqlCondition& where,
                             std::vector<uint32_t>& hits) const {
  // The records holding every required pair, by intersecting their lists (shortest first),
  // each then tested in full.
  std::vector<PostingCursor> cursors;
  std::vector<uint32_t> counts;
  for (uint32_t pair : pairs) {
    const IndexPosting* end = postings_ + posting_count_;
    const IndexPosting* found =
        std::lower_bound(postings_, end, pair, [](const IndexPosting& p, uint32_t value) { return p.pair < value; });
    if (found == end || found->pair != pair) return true;  // no record holds the pair, so none passes
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
    if (target < live_count_ && HoldsFor(&where, target)) hits.push_back(target);
    lead.Advance();
  }
  return true;
}

bool SearchIndex::Run(const DbfFile& file, const SqlCondition* where, const std::vector<SqlSortField>& sort,
                      std::vector<uint32_t>& rows) const {
  if (where != nullptr) {
    std::vector<int> fields;
    if (!where->LikeTestsOnly(fields)) return false;
    for (int field : fields) {
      if (std::none_of(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.field == field; })) return false;
    }
  }
  bool by_rank = false;
  if (!sort.empty()) {
    if (sort.size() != 1 || sort.front().descending || sort_slot_ == kNoSlot ||
        sort.front().field != slots_[sort_slot_].field) {
      return false;
    }
    by_rank = true;
  }

  std::vector<uint32_t> hits;  // live record ordinals
  const std::vector<uint32_t> pairs = where != nullptr ? where->RequiredPairs() : std::vector<uint32_t>{};
  if (!pairs.empty()) {
    if (!Candidates(pairs, *where, hits)) return false;
    if (by_rank) {
      std::sort(hits.begin(), hits.end(), [this](uint32_t a, uint32_t b) { return rank_[a] < rank_[b]; });
    }
  } else {
    for (uint32_t k = 0; k < live_count_; ++k) {
      const uint32_t o = by_rank ? order_[k] : k;
      if (o < live_count_ && HoldsFor(where, o)) hits.push_back(o);
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
