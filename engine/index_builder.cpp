// SearchIndex::Build: one pass over the table writes the folded texts straight into the file
// (those of short fields are gathered and written after the others), the shown rows into a
// side file copied in after them, and collects the record numbers, sort keys, numbers and
// character pairs; the pairs go through PairRuns (sorted in bounded runs spilled to another
// side file, merged at the end), so memory stays bounded whatever the table's size.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>

#include "base/scoped_fd.h"
#include "engine/collation.h"
#include "engine/crc32c.h"
#include "engine/dbf_file.h"
#include "engine/index_format.h"
#include "engine/index_pass.h"
#include "engine/index_runs.h"
#include "engine/index_writer.h"
#include "engine/search_index.h"
#include "engine/sql_condition.h"

namespace shelfra {

namespace {

using index_build::Collected;
using index_build::TableChanged;
using index_build::TooLarge;

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

// The live records by the grouped slot's folded texts (stable: equal texts keep table order).
std::vector<uint32_t> GroupOrder(Collected& c) {
  std::vector<uint32_t> order;
  if (c.group_slot == kNoSlot) return order;
  order.resize(c.records.size());
  std::iota(order.begin(), order.end(), 0u);
  c.group_starts.push_back(static_cast<uint32_t>(c.group_texts.size()));
  auto text = [&](uint32_t o) {
    return std::string_view(c.group_texts).substr(c.group_starts[o], c.group_starts[o + 1] - c.group_starts[o]);
  };
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return text(a) < text(b); });
  std::string().swap(c.group_texts);
  std::vector<uint32_t>().swap(c.group_starts);
  return order;
}

// The other orders' sections (each a stable sort of the sort field's order by its keys, so
// equal keys keep it), their names and their directory.
void WriteOrders(Collected& c, const std::vector<uint32_t>& by_sort, IndexFileHeader& h, IndexWriter& w) {
  std::vector<IndexOrderEntry> entries;
  for (size_t k = 0; k < c.orders.size(); ++k) {
    if (c.order_dropped[k]) continue;
    const std::string& keys = c.order_keys[k];
    std::vector<uint32_t>& starts = c.order_starts[k];
    starts.push_back(static_cast<uint32_t>(keys.size()));
    auto key = [&](uint32_t o) { return std::string_view(keys).substr(starts[o], starts[o + 1] - starts[o]); };
    std::vector<uint32_t> order = by_sort;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    std::vector<uint32_t> rank(order.size());
    for (uint32_t place = 0; place < order.size(); ++place) rank[order[place]] = place;
    IndexOrderEntry& e = entries.emplace_back();
    std::memset(&e, 0, sizeof e);
    e.name_offset = w.Offset();
    e.name_length = static_cast<uint32_t>(c.orders[k].name.size());
    w.Append(c.orders[k].name.data(), c.orders[k].name.size());
    w.Pad();
    e.order_offset = w.Section(order);
    e.rank_offset = w.Section(rank);
    std::string().swap(c.order_keys[k]);
    std::vector<uint32_t>().swap(starts);
  }
  h.order_count = static_cast<uint32_t>(entries.size());
  h.orders_offset = w.Section(entries);
}

// Appends the rows of the side file `fd` (`size` bytes; `spans` their start and end, by live
// record) to `w` in `order`, and makes `spans` tell where they are now. False when the side
// file cannot be read.
bool CopyRowsInOrder(int fd, uint64_t size, const std::vector<uint32_t>& order, std::vector<uint32_t>& spans,
                     IndexWriter& w) {
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

// The header's fields that describe the table (its file, header bytes and shape) and the
// index's fields.
IndexFileHeader HeaderFor(const DbfFile& file, const Collected& c) {
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
  h.group_slot = c.group_slot;
  h.path_length = static_cast<uint32_t>(file.ResolvedPath().size());
  h.number_field = c.number_field >= 0 ? static_cast<uint32_t>(c.number_field) : kNoSlot;
  h.keyed_field = c.keyed_field >= 0 ? static_cast<uint32_t>(c.keyed_field) : kNoSlot;
  const FileIdentity& identity = file.Identity();
  h.table_device = identity.device;
  h.table_inode = identity.inode;
  h.table_ctime_ns = identity.ctime_ns;
  return h;
}

// The compact slots' texts, after the others, each slot's together; the spans moved with them.
IndexStatus WriteCompactTexts(Collected& c, IndexWriter& w, uint64_t text_start) {
  for (size_t s = 0; s < c.fields.size(); ++s) {
    if (!c.is_compact[s]) continue;
    const uint64_t base = w.Offset() - text_start;
    if (base + c.compact[s].size() > UINT32_MAX) return TooLarge("folded texts");
    w.Append(c.compact[s].data(), c.compact[s].size());
    for (uint32_t& at : c.spans[s]) at += static_cast<uint32_t>(base);
    std::string().swap(c.compact[s]);
  }
  return {};
}

// The sections that follow the texts: the shown rows (copied from their side file in sort
// order: a sorted answer reads them front to back), the record numbers, the order and the
// ranks, the grouped order and first bytes, the slots, the shown fields and rows, the record
// lists, the numbers and the keys.
IndexStatus WriteSections(int rows_fd, const SideFile& rows_file, Collected& c, const PairRuns& runs,
                          uint64_t text_start, uint64_t text_size, IndexFileHeader& h, IndexWriter& w) {
  std::vector<uint32_t> order, rank;
  SortOrder(c, order, rank);
  h.row_text_offset = w.Offset();
  h.row_text_size = rows_file.Size();
  if (!CopyRowsInOrder(rows_fd, rows_file.Size(), order, c.rows, w)) {
    return IndexStatus::Failed(IndexReason::kReadBackFailed, "cannot read the side file back");
  }
  w.Pad();
  h.records_offset = w.Section(c.records);
  h.order_offset = w.Section(order);
  h.rank_offset = w.Section(rank);
  WriteOrders(c, order, h, w);
  h.group_order_offset = w.Section(GroupOrder(c));
  h.group_bytes_offset = w.Section(c.group_bytes);
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
  IndexStatus merged = runs.Merge([&](uint32_t pair, uint32_t count, std::string_view list) {
    postings.push_back(IndexPosting{pair, count, w.Offset() - h.posting_bytes_offset});
    w.Append(list.data(), list.size());
  });
  if (!merged.Ok()) return merged;
  h.posting_bytes_size = w.Offset() - h.posting_bytes_offset;
  w.Pad();
  h.postings_offset = w.Section(postings);
  h.posting_count = postings.size();
  std::stable_sort(c.numbers.begin(), c.numbers.end(),
                   [](const IndexNumberEntry& a, const IndexNumberEntry& b) { return a.value < b.value; });
  h.numbers_offset = w.Section(c.numbers);
  h.number_count = c.numbers.size();
  std::stable_sort(c.key_entries.begin(), c.key_entries.end(), [](const IndexKeyEntry& a, const IndexKeyEntry& b) {
    return std::memcmp(a.key, b.key, sizeof a.key) < 0;
  });
  h.keys_offset = w.Section(c.key_entries);
  h.key_count = c.key_entries.size();
  return {};
}

// The temporary files of one build; each is removed unless kept. Made with O_EXCL, so never
// through a link planted at its name, and only a file this build made is removed.
struct Temporary {
  std::string path;
  ScopedFd fd;
  bool made = false;
  bool kept = false;
  bool Make(int flags, mode_t mode) {
    fd.Reset(::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    made = fd.Valid();
    return made;
  }
  ~Temporary() {
    fd.Reset();
    if (made && !kept) ::unlink(path.c_str());
  }
};

IndexStatus WriteFailed(int err) { return IndexStatus::Refused(IndexReason::kWriteFailed, "cannot write the index", err); }

// Writes the whole file to `fd` in one pass over the table, with the side files `pairs_fd`
// and `rows_fd`.
IndexStatus WriteIndex(int fd, int pairs_fd, int rows_fd, const DbfFile& file, Collected& c, std::string_view key_rule,
                       size_t run_entries) {
  IndexFileHeader h = HeaderFor(file, c);
  IndexWriter w(fd);
  w.Append(&h, sizeof h);
  w.Pad();
  h.path_offset = w.Offset();
  const std::string full_path = file.ResolvedPath();
  w.Append(full_path.data(), full_path.size());
  w.Pad();
  h.key_rule_offset = w.Offset();
  h.key_rule_length = static_cast<uint32_t>(key_rule.size());
  w.Append(key_rule.data(), key_rule.size());
  w.Pad();
  const uint64_t text_start = w.Offset();
  SideFile rows_file(rows_fd);
  PairRuns runs(pairs_fd, run_entries);
  if (IndexStatus s = index_build::CollectRecords(file, c, w, text_start, runs, rows_file); !s.Ok()) return s;
  if (IndexStatus s = WriteCompactTexts(c, w, text_start); !s.Ok()) return s;
  const uint64_t text_size = w.Offset() - text_start;
  w.Pad();
  h.live_count = static_cast<uint32_t>(c.records.size());
  if (IndexStatus s = WriteSections(rows_fd, rows_file, c, runs, text_start, text_size, h, w); !s.Ok()) return s;
  h.crc_offset = w.Offset();
  const std::vector<uint32_t> crcs = w.BlockCrcs();
  h.block_count = crcs.size();
  h.crc_table_crc = Crc32c(crcs.data(), crcs.size() * sizeof(uint32_t));
  w.AppendVector(crcs);
  h.file_size = w.Offset();
  h.header_crc = 0;
  h.header_crc = Crc32c(&h, sizeof h);
  w.Flush();
  if (w.Error() != 0) return WriteFailed(w.Error());
  if (int err = WriteAt(fd, std::string_view(reinterpret_cast<const char*>(&h), sizeof h), 0); err != 0) {
    return WriteFailed(err);
  }
  return {};
}

}  // namespace

IndexStatus SearchIndex::Build(const DbfFile& file, const SearchIndexFields& fields, const std::string& path,
                               size_t run_entries) {
  Collected c;
  index_build::ChooseFields(file, fields, c);
  if (c.fields.empty() && c.number_field < 0 && c.shown.empty() && c.keyed_field < 0) {
    return IndexStatus::Failed(IndexReason::kNoFields, "the table has none of the fields an index holds");
  }
  // The temporary files first, so that a directory that cannot be written costs nothing more.
  // All carry the temporary prefix, so a later build removes them if this one dies.
  static std::atomic<unsigned> serial{0};
  Temporary temp, pairs, rows;
  temp.path = path + std::string(kIndexTemporaryInfix) + std::to_string(::getpid()) + "." +
              std::to_string(serial.fetch_add(1));
  pairs.path = temp.path + ".pairs";
  rows.path = temp.path + ".rows";
  if (!temp.Make(O_WRONLY, 0644) || !pairs.Make(O_RDWR, 0600) || !rows.Make(O_RDWR, 0600)) {
    return IndexStatus::Refused(IndexReason::kCreateFailed, "cannot create the temporary file", errno);
  }
  if (IndexStatus s = WriteIndex(temp.fd.Get(), pairs.fd.Get(), rows.fd.Get(), file, c, fields.key_rule, run_entries); !s.Ok()) {
    return s;
  }
  const int closed = temp.fd.Close();
  if (EngineStatus changed = file.CheckUnchanged(); !changed.Ok()) return TableChanged();
  if (closed != 0) return WriteFailed(closed);
  if (::rename(temp.path.c_str(), path.c_str()) != 0) {
    return IndexStatus::Refused(IndexReason::kRenameFailed, "cannot rename the index into place", errno);
  }
  temp.kept = true;
  return {};
}

}  // namespace shelfra
