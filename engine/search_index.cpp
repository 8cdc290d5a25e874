// SearchIndex: opening the side file, checking it against the table, and answering
// statements and seeks from it.
#include "engine/search_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <string_view>

#include "engine/crc32c.h"
#include "engine/dbf_file.h"
#include "engine/index_format.h"
#include "engine/sql_condition.h"

namespace shelfra {


SearchIndex::~SearchIndex() = default;

namespace {

// The blocks checked are remembered in bitmaps of this many blocks each, made for the parts of
// the file a request reads.
constexpr uint64_t kBlocksPerBitmap = 8192;

}  // namespace

uint64_t SearchIndex::BlockStart(uint64_t block) const { return kIndexSectionsStart + block * kIndexBlockSize; }

uint64_t SearchIndex::BlockEnd(uint64_t block) const {
  return std::min(BlockStart(block) + kIndexBlockSize, crc_offset_);
}

bool SearchIndex::Verified(uint64_t first, uint64_t last) const {
  for (uint64_t b = first; b <= last; ++b) {
    std::vector<uint64_t>& bits = verified_[b / kBlocksPerBitmap];
    if (bits.empty()) bits.assign(kBlocksPerBitmap / 64, 0);
    const uint64_t k = b % kBlocksPerBitmap;
    if ((bits[k / 64] >> (k % 64) & 1) != 0) continue;
    uint32_t stored = 0;
    std::memcpy(&stored, data_ + crc_offset_ + b * sizeof stored, sizeof stored);
    if (Crc32c(data_ + BlockStart(b), BlockEnd(b) - BlockStart(b)) != stored || file_->Lost()) {
      damaged_ = true;
      return false;
    }
    bits[k / 64] |= uint64_t{1} << (k % 64);
  }
  return true;
}

const char* SearchIndex::Bytes(uint64_t offset, uint64_t size) const {
  if (damaged_) return nullptr;
  if (size == 0) return data_ + offset;
  const uint64_t first = (offset - kIndexSectionsStart) / kIndexBlockSize;
  const uint64_t last = (offset + size - 1 - kIndexSectionsStart) / kIndexBlockSize;
  return Verified(first, last) ? data_ + offset : nullptr;
}

bool SearchIndex::Word(uint64_t offset, uint64_t index, uint32_t& value) const {
  const char* p = Bytes(offset + index * sizeof value, sizeof value);
  if (p == nullptr) return false;
  std::memcpy(&value, p, sizeof value);
  return true;
}

bool SearchIndex::Span(uint64_t offset, uint32_t ordinal, uint32_t& start, uint32_t& end) const {
  const char* p = Bytes(offset + uint64_t{8} * ordinal, 8);
  if (p == nullptr) return false;
  std::memcpy(&start, p, 4);
  std::memcpy(&end, p + 4, 4);
  return true;
}

bool SearchIndex::SlotText(const Slot& slot, uint32_t ordinal, std::string_view& text) const {
  uint32_t a = 0;
  uint32_t b = 0;
  if (!Span(slot.starts_offset, ordinal, a, b)) return false;
  if (a > b || b > slot.text_size) {
    damaged_ = true;  // sound blocks, inconsistent contents: made by something else
    return false;
  }
  const char* p = Bytes(slot.text_offset + a, b - a);
  if (p == nullptr) return false;
  text = std::string_view(p, b - a);
  return true;
}

bool SearchIndex::ShownRow(const DbfFile& file, uint32_t ordinal, std::vector<std::string_view>& by_field,
                           std::string_view& null_flags) const {
  uint32_t a = 0;
  uint32_t b = 0;
  if (!Span(rows_offset_, ordinal, a, b)) return false;
  if (a > b || b > row_text_size_) {
    damaged_ = true;
    return false;
  }
  const char* p = Bytes(row_text_offset_ + a, b - a);
  if (p == nullptr) return false;
  std::string_view row(p, b - a);
  bool sound = true;
  for (int field : shown_) {
    const DbfField& f = file.Fields()[static_cast<size_t>(field)];
    size_t length = SIZE_MAX;
    if (row.size() >= 2) length = static_cast<unsigned char>(row[0]) | size_t{static_cast<unsigned char>(row[1])} << 8;
    const bool fits = f.dbf_type == 'C' ? length <= static_cast<size_t>(f.length) : length == static_cast<size_t>(f.length);
    if (!fits || row.size() - 2 < length) {
      sound = false;
      break;
    }
    by_field[static_cast<size_t>(field)] = row.substr(2, length);
    row.remove_prefix(2 + length);
  }
  const size_t flags = file.NullFlagsOffset() >= 0 ? static_cast<size_t>(file.NullFlagsLength()) : 0;
  if (!sound || row.size() != flags) {
    damaged_ = true;  // sound blocks, a row of another shape: made by something else
    return false;
  }
  null_flags = row;
  return true;
}

std::string SearchIndex::PathFor(const DbfFile& file, const std::string& directory) {
  static const char kHex[] = "0123456789abcdef";
  uint64_t h = Fnv1a(file.ResolvedPath());
  std::string name(16, '0');
  for (int i = 15; i >= 0; --i, h >>= 4) name[static_cast<size_t>(i)] = kHex[h & 15];
  return directory + "/" + name + ".idx";
}

std::unique_ptr<SearchIndex> SearchIndex::Open(const DbfFile& file, const std::string& path, std::string* why) {
  std::unique_ptr<SearchIndex> index(new SearchIndex());
  if (int err = MappedFile::Open(path, index->file_, /*watched=*/false); err != 0) {
    if (why != nullptr) *why = err == ENOENT ? "missing" : std::string("unreadable: ") + std::strerror(err);
    return nullptr;
  }
  index->data_ = index->file_->Bytes().data();
  index->size_ = index->file_->Bytes().size();
  std::string reason = index->size_ < sizeof(IndexFileHeader) ? "cut short" : index->Load(file);
  if (!reason.empty()) {
    if (why != nullptr) *why = std::move(reason);
    return nullptr;
  }
  return index;
}

std::string SearchIndex::Load(const DbfFile& file) {
  IndexFileHeader h;
  std::memcpy(&h, data_, sizeof h);
  const uint32_t header_crc = h.header_crc;
  h.header_crc = 0;
  if (std::memcmp(h.magic, kIndexMagic, sizeof kIndexMagic) != 0 || h.version != kIndexVersion) {
    return "of another program version";
  }
  if (Crc32c(&h, sizeof h) != header_crc || h.file_size != size_) return "damaged (its header)";
  const std::string_view header = file.HeaderBytes();
  const FileIdentity& table = file.Identity();
  if (h.table_size != table.size || h.table_mtime_ns != table.mtime_ns || h.table_ctime_ns != table.ctime_ns ||
      h.table_device != table.device || h.table_inode != table.inode || h.header_length != header.size() ||
      h.header_hash != Fnv1a(header) || h.record_count != file.RecordCount() ||
      h.record_length != file.RecordLength()) {
    return "stale (the table was replaced or changed since)";
  }
  if (h.live_count > h.record_count || h.slot_count > kMaxSlots ||
      (h.sort_slot != kNoSlot && h.sort_slot >= h.slot_count)) {
    return "damaged (its header)";
  }
  // The CRC table closes the file; the sections lie between the header and it.
  crc_offset_ = h.crc_offset;
  const uint64_t sections = crc_offset_ >= kIndexSectionsStart ? crc_offset_ - kIndexSectionsStart : 0;
  if (crc_offset_ < kIndexSectionsStart || crc_offset_ % 4 != 0 || crc_offset_ > size_ ||
      h.block_count != (sections + kIndexBlockSize - 1) / kIndexBlockSize ||
      h.block_count * sizeof(uint32_t) != size_ - crc_offset_) {
    return "damaged (its checksums)";
  }
  // The CRC table itself is not checked as a whole (that would read all of it for every
  // request): a damaged entry fails its block's check, which makes the index be built again;
  // an entry that matches damaged data by chance is as unlikely as any CRC collision.
  verified_.assign(h.block_count / kBlocksPerBitmap + 1, {});
  auto in_sections = [&](uint64_t offset, uint64_t size) {
    return offset >= kIndexSectionsStart && offset <= crc_offset_ && size <= crc_offset_ - offset && offset % 4 == 0;
  };
  const uint64_t live = h.live_count;
  const char* path = nullptr;
  const char* slot_entries = nullptr;
  if (!in_sections(h.path_offset, h.path_length) || !in_sections(h.records_offset, 4 * live) ||
      !in_sections(h.order_offset, 4 * live) || !in_sections(h.rank_offset, 4 * live) ||
      !in_sections(h.slots_offset, sizeof(IndexSlotEntry) * h.slot_count) || h.posting_count > size_ ||
      !in_sections(h.postings_offset, sizeof(IndexPosting) * h.posting_count) ||
      !in_sections(h.posting_bytes_offset, h.posting_bytes_size) || h.number_count > h.live_count ||
      !in_sections(h.numbers_offset, sizeof(IndexNumberEntry) * h.number_count) ||
      (path = Bytes(h.path_offset, h.path_length)) == nullptr ||
      (slot_entries = Bytes(h.slots_offset, sizeof(IndexSlotEntry) * h.slot_count)) == nullptr) {
    return "damaged (its sections)";
  }
  if (std::string_view(path, h.path_length) != file.ResolvedPath()) return "made for another table";
  if (h.number_field != kNoSlot) {
    if (h.number_field >= file.Fields().size() ||
        CategoryOf(file.Fields()[h.number_field].type) != ValueCategory::kNumber) {
      return "made for other fields";
    }
    number_field_ = static_cast<int>(h.number_field);
    numbers_offset_ = h.numbers_offset;
    number_count_ = h.number_count;
  }
  live_count_ = h.live_count;
  sort_slot_ = h.sort_slot;
  records_offset_ = h.records_offset;
  order_offset_ = h.order_offset;
  rank_offset_ = h.rank_offset;
  for (uint32_t s = 0; s < h.slot_count; ++s) {
    IndexSlotEntry e;
    std::memcpy(&e, slot_entries + s * sizeof e, sizeof e);
    if (e.field >= file.Fields().size() || file.Fields()[e.field].dbf_type != 'C' ||
        !in_sections(e.starts_offset, 8 * live) || !in_sections(e.text_offset, e.text_size)) {
      return "made for other fields";
    }
    slots_.push_back(Slot{static_cast<int>(e.field), e.starts_offset, e.text_offset, e.text_size});
  }
  const char* shown_fields = nullptr;
  if (h.shown_count > kMaxShownFields || !in_sections(h.shown_offset, 4 * uint64_t{h.shown_count}) ||
      (shown_fields = Bytes(h.shown_offset, 4 * uint64_t{h.shown_count})) == nullptr ||
      (h.shown_count > 0 && (!in_sections(h.rows_offset, 8 * live) || !in_sections(h.row_text_offset, h.row_text_size)))) {
    return "damaged (its sections)";
  }
  shows_.assign(file.Fields().size(), false);
  for (uint32_t k = 0; k < h.shown_count; ++k) {
    uint32_t field;
    std::memcpy(&field, shown_fields + 4 * k, sizeof field);
    if (field >= file.Fields().size() || shows_[field]) return "made for other fields";
    shown_.push_back(static_cast<int>(field));
    shows_[field] = true;
  }
  rows_offset_ = h.rows_offset;
  row_text_offset_ = h.row_text_offset;
  row_text_size_ = h.row_text_size;
  postings_offset_ = h.postings_offset;
  posting_count_ = h.posting_count;
  posting_bytes_offset_ = h.posting_bytes_offset;
  posting_size_ = h.posting_bytes_size;
  return damaged_ ? "damaged" : "";
}

bool SearchIndex::FindNumber(int field, double value, std::vector<uint32_t>& records) const {
  if (field != number_field_ || number_field_ < 0 || damaged_) return false;
  records.clear();
  bool sound = true;
  auto at = [&](uint64_t i) {
    IndexNumberEntry e{};
    const char* p = Bytes(numbers_offset_ + i * sizeof e, sizeof e);
    if (p == nullptr) {
      sound = false;
      return e;
    }
    std::memcpy(&e, p, sizeof e);
    return e;
  };
  // Entries are ordered by value and, among equal values, by record number.
  uint64_t low = 0, high = number_count_;
  while (low < high && sound) {
    const uint64_t mid = low + (high - low) / 2;
    if (at(mid).value < value) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  for (uint64_t i = low; i < number_count_ && sound; ++i) {
    const IndexNumberEntry e = at(i);
    if (!sound || !(e.value == value)) break;
    records.push_back(e.record);
  }
  // An answer read from damaged bytes, or from pages that went away, is no answer.
  if (file_->Lost()) damaged_ = true;
  return sound && !damaged_;
}

bool SearchIndex::HoldsFor(const SqlCondition* where, uint32_t ordinal) const {
  if (where == nullptr) return true;
  return where->HoldsOnTexts([&](int field) -> std::string_view {
    std::string_view text;
    for (const Slot& slot : slots_) {
      if (slot.field == field && SlotText(slot, ordinal, text)) return text;
    }
    return {};
  });
}

bool SearchIndex::Candidates(const std::vector<uint32_t>& pairs, const SqlCondition& where,
                             std::vector<uint32_t>& hits) const {
  // The records holding every required pair, by intersecting their lists (shortest first),
  // each then tested in full. The list of a pair is found by a binary search over the
  // postings, each entry checked as it is read.
  std::vector<PostingCursor> cursors;
  std::vector<uint32_t> counts;
  for (uint32_t pair : pairs) {
    IndexPosting found{};
    uint64_t low = 0, high = posting_count_;
    while (low < high) {
      const uint64_t mid = low + (high - low) / 2;
      const char* p = Bytes(postings_offset_ + mid * sizeof found, sizeof found);
      if (p == nullptr) return false;
      std::memcpy(&found, p, sizeof found);
      if (found.pair < pair) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    if (low == posting_count_) return true;  // no record holds the pair, so none passes
    const char* entry = Bytes(postings_offset_ + low * sizeof found, sizeof found);
    if (entry == nullptr) return false;
    std::memcpy(&found, entry, sizeof found);
    if (found.pair != pair) return true;
    if (found.offset > posting_size_) {
      damaged_ = true;
      return false;
    }
    // A list of n records takes at most 5 bytes a record.
    const uint64_t length = std::min<uint64_t>(uint64_t{found.count} * 5, posting_size_ - found.offset);
    const auto* list = reinterpret_cast<const unsigned char*>(Bytes(posting_bytes_offset_ + found.offset, length));
    if (list == nullptr) return false;
    cursors.emplace_back(list, list + length, found.count);
    counts.push_back(found.count);
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
  return !damaged_;
}

bool SearchIndex::Run(const DbfFile& file, const SqlCondition* where, const std::vector<SqlSortField>& sort,
                      std::vector<uint32_t>& rows, std::vector<uint32_t>* ordinals) const {
  if (damaged_) return false;
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
      // Only the ranks of the hits are read (and their blocks checked): a rare word reads a
      // few blocks, not the whole list.
      std::vector<uint64_t> keyed;
      keyed.reserve(hits.size());
      for (uint32_t hit : hits) {
        uint32_t rank = 0;
        if (hit >= live_count_ || !Word(rank_offset_, hit, rank)) return false;
        keyed.push_back(uint64_t{rank} << 32 | hit);
      }
      std::sort(keyed.begin(), keyed.end());
      for (size_t k = 0; k < keyed.size(); ++k) hits[k] = static_cast<uint32_t>(keyed[k]);
    }
  } else {
    const char* order = by_rank ? Bytes(order_offset_, uint64_t{4} * live_count_) : nullptr;
    if (by_rank && order == nullptr) return false;
    for (uint32_t k = 0; k < live_count_; ++k) {
      uint32_t o = k;
      if (by_rank) std::memcpy(&o, order + uint64_t{4} * k, sizeof o);
      if (o < live_count_ && HoldsFor(where, o)) hits.push_back(o);
    }
  }

  if (ordinals != nullptr) *ordinals = hits;
  const uint32_t record_count = file.RecordCount();
  for (uint32_t& hit : hits) {
    if (hit >= live_count_ || !Word(records_offset_, hit, hit)) return false;
    if (hit >= record_count) {
      damaged_ = true;  // an inconsistent index: the scan answers
      return false;
    }
  }
  // An answer read from damaged bytes, or from pages that went away, is no answer.
  if (file_->Lost()) damaged_ = true;
  if (damaged_) return false;
  rows = std::move(hits);
  return true;
}

}  // namespace shelfra
