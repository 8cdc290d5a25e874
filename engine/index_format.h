// The search index file's layout on disk and the text and number codings shared by the
// builder and the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/kana_fold.h"

namespace shelfra {

// The magic names the kind of file and never changes (its "1" is part of the name); the
// version counts the revisions of the layout below and of what it holds for a table's bytes
// (4: the null flags of Visual FoxPro tables and their number types; 5: the shown rows; 6: the
// grouped field), and an index of another version is never used.
inline constexpr char kIndexMagic[8] = {'S', 'H', 'L', 'F', 'I', 'D', 'X', '1'};
inline constexpr uint32_t kIndexVersion = 6;
inline constexpr uint32_t kNoSlot = 0xFFFFFFFFu;
inline constexpr uint32_t kMaxSlots = 64;
// Everything after the header is checked in blocks of this many bytes, each with its CRC-32C:
// small, because a search reads a few bytes in many places (the texts of its candidates) and
// checks each block it touches whole. (Blocks of 128 bytes were measured too: with the file
// mapped they cost more, the CRC table being four times as large and read all over.)
inline constexpr uint64_t kIndexBlockSize = 512;

// The file starts with this header; every section after it starts at a multiple of 8. The
// sections run from the end of the header (its size rounded up to 8) to `crc_offset`, where
// the CRC-32C of each block of kIndexBlockSize bytes of them follows (the last block may be
// shorter). The header is checked by its own CRC, the CRC table by another.
struct IndexFileHeader {
  char magic[8];                  // 0, 8: kIndexMagic
  uint32_t version;               // 8, 4: kIndexVersion
  uint32_t slot_count;            // 12, 4
  int64_t table_size;             // 16, 8: the table's size when the index was made
  int64_t table_mtime_ns;         // 24, 8: and its modification time
  uint64_t header_hash;           // 32, 8: Fnv1a of the table's header bytes
  uint32_t header_length;         // 40, 4
  uint32_t record_count;          // 44, 4: physical records, deleted ones included
  uint32_t record_length;         // 48, 4
  uint32_t live_count;            // 52, 4: records not deleted
  uint32_t sort_slot;             // 56, 4: slot of the sort field; kNoSlot when none
  uint32_t path_length;           // 60, 4
  uint64_t path_offset;           // 64, 8: the table's full path
  uint64_t records_offset;        // 72, 8: uint32 record number per live record
  uint64_t order_offset;          // 80, 8: uint32 live records in sort order
  uint64_t rank_offset;           // 88, 8: uint32 position in that order per live record
  uint64_t slots_offset;          // 96, 8: IndexSlotEntry per slot
  uint64_t postings_offset;       // 104, 8: IndexPosting per character pair, by pair
  uint64_t posting_count;         // 112, 8
  uint64_t posting_bytes_offset;  // 120, 8: the record lists, delta-coded LEB128
  uint64_t posting_bytes_size;    // 128, 8
  uint64_t file_size;             // 136, 8
  uint32_t number_field;          // 144, 4: the number field's position; kNoSlot when none
  uint32_t reserved0;             // 148, 4
  uint64_t numbers_offset;        // 152, 8: IndexNumberEntry per live record with a number
  uint64_t number_count;          // 160, 8
  uint64_t table_device;          // 168, 8: the table file's device,
  uint64_t table_inode;           // 176, 8: inode
  int64_t table_ctime_ns;         // 184, 8: and change time when the index was made
  uint64_t crc_offset;            // 192, 8: uint32 CRC-32C per block of the sections
  uint64_t block_count;           // 200, 8
  uint32_t crc_table_crc;         // 208, 4: CRC-32C of the CRC table (for tools; readers check entries)
  uint32_t shown_count;           // 212, 4: fields whose bytes the shown rows keep
  uint64_t shown_offset;          // 216, 8: uint32 table position of each of them
  uint64_t rows_offset;           // 224, 8: uint32 start and end of each live record's shown row,
  uint64_t row_text_offset;       // 232, 8:   counted from here (the rows, record after record)
  uint64_t row_text_size;         // 240, 8
  uint32_t group_slot;            // 248, 4: slot of the grouped field; kNoSlot when none
  uint32_t keyed_field;           // 252, 4: the keyed field's position; kNoSlot when none
  uint64_t group_order_offset;    // 256, 8: uint32 live records by the grouped field's folded text
  uint64_t group_bytes_offset;    // 264, 8: uint8 first byte of its value per live record (0: none)
  uint64_t keys_offset;           // 272, 8: IndexKeyEntry per live record with a key, by key
  uint64_t key_count;             // 280, 8
  uint64_t key_rule_offset;       // 288, 8: the name of the rule that made the keys
  uint32_t key_rule_length;       // 296, 4
  uint32_t order_count;           // 300, 4: orders besides the sort field's
  uint64_t orders_offset;         // 304, 8: IndexOrderEntry per order
  uint32_t reserved;              // 312, 4
  uint32_t header_crc;            // 316, 4: CRC-32C of this header with this field zero
};
static_assert(sizeof(IndexFileHeader) == 320);

// The (pair, record) entries a build sorts at a time before it spills them as a run to its
// side file: 8 bytes each, twice over while sorting, so 64 MB.
inline constexpr size_t kIndexRunEntries = size_t{1} << 22;

// The temporary file of a build is "<index path><infix><pid>.<serial>".
inline constexpr std::string_view kIndexTemporaryInfix = ".tmp.";

// Where the sections start: the header's size rounded up to 8.
inline constexpr uint64_t kIndexSectionsStart = (sizeof(IndexFileHeader) + 7) / 8 * 8;

// One held number; the entries are ordered by value, then by record number.
struct IndexNumberEntry {
  double value;       // 0, 8
  uint32_t record;    // 8, 4: the record number
  uint32_t reserved;  // 12, 4
};

// One key of the keyed field: the entries are ordered by key, then by ordinal.
inline constexpr size_t kMaxIndexKeyLength = 15;
struct IndexKeyEntry {
  char key[kMaxIndexKeyLength + 1];  // 0, 16: the key, NUL-padded
  uint32_t ordinal;                  // 16, 4: the live record's ordinal
};
static_assert(sizeof(IndexKeyEntry) == 20);

// One order besides the sort field's: its name, and, like the sort field's, the live records
// in that order and each one's place in it.
inline constexpr uint32_t kMaxIndexOrders = 16;
struct IndexOrderEntry {
  uint64_t name_offset;   // 0, 8
  uint32_t name_length;   // 8, 4
  uint32_t reserved;      // 12, 4
  uint64_t order_offset;  // 16, 8: uint32 live records in this order
  uint64_t rank_offset;   // 24, 8: uint32 place of each live record in it
};
static_assert(sizeof(IndexOrderEntry) == 32);

// One held text field.
struct IndexSlotEntry {
  uint32_t field;          // 0, 4: the table field's position
  uint32_t reserved;       // 4, 4
  uint64_t starts_offset;  // 8, 8: uint32 start and end of each live record's text, from text_offset
  uint64_t text_offset;    // 16, 8: the folded texts (of all slots, record by record, then those
                           //        of fields of at most 32 bytes, slot by slot)
  uint64_t text_size;      // 24, 8
};

// A shown row keeps the bytes a result list shows of one live record (the rows of all records
// lie together in sort order, apart from the texts a search reads): for each shown field, in
// their order, its length as a little-endian uint16 and its bytes (a character field without
// its trailing blanks, any other field whole), then the record's null flags when the table
// has them. Blank-padding each field back to its length where it
// stands in a record gives the bytes the table holds there.
inline constexpr uint32_t kMaxShownFields = 64;

// The record list of one pair of folded characters.
struct IndexPosting {
  uint32_t pair;    // 0, 4: first character's code << 16 | second's
  uint32_t count;   // 4, 4: records in the list
  uint64_t offset;  // 8, 8: of the list in the posting bytes
};

// FNV-1a, 64 bits.
uint64_t Fnv1a(std::string_view bytes);
// The absolute path of `path` with every link resolved; `path` itself when it cannot be.
std::string FullPath(const std::string& path);

// Appends the folded form of `text`: each character's folded code (KanaFold, ASCII case
// ignored) as Shift_JIS bytes. Folding it again gives the same codes, so a LIKE pattern
// matches the folded text exactly when it matches the text.
void AppendFolded(std::string_view text, std::string& out);
// Calls `visit(first << 16 | second)` for each pair of neighbouring characters of a folded
// text.
template <class Visit>
void ForEachPair(std::string_view folded, Visit visit);
// Spreads pairs over the passes of a build.
inline uint32_t PairHash(uint32_t pair) { return static_cast<uint32_t>((pair * 0x9E3779B1ull) >> 16); }

// Appends `value` in LEB128 (7 bits a byte, low bits first).
void AppendVarint(uint32_t value, std::string& out);
// Decodes the LEB128 value at `p` into `value`: the byte after it, or nullptr when its bytes
// end before it does or it runs past five bytes.
const unsigned char* DecodeVarint(const unsigned char* p, const unsigned char* end, uint32_t& value);

// Walks one delta-coded record list, stopping at its count or where its bytes end.
class PostingCursor {
 public:
  PostingCursor(const unsigned char* p, const unsigned char* end, uint32_t count) : p_(p), end_(end), left_(count) {
    Advance();
  }
  bool Done() const { return done_; }
  uint32_t Value() const { return value_; }
  void Advance();
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

}  // namespace shelfra
