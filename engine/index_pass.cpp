// The pass over the table of an index build.
#include "engine/index_pass.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/collation.h"
#include "engine/dbf_file.h"
#include "engine/sql_condition.h"

namespace shelfra::index_build {

namespace {

// Slots of fields this short keep their texts together, after the others, so that a search
// testing only them (the class code) reads and checks a few pages rather than every record's
// texts. They are collected in memory: a few bytes a record.
constexpr int kCompactSlotLength = 32;
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

}  // namespace

void ChooseFields(const DbfFile& file, const SearchIndexFields& wanted, Collected& c) {
  for (const std::string& name : wanted.texts) {
    const int field = file.FieldIndex(name);
    if (field < 0 || file.Fields()[static_cast<size_t>(field)].dbf_type != 'C') continue;
    if (std::find(c.fields.begin(), c.fields.end(), static_cast<uint32_t>(field)) != c.fields.end()) continue;
    if (SameFieldName(name, wanted.sort)) c.sort_slot = static_cast<uint32_t>(c.fields.size());
    if (SameFieldName(name, wanted.grouped)) c.group_slot = static_cast<uint32_t>(c.fields.size());
    c.fields.push_back(static_cast<uint32_t>(field));
  }
  c.number_field = wanted.number.empty() ? -1 : file.FieldIndex(wanted.number);
  if (!wanted.keyed.empty() && wanted.key_of) {
    // Character fields only: the key is made of the text a record's field holds.
    c.keyed_field = file.FieldIndex(wanted.keyed);
    if (c.keyed_field >= 0 && file.Fields()[static_cast<size_t>(c.keyed_field)].dbf_type != 'C') c.keyed_field = -1;
    c.key_of = wanted.key_of;
  }
  if (c.number_field >= 0 &&
      CategoryOf(file.Fields()[static_cast<size_t>(c.number_field)].type) != ValueCategory::kNumber) {
    c.number_field = -1;
  }
  for (const SearchIndexFields::Order& order : wanted.orders) {
    if (order.key && !order.name.empty() && c.orders.size() < kMaxIndexOrders) c.orders.push_back(order);
  }
  c.order_keys.resize(c.orders.size());
  c.order_starts.resize(c.orders.size());
  c.order_dropped.assign(c.orders.size(), false);
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

namespace {

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

}  // namespace

IndexStatus TooLarge(const char* what) {
  return IndexStatus::Failed(IndexReason::kTooLarge, std::string("the ") + what + " exceed 4 GB");
}

namespace {

// The pass over the table, record by record: each live record's folded texts appended to the
// index file (counted from `text_start`), its shown row to the rows' side file, its sort key,
// grouped bytes, number, key and character pairs collected.
class Pass {
 public:
  Pass(const DbfFile& file, Collected& c, IndexWriter& w, uint64_t text_start, SideFile& rows, PairRuns& runs)
      : file_(file), c_(c), w_(w), text_start_(text_start), rows_(rows), runs_(runs) {}

  // Takes live record `number`; false (with the reason in Status()) when the index cannot be
  // made.
  bool Record(uint32_t number, std::string_view record) {
    const uint32_t ordinal = static_cast<uint32_t>(c_.records.size());
    c_.records.push_back(number);
    if (c_.number_field >= 0) {
      // A not-a-number (a stored double) equals no number sought and has no place in the
      // sorted list.
      TFieldValue value = file_.Decode(record, c_.number_field);
      if (!value.is_null && !std::isnan(value.number)) c_.numbers.push_back(IndexNumberEntry{value.number, number, 0});
    }
    if (c_.keyed_field >= 0) {
      TFieldValue value = file_.Decode(record, c_.keyed_field);
      const std::string key = value.is_null ? std::string() : c_.key_of(value.text);
      if (!key.empty() && key.size() <= kMaxIndexKeyLength) {
        IndexKeyEntry& entry = c_.key_entries.emplace_back();
        std::memset(&entry, 0, sizeof entry);
        std::memcpy(entry.key, key.data(), key.size());
        entry.ordinal = ordinal;
      }
    }
    for (size_t k = 0; k < c_.orders.size(); ++k) {
      if (c_.order_dropped[k]) continue;
      const std::optional<std::string> key = c_.orders[k].key(file_, record);
      if (!key || c_.order_keys[k].size() + key->size() > UINT32_MAX) {
        c_.order_dropped[k] = true;  // an order without every record's key is no order
        std::string().swap(c_.order_keys[k]);
        std::vector<uint32_t>().swap(c_.order_starts[k]);
        continue;
      }
      c_.order_starts[k].push_back(static_cast<uint32_t>(c_.order_keys[k].size()));
      c_.order_keys[k] += *key;
    }
    pairs_.Clear();
    for (size_t s = 0; s < c_.fields.size(); ++s) {
      if (!Text(s, record, ordinal)) return false;
    }
    if (!c_.shown.empty()) {
      row_.clear();
      AppendShownRow(file_, c_.shown, record, row_);
      const uint64_t start = rows_.Size();
      if (start + row_.size() > UINT32_MAX) return Fail(TooLarge("shown rows"));
      rows_.Append(row_);
      c_.rows.push_back(static_cast<uint32_t>(start));
      c_.rows.push_back(static_cast<uint32_t>(start + row_.size()));
    }
    IndexStatus spilled = runs_.SpillWhenFull();
    return spilled.Ok() || Fail(std::move(spilled));
  }
  IndexStatus& Status() { return status_; }

 private:
  // The folded text of slot `s` of the record.
  bool Text(size_t s, std::string_view record, uint32_t ordinal) {
    const TFieldValue value = file_.Decode(record, static_cast<int>(c_.fields[s]));
    const std::string_view text = value.text;
    folded_.clear();
    AppendFolded(text, folded_);
    // A compact slot's spans count from the start of its own texts until they are written.
    const uint64_t start = c_.is_compact[s] ? c_.compact[s].size() : w_.Offset() - text_start_;
    if (start + folded_.size() > UINT32_MAX) return Fail(TooLarge("folded texts"));
    if (c_.is_compact[s]) {
      c_.compact[s] += folded_;
    } else {
      w_.Append(folded_.data(), folded_.size());
    }
    c_.spans[s].push_back(static_cast<uint32_t>(start));
    c_.spans[s].push_back(static_cast<uint32_t>(start + folded_.size()));
    ForEachPair(folded_, [&](uint32_t pair) {
      if (pairs_.Insert(pair)) runs_.Add(pair, ordinal);
    });
    if (s == c_.sort_slot) {
      c_.key_starts.push_back(c_.keys.size());
      AppendSortKey(text, c_.keys);
    }
    if (s == c_.group_slot) {
      if (c_.group_texts.size() + folded_.size() > UINT32_MAX) return Fail(TooLarge("folded texts"));
      c_.group_starts.push_back(static_cast<uint32_t>(c_.group_texts.size()));
      c_.group_texts += folded_;
      c_.group_bytes.push_back(value.is_null || text.empty() ? 0 : static_cast<uint8_t>(text[0]));
    }
    return true;
  }
  bool Fail(IndexStatus status) {
    status_ = std::move(status);
    return false;
  }

  const DbfFile& file_;
  Collected& c_;
  IndexWriter& w_;
  uint64_t text_start_;
  SideFile& rows_;
  PairRuns& runs_;
  PairSet pairs_;
  std::string folded_;
  std::string row_;
  IndexStatus status_;
};

}  // namespace

// A table that could not be read to its end, or that changed while it was read, must not
// leave behind an index of bytes it no longer holds.
IndexStatus TableChanged() {
  return IndexStatus::Failed(IndexReason::kTableChanged, "the table changed while it was read");
}

IndexStatus CollectRecords(const DbfFile& file, Collected& c, IndexWriter& w, uint64_t text_start, PairRuns& runs,
                           SideFile& rows) {
  Pass pass(file, c, w, text_start, rows, runs);
  const uint32_t length = file.RecordLength();
  EngineStatus scanned = file.ScanChunks([&](uint32_t first, uint32_t n, std::string_view chunk) {
    for (uint32_t i = 0; i < n; ++i) {
      std::string_view record = chunk.substr(static_cast<size_t>(i) * length, length);
      if (!DbfFile::IsDeleted(record) && !pass.Record(first + i, record)) return false;
    }
    return true;
  });
  if (!scanned.Ok()) return TableChanged();
  if (!pass.Status().Ok()) return std::move(pass.Status());
  IndexStatus spilled = runs.Finish();
  rows.Flush();
  if (rows.Error() != 0) return IndexStatus::Refused(IndexReason::kWriteFailed, "cannot write the side file", rows.Error());
  return spilled;
}

}  // namespace shelfra::index_build
