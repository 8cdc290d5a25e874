// SearchIndex: answering statements, seeks and counts from an open index.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>

#include "base/text.h"
#include "engine/dbf_file.h"
#include "engine/index_format.h"
#include "engine/search_index.h"
#include "engine/sql_condition.h"

namespace shelfra {

bool SearchIndex::FindNumber(int field, double value, std::vector<uint32_t>& records) const {
  if (field != number_field_ || number_field_ < 0 || damaged_) return false;
  records.clear();
  // Entries are ordered by value and, among equal values, by record number.
  uint64_t low = 0;
  bool sound = FirstNotBelow<IndexNumberEntry>(
      numbers_offset_, number_count_, [&](const IndexNumberEntry& e) { return e.value < value; }, low);
  for (uint64_t i = low; i < number_count_ && sound; ++i) {
    IndexNumberEntry e{};
    sound = Entry(numbers_offset_, i, e);
    if (!sound || !(e.value == value)) break;
    records.push_back(e.record);
  }
  // An answer read from damaged bytes, or from pages that went away, is no answer.
  if (file_->Lost()) damaged_ = true;
  return sound && !damaged_;
}

const SearchIndex::KeptOrder* SearchIndex::OrderNamed(std::string_view name) const {
  for (const KeptOrder& o : orders_) {
    if (o.name == name) return &o;
  }
  return nullptr;
}

bool SearchIndex::OrderWindow(std::string_view name, uint32_t first, uint32_t count,
                              std::vector<uint32_t>& records) const {
  const KeptOrder* kept = OrderNamed(name);
  if (kept == nullptr || damaged_) return false;
  records.clear();
  const uint32_t end = first >= live_count_ ? first : first + std::min(count, live_count_ - first);
  for (uint32_t place = first; place < end; ++place) {
    uint32_t ordinal = 0;
    uint32_t record = 0;
    if (!Entry(kept->order_offset, place, ordinal)) return false;
    if (ordinal >= live_count_) damaged_ = true;
    if (damaged_ || !Entry(records_offset_, ordinal, record)) return false;
    records.push_back(record);
  }
  if (file_->Lost()) damaged_ = true;
  return !damaged_;
}

bool SearchIndex::Reorder(std::string_view name, const std::vector<uint32_t>& ordinals,
                          std::vector<uint32_t>& places) const {
  const KeptOrder* kept = OrderNamed(name);
  if (kept == nullptr || damaged_) return false;
  places.clear();
  places.reserve(ordinals.size());
  if (ordinals.size() < live_count_ / 32) {
    // Few records: their ranks in the order, sorted.
    std::vector<uint64_t> keyed;
    keyed.reserve(ordinals.size());
    for (size_t i = 0; i < ordinals.size(); ++i) {
      uint32_t rank = 0;
      if (ordinals[i] >= live_count_) damaged_ = true;
      if (damaged_ || !Entry(kept->rank_offset, ordinals[i], rank)) return false;
      keyed.push_back(uint64_t{rank} << 32 | i);
    }
    std::sort(keyed.begin(), keyed.end());
    for (uint64_t k : keyed) places.push_back(static_cast<uint32_t>(k));
  } else {
    // Many: the whole order read once, each record of the answer taken where it comes.
    std::vector<uint32_t> place_of(live_count_, UINT32_MAX);
    for (size_t i = 0; i < ordinals.size(); ++i) {
      if (ordinals[i] >= live_count_ || place_of[ordinals[i]] != UINT32_MAX) damaged_ = true;
      if (damaged_) return false;
      place_of[ordinals[i]] = static_cast<uint32_t>(i);
    }
    const char* order = Bytes(kept->order_offset, uint64_t{4} * live_count_);
    if (order == nullptr) return false;
    for (uint32_t k = 0; k < live_count_; ++k) {
      uint32_t o = 0;
      std::memcpy(&o, order + uint64_t{4} * k, sizeof o);
      if (o >= live_count_) {
        damaged_ = true;
        return false;
      }
      if (place_of[o] != UINT32_MAX) places.push_back(place_of[o]);
    }
    if (places.size() != ordinals.size()) damaged_ = true;  // the order is no permutation
  }
  if (file_->Lost()) damaged_ = true;
  return !damaged_;
}

bool SearchIndex::FindKey(int field, std::string_view rule, std::string_view key,
                          std::vector<uint32_t>& records) const {
  if (field != keyed_field_ || keyed_field_ < 0 || rule != key_rule_ || damaged_) return false;
  records.clear();
  if (key.empty() || key.size() > kMaxIndexKeyLength) return true;  // no record has such a key
  char wanted[kMaxIndexKeyLength + 1] = {};
  std::memcpy(wanted, key.data(), key.size());
  uint64_t low = 0;
  bool sound = FirstNotBelow<IndexKeyEntry>(
      keys_offset_, key_count_, [&](const IndexKeyEntry& e) { return std::memcmp(e.key, wanted, sizeof wanted) < 0; },
      low);
  std::vector<uint32_t> ordinals;
  for (uint64_t i = low; i < key_count_ && sound; ++i) {
    IndexKeyEntry e{};
    sound = Entry(keys_offset_, i, e);
    if (!sound || std::memcmp(e.key, wanted, sizeof wanted) != 0) break;
    ordinals.push_back(e.ordinal);
  }
  for (uint32_t o : ordinals) {
    uint32_t record = 0;
    if (o >= live_count_) damaged_ = true;
    if (damaged_ || !Entry(records_offset_, o, record)) return false;
    records.push_back(record);
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
    uint64_t low = 0;
    if (!FirstNotBelow<IndexPosting>(
            postings_offset_, posting_count_, [&](const IndexPosting& p) { return p.pair < pair; }, low)) {
      return false;
    }
    if (low == posting_count_) return true;  // no record holds the pair, so none passes
    IndexPosting found{};
    if (!Entry(postings_offset_, low, found)) return false;
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

bool SearchIndex::GroupBound(std::string_view key, bool past_prefix, uint64_t& at) const {
  const Slot& slot = slots_[group_slot_];
  bool sound = true;
  auto below = [&](uint32_t ordinal) {
    std::string_view text;
    if (ordinal >= live_count_) damaged_ = true;
    if (damaged_ || !SlotText(slot, ordinal, text)) {
      sound = false;
      return false;
    }
    return text < key || (past_prefix && text.starts_with(key));
  };
  return FirstNotBelow<uint32_t>(group_order_offset_, live_count_, below, at) && sound;
}

bool SearchIndex::GroupHits(const SqlCondition& where, std::vector<uint32_t>& hits) const {
  if (group_slot_ == kNoSlot) return false;
  const int field = slots_[group_slot_].field;
  std::vector<uint16_t> codes;
  bool alone = false;
  if (!where.RequiredLeadingText(field, codes, alone)) return false;
  // The records whose folded text begins with the folded leading text lie together in the
  // grouped order. (A lone lead byte in it could join the byte after it in a text: no range.)
  std::string key;
  for (uint16_t code : codes) {
    if (code < 0x100 && IsSjisLeadByte(static_cast<unsigned char>(code))) return false;
    KanaFold::AppendCode(code, key);
  }
  uint64_t first = 0;
  uint64_t end = 0;
  if (!GroupBound(key, false, first) || !GroupBound(key, true, end) || end < first) return false;
  const char* range = Bytes(group_order_offset_ + 4 * first, 4 * (end - first));
  if (range == nullptr) return false;
  // When that test alone reads the field and the rest of the condition reads no other, every
  // record of the range passes, or none does: one evaluation tells which.
  bool reads_other = false;
  const bool holds = where.HoldsOnTexts([&](int f) -> std::string_view {
    if (f == field) return key;
    reads_other = true;
    return {};
  });
  const bool constant = alone && !reads_other;
  hits.clear();
  if (constant && !holds) return true;
  hits.resize(end - first);
  if (!hits.empty()) std::memcpy(hits.data(), range, 4 * hits.size());
  size_t n = 0;
  for (uint32_t o : hits) {
    if (o >= live_count_) {
      damaged_ = true;
      return false;
    }
    if (constant || HoldsFor(&where, o)) hits[n++] = o;
  }
  hits.resize(n);
  return !damaged_;
}

bool SearchIndex::Ordered(std::vector<uint32_t>& hits, bool by_rank) const {
  if (!by_rank) {
    std::sort(hits.begin(), hits.end());
    return true;
  }
  if (hits.size() < live_count_ / 32) {
    // Only the ranks of the hits are read (and their blocks checked): a rare word reads a few
    // blocks, not the whole list.
    std::vector<uint64_t> keyed;
    keyed.reserve(hits.size());
    for (uint32_t hit : hits) {
      uint32_t rank = 0;
      if (hit >= live_count_ || !Entry(rank_offset_, hit, rank)) return false;
      keyed.push_back(uint64_t{rank} << 32 | hit);
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t k = 0; k < keyed.size(); ++k) hits[k] = static_cast<uint32_t>(keyed[k]);
    return true;
  }
  // Many hits: the whole order is read once, keeping those marked (each hit is one record).
  std::vector<uint64_t> marked((live_count_ + 63) / 64, 0);
  for (uint32_t hit : hits) {
    if (hit >= live_count_) return false;
    marked[hit / 64] |= uint64_t{1} << (hit % 64);
  }
  const char* order = Bytes(order_offset_, uint64_t{4} * live_count_);
  if (order == nullptr) return false;
  size_t n = 0;
  for (uint32_t k = 0; k < live_count_ && n < hits.size(); ++k) {
    uint32_t o = 0;
    std::memcpy(&o, order + uint64_t{4} * k, sizeof o);
    if (o >= live_count_) break;
    hits[n] = o;  // kept when marked: no branch to mispredict on the mark
    n += marked[o / 64] >> (o % 64) & 1;
  }
  if (n != hits.size()) damaged_ = true;  // the order is no permutation of the records
  return !damaged_;
}

bool SearchIndex::CountLeadingBytes(int field, const std::vector<uint32_t>& ordinals,
                                    std::array<uint32_t, 256>& counts) const {
  if (group_slot_ == kNoSlot || slots_[group_slot_].field != field || damaged_) return false;
  counts.fill(0);
  // Few records read their own bytes (and blocks); many read the whole section once.
  const char* all = ordinals.size() < live_count_ / 64 ? nullptr : Bytes(group_bytes_offset_, live_count_);
  for (uint32_t o : ordinals) {
    uint8_t byte = 0;
    if (o >= live_count_) damaged_ = true;
    if (damaged_) return false;
    if (all != nullptr) {
      byte = static_cast<uint8_t>(all[o]);
    } else if (!Entry(group_bytes_offset_, o, byte)) {
      return false;
    }
    ++counts[byte];
  }
  if (file_->Lost()) damaged_ = true;
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
    if (!Candidates(pairs, *where, hits) || !Ordered(hits, by_rank)) return false;
  } else if (where != nullptr && GroupHits(*where, hits)) {
    if (!Ordered(hits, by_rank)) return false;
  } else {
    if (damaged_) return false;
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
  // Many hits read the record numbers whole, few their own entries.
  const char* numbers = hits.size() < live_count_ / 64 ? nullptr : Bytes(records_offset_, uint64_t{4} * live_count_);
  for (uint32_t& hit : hits) {
    if (hit >= live_count_) return false;
    if (numbers != nullptr) {
      std::memcpy(&hit, numbers + uint64_t{4} * hit, sizeof hit);
    } else if (!Entry(records_offset_, hit, hit)) {
      return false;
    }
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
