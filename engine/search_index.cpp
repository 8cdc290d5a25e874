// SearchIndex: opening the side file, checking it against the table, and reading its checked
// blocks (the answers are search_index_run.cpp's).
#include "engine/search_index.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "base/files.h"
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

// The start and end of one live record's text or row, as the span arrays keep them.
struct SpanEntry {
  uint32_t start;
  uint32_t end;
};

IndexStatus Malformed(const char* what) { return IndexStatus::Failed(IndexReason::kMalformed, what); }
IndexStatus OtherFields() { return IndexStatus::Failed(IndexReason::kOtherFields, "made for other fields"); }
IndexStatus DamagedWhileLoading() { return IndexStatus::Failed(IndexReason::kDamaged, "damaged"); }

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
  // Offsets come from the file; one a sound build never writes (past the sections, into the
  // CRC table or beyond the mapping) makes the index damaged instead of being read.
  if (offset < kIndexSectionsStart || offset > crc_offset_ || size > crc_offset_ - offset) {
    damaged_ = true;
    return nullptr;
  }
  if (size == 0) return data_ + offset;
  const uint64_t first = (offset - kIndexSectionsStart) / kIndexBlockSize;
  const uint64_t last = (offset + size - 1 - kIndexSectionsStart) / kIndexBlockSize;
  return Verified(first, last) ? data_ + offset : nullptr;
}

bool SearchIndex::Span(uint64_t offset, uint32_t ordinal, uint32_t& start, uint32_t& end) const {
  SpanEntry span{};
  if (!Entry(offset, ordinal, span)) return false;
  start = span.start;
  end = span.end;
  return true;
}

IndexStatus SearchIndex::Status() const {
  if (!damaged_) return {};
  return IndexStatus::Failed(IndexReason::kDamaged,
                             "damaged (a block failed its check, or the file changed under the reader)");
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
  for (const ShownShape& shape : shown_shapes_) {
    size_t length = SIZE_MAX;
    if (row.size() >= 2) length = static_cast<unsigned char>(row[0]) | size_t{static_cast<unsigned char>(row[1])} << 8;
    const bool fits = shape.character ? length <= shape.length : length == shape.length;
    if (!fits || row.size() - 2 < length) {
      sound = false;
      break;
    }
    by_field[shape.field] = row.substr(2, length);
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

void SearchIndex::PrefetchShownRow(uint32_t ordinal, bool row_too) const {
  // Without shown fields the span array's place was never checked to lie in the file.
  if (shown_.empty() || ordinal >= live_count_ || damaged_) return;
  const char* place = data_ + rows_offset_ + uint64_t{ordinal} * sizeof(SpanEntry);
  if (!row_too) {
    __builtin_prefetch(place);
    return;
  }
  // The place is read unchecked: its bytes only say where to prefetch, and a prefetch of
  // any address is harmless. ShownRow checks them when it reads the row.
  SpanEntry span;
  std::memcpy(&span, place, sizeof span);
  if (span.start > span.end || span.end > row_text_size_) return;
  constexpr uint32_t kLine = 64;
  const char* row = data_ + row_text_offset_;
  for (uint32_t at = span.start & ~(kLine - 1); at < span.end; at += kLine) __builtin_prefetch(row + at);
}

std::string SearchIndex::PathFor(const DbfFile& file, const std::string& directory) {
  static const char kHex[] = "0123456789abcdef";
  uint64_t h = Fnv1a(file.ResolvedPath());
  std::string name(16, '0');
  for (int i = 15; i >= 0; --i, h >>= 4) name[static_cast<size_t>(i)] = kHex[h & 15];
  return directory + "/" + name + ".idx";
}

IndexStatus SearchIndex::Open(const DbfFile& file, const std::string& path, std::unique_ptr<SearchIndex>& out) {
  std::unique_ptr<SearchIndex> index(new SearchIndex());
  if (int err = MappedFile::Open(path, index->file_, /*watched=*/false, /*own_only=*/true); err != 0) {
    if (err == ENOENT) return IndexStatus::Failed(IndexReason::kMissing, "missing");
    if (err == ELOOP || err == EPERM) {
      struct stat st;
      const std::string what = ::lstat(path.c_str(), &st) == 0 ? NotOwnFile(st, ::geteuid()) : "";
      return IndexStatus::Failed(IndexReason::kNotOwn,
                                 "not this program's own file (" + (what.empty() ? ErrnoText(err) : what) + "), left alone");
    }
    return IndexStatus::Refused(IndexReason::kUnreadable, "unreadable", err);
  }
  index->data_ = index->file_->Bytes().data();
  index->size_ = index->file_->Bytes().size();
  if (index->size_ < sizeof(IndexFileHeader)) return Malformed("cut short");
  if (IndexStatus s = index->Load(file); !s.Ok()) return s;
  out = std::move(index);
  return {};
}

IndexStatus SearchIndex::CheckHeader(const IndexFileHeader& h, uint32_t header_crc, const DbfFile& file) const {
  if (std::memcmp(h.magic, kIndexMagic, sizeof kIndexMagic) != 0 || h.version != kIndexVersion) {
    return IndexStatus::Failed(IndexReason::kOtherVersion, "of another program version");
  }
  if (Crc32c(&h, sizeof h) != header_crc || h.file_size != size_) return Malformed("damaged (its header)");
  const std::string_view header = file.HeaderBytes();
  const FileIdentity& table = file.Identity();
  if (h.table_size != table.size || h.table_mtime_ns != table.mtime_ns || h.table_ctime_ns != table.ctime_ns ||
      h.table_device != table.device || h.table_inode != table.inode || h.header_length != header.size() ||
      h.header_hash != Fnv1a(header) || h.record_count != file.RecordCount() ||
      h.record_length != file.RecordLength()) {
    return IndexStatus::Failed(IndexReason::kStale, "stale (the table was replaced or changed since)");
  }
  if (h.live_count > h.record_count || h.slot_count > kMaxSlots ||
      (h.sort_slot != kNoSlot && h.sort_slot >= h.slot_count) ||
      (h.group_slot != kNoSlot && h.group_slot >= h.slot_count)) {
    return Malformed("damaged (its header)");
  }
  return {};
}

bool SearchIndex::InSections(uint64_t offset, uint64_t size) const {
  return offset >= kIndexSectionsStart && offset <= crc_offset_ && size <= crc_offset_ - offset && offset % 4 == 0;
}

IndexStatus SearchIndex::LoadSections(const IndexFileHeader& h, const DbfFile& file) {
  // The CRC table closes the file; the sections lie between the header and it.
  crc_offset_ = h.crc_offset;
  const uint64_t sections = crc_offset_ >= kIndexSectionsStart ? crc_offset_ - kIndexSectionsStart : 0;
  if (crc_offset_ < kIndexSectionsStart || crc_offset_ % 4 != 0 || crc_offset_ > size_ ||
      h.block_count != (sections + kIndexBlockSize - 1) / kIndexBlockSize ||
      h.block_count * sizeof(uint32_t) != size_ - crc_offset_) {
    return Malformed("damaged (its checksums)");
  }
  // The CRC table itself is not checked as a whole (that would read all of it for every
  // request): a damaged entry fails its block's check, which makes the index be built again;
  // an entry that matches damaged data by chance is as unlikely as any CRC collision.
  verified_.assign(h.block_count / kBlocksPerBitmap + 1, {});
  const uint64_t live = h.live_count;
  const char* path = nullptr;
  if (!InSections(h.path_offset, h.path_length) || !InSections(h.records_offset, 4 * live) ||
      !InSections(h.order_offset, 4 * live) || !InSections(h.rank_offset, 4 * live) ||
      (h.group_slot != kNoSlot &&
       (!InSections(h.group_order_offset, 4 * live) || !InSections(h.group_bytes_offset, live))) ||
      !InSections(h.slots_offset, sizeof(IndexSlotEntry) * h.slot_count) || h.posting_count > size_ ||
      !InSections(h.postings_offset, sizeof(IndexPosting) * h.posting_count) ||
      !InSections(h.posting_bytes_offset, h.posting_bytes_size) || h.number_count > h.live_count ||
      !InSections(h.numbers_offset, sizeof(IndexNumberEntry) * h.number_count) || h.key_count > h.live_count ||
      !InSections(h.keys_offset, sizeof(IndexKeyEntry) * h.key_count) ||
      !InSections(h.key_rule_offset, h.key_rule_length) || Bytes(h.key_rule_offset, h.key_rule_length) == nullptr ||
      (path = Bytes(h.path_offset, h.path_length)) == nullptr ||
      Bytes(h.slots_offset, sizeof(IndexSlotEntry) * h.slot_count) == nullptr) {
    return Malformed("damaged (its sections)");
  }
  if (std::string_view(path, h.path_length) != file.ResolvedPath()) {
    return IndexStatus::Failed(IndexReason::kOtherTable, "made for another table");
  }
  if (h.number_field != kNoSlot) {
    if (h.number_field >= file.Fields().size() ||
        CategoryOf(file.Fields()[h.number_field].type) != ValueCategory::kNumber) {
      return OtherFields();
    }
    number_field_ = static_cast<int>(h.number_field);
    numbers_offset_ = h.numbers_offset;
    number_count_ = h.number_count;
  }
  if (h.order_count > kMaxIndexOrders || !InSections(h.orders_offset, sizeof(IndexOrderEntry) * h.order_count) ||
      Bytes(h.orders_offset, sizeof(IndexOrderEntry) * h.order_count) == nullptr) {
    return Malformed("damaged (its sections)");
  }
  for (uint32_t k = 0; k < h.order_count; ++k) {
    IndexOrderEntry e{};
    (void)Entry(h.orders_offset, k, e);  // checked just above
    if (!InSections(e.name_offset, e.name_length) || Bytes(e.name_offset, e.name_length) == nullptr ||
        !InSections(e.order_offset, 4 * live) || !InSections(e.rank_offset, 4 * live)) {
      return Malformed("damaged (its sections)");
    }
    orders_.push_back(KeptOrder{std::string(data_ + e.name_offset, e.name_length), e.order_offset, e.rank_offset});
  }
  if (h.keyed_field != kNoSlot) {
    if (h.keyed_field >= file.Fields().size()) return OtherFields();
    keyed_field_ = static_cast<int>(h.keyed_field);
    key_rule_.assign(data_ + h.key_rule_offset, h.key_rule_length);
    keys_offset_ = h.keys_offset;
    key_count_ = h.key_count;
  }
  live_count_ = h.live_count;
  sort_slot_ = h.sort_slot;
  records_offset_ = h.records_offset;
  order_offset_ = h.order_offset;
  rank_offset_ = h.rank_offset;
  group_slot_ = h.group_slot;
  group_order_offset_ = h.group_order_offset;
  group_bytes_offset_ = h.group_bytes_offset;
  return {};
}

IndexStatus SearchIndex::LoadSlots(const IndexFileHeader& h, const DbfFile& file) {
  for (uint32_t s = 0; s < h.slot_count; ++s) {
    IndexSlotEntry e{};
    (void)Entry(h.slots_offset, s, e);  // the slot entries' blocks were checked by LoadSections
    if (e.field >= file.Fields().size() || file.Fields()[e.field].dbf_type != 'C' ||
        !InSections(e.starts_offset, uint64_t{8} * h.live_count) || !InSections(e.text_offset, e.text_size)) {
      return OtherFields();
    }
    slots_.push_back(Slot{static_cast<int>(e.field), e.starts_offset, e.text_offset, e.text_size});
  }
  return {};
}

IndexStatus SearchIndex::LoadShown(const IndexFileHeader& h, const DbfFile& file) {
  const uint64_t live = h.live_count;
  if (h.shown_count > kMaxShownFields || !InSections(h.shown_offset, 4 * uint64_t{h.shown_count}) ||
      Bytes(h.shown_offset, 4 * uint64_t{h.shown_count}) == nullptr ||
      (h.shown_count > 0 && (!InSections(h.rows_offset, 8 * live) || !InSections(h.row_text_offset, h.row_text_size)))) {
    return Malformed("damaged (its sections)");
  }
  shows_.assign(file.Fields().size(), false);
  for (uint32_t k = 0; k < h.shown_count; ++k) {
    uint32_t field = 0;
    (void)Entry(h.shown_offset, k, field);  // checked just above
    if (field >= file.Fields().size() || shows_[field]) return OtherFields();
    shown_.push_back(static_cast<int>(field));
    shows_[field] = true;
    const DbfField& f = file.Fields()[field];
    shown_shapes_.push_back(ShownShape{field, static_cast<size_t>(f.length), f.dbf_type == 'C'});
  }
  rows_offset_ = h.rows_offset;
  row_text_offset_ = h.row_text_offset;
  row_text_size_ = h.row_text_size;
  return {};
}

IndexStatus SearchIndex::Load(const DbfFile& file) {
  IndexFileHeader h;
  std::memcpy(&h, data_, sizeof h);
  const uint32_t header_crc = h.header_crc;
  h.header_crc = 0;  // as it was when its CRC was taken
  if (IndexStatus s = CheckHeader(h, header_crc, file); !s.Ok()) return s;
  if (IndexStatus s = LoadSections(h, file); !s.Ok()) return s;
  if (IndexStatus s = LoadSlots(h, file); !s.Ok()) return s;
  if (IndexStatus s = LoadShown(h, file); !s.Ok()) return s;
  postings_offset_ = h.postings_offset;
  posting_count_ = h.posting_count;
  posting_bytes_offset_ = h.posting_bytes_offset;
  posting_size_ = h.posting_bytes_size;
  return damaged_ ? DamagedWhileLoading() : IndexStatus{};
}

}  // namespace shelfra
