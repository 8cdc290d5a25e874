// DbfFile: read-only access to one dBase III-style table file (.DBF), FoxPro and Visual FoxPro
// field types included, read once per process; the one rule for which names are .DBF tables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/mapped_file.h"
#include "engine/status.h"
#include "engine/value.h"

namespace shelfra {

// One field descriptor of the header, in table order.
//
// Field types of the file and the TFieldType they map to:
//   C           ftString   (a length above 255 keeps its high byte in the decimals byte)
//   N, F        ftFloat    when decimals > 0
//   N           ftSmallint when decimals = 0 and length <= 4
//               ftInteger  when decimals = 0 and length 5 to 9
//               ftFloat    when decimals = 0 and length >= 10
//   F           ftFloat    also when decimals = 0
//   D           ftDate     (length 8, "YYYYMMDD")
//   L           ftBoolean  (length 1)
//   M           ftMemo     (the block number as its raw text; the memo file is not read)
//   I           ftInteger  (length 4: a little-endian signed 32-bit integer)
//   B           ftFloat    (length 8: a little-endian IEEE double); of another length it is the
//                          binary memo of dBase and read like M
//   Y           ftFloat    (length 8: a little-endian signed 64-bit count of ten-thousandths)
//   T           ftDateTime (length 8: a little-endian 32-bit Julian day number, then 32-bit
//                          milliseconds since midnight)
//   V           ftString   (varchar: the bytes of the stored length, see Decode)
//   Q           ftUnknown  (varbinary: likewise)
//   any other   ftUnknown  (the raw bytes as text)
// The null flags of a Visual FoxPro table (type '0', named _NullFlags, after the last field) are
// no field of the table: Fields() leaves them out, and they only make values null (see Decode).
struct DbfField {
  std::string name;     // bytes up to the first zero of the 11-byte name, Shift_JIS kept
  char dbf_type = 'C';  // 'C', 'N', 'F', 'D', 'L', 'M', 'I', 'B', 'Y', 'T', ...
  int length = 0;       // bytes in the record
  int decimals = 0;
  int offset = 0;       // from the start of the record (the deletion flag is byte 0)
  TFieldType type = TFieldType::ftString;  // the mapped field type
  uint8_t flags = 0;    // descriptor byte 18: 0x01 system, 0x02 nullable, 0x04 binary
  int null_bit = -1;    // the bit of the null flags that makes the value null; -1 for none
  int length_bit = -1;  // V, Q: the bit of the null flags saying the last byte holds the length
};

// Opens and decodes a table. The file's bytes come from a MappedFile; the records stay in
// those bytes and nothing is copied per record. A table changed while it is read (see
// MappedFile) gives kStatusTableChanged naming the file wherever a read or a check notices.
class DbfFile {
 public:
  // Reads `path`: Ok with the table in `out`, else a status naming the file:
  // kStatusTableNotFound when it is missing, kStatusTableUnreadable when it cannot be opened or
  // read (or is no regular file), kStatusTableCorrupt when it is malformed: shorter than its
  // header, no 0x0D terminator after the field descriptors within the header length, no
  // fields, a field of length 0 (or a date field not 8 bytes long, a logical one not 1 byte
  // long, an I not 4, a Y or T not 8; null flags with fewer bits than the fields need, named
  // as their field), fields running past the record length, or fewer whole records than the
  // header counts (a copy cut short). Bytes after the counted records (the 0x1A end mark, or
  // anything else) are ignored.
  static EngineStatus Open(const std::string& path, std::unique_ptr<DbfFile>& out);
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  const std::string& Path() const { return file_->Path(); }
  // The absolute path with every link resolved (Path() when it cannot be), found once.
  const std::string& ResolvedPath() const;
  const std::vector<DbfField>& Fields() const { return fields_; }
  // Index of the field named `name`: the same characters, single-byte ASCII letters compared
  // ignoring case (double-byte characters exactly); -1 when missing.
  int FieldIndex(std::string_view name) const;
  uint32_t RecordCount() const { return record_count_; }  // physical records, deleted ones included
  uint32_t RecordLength() const { return record_length_; }
  uint8_t Version() const { return version_; }                 // header byte 0
  uint8_t LanguageDriver() const { return language_driver_; }  // header byte 29: 0x13 Shift_JIS, 0 unset
  // The raw bytes of record `index` (deletion flag first). Requires: index < RecordCount().
  std::string_view Record(uint32_t index) const {
    return std::string_view(records_ + static_cast<size_t>(index) * record_length_, record_length_);
  }
  static bool IsDeleted(std::string_view record) { return !record.empty() && record[0] == '*'; }
  // Where the null flags lie in a record (-1 when the table has none) and their length.
  int NullFlagsOffset() const { return null_flags_offset_; }
  int NullFlagsLength() const { return null_flags_length_; }
  // The header as read at opening: the fixed part, the field descriptors and what follows up
  // to the first record.
  std::string_view HeaderBytes() const { return header_; }
  // The file as it was when it was opened.
  const FileIdentity& Identity() const { return file_->Identity(); }
  // Path() still names this very file, unchanged (MappedFile::StillAt).
  bool StillAt() const { return file_->StillAt(); }
  int64_t OpenedSize() const { return file_->OpenedSize(); }
  int64_t OpenedMtimeNs() const { return file_->OpenedMtimeNs(); }

  // Records [first, first + count) as one run of bytes in `out`, for a reader that reads each
  // record once (see MappedFile::Read; `buffer` may hold them). kStatusTableChanged naming the
  // file when the file no longer has those bytes. Requires: first + count <= RecordCount().
  EngineStatus ReadRecords(uint32_t first, uint32_t count, std::string& buffer, std::string_view& out) const;

  // Calls visit(first, count, chunk) for the records in table order, about a megabyte of
  // records at a time: `chunk` holds `count` whole records from record `first`. Stops early
  // when visit returns false. kStatusTableChanged when the file no longer has the bytes.
  using ChunkVisitor = std::function<bool(uint32_t first, uint32_t count, std::string_view chunk)>;
  EngineStatus ScanChunks(const ChunkVisitor& visit) const;

  // kStatusTableChanged naming the file when a read met a page the file no longer has. Costs
  // one atomic load.
  EngineStatus CheckIntact() const;
  // CheckIntact, and also fails when the file's size or modification time differs from what
  // it was at opening (a change in place). Costs one fstat.
  EngineStatus CheckUnchanged() const;
  // CheckUnchanged of the first open table (of any DbfFile or other mapped file) that
  // changed; Ok when none did. The last check before an answer goes out.
  static EngineStatus CheckAllUnchanged();

  // Decodes field `field` of a record: character values lose their blank padding at the end
  // (an all-blank one is the empty text, not null); numbers, dates and logicals that are blank
  // or in a null form (asterisks, a date of zeros, '?') are null, and so is a number that does
  // not parse. The text points into `record`. Allocates nothing.
  // Requires: `record` comes from Record() or ReadRecords(), 0 <= field < Fields().size().
  //   C     the bytes before the first zero byte, trailing blanks dropped, and a lead byte
  //         left without its second byte at the end dropped too; not null by its bytes.
  //   N, F  blanks around, then an optional sign, digits with an optional point and an optional
  //         exponent ("e" or "E", optional sign, digits); anything else is null.
  //   D     "YYYYMMDD" of a real proleptic Gregorian date from year 1 gives `date`, its
  //         DayNumber; anything else is null.
  //   L     T, t, Y, y true; F, f, N, n false; anything else ('?', blank) null.
  //   I     the integer; B the double as stored (infinities and not-a-number too); Y the count
  //         divided by 10000. Not null by their bytes: every byte pattern is a number.
  //   T     `date` and `time` (milliseconds) of a day from 0001-01-01 to 9999-12-31 and a time
  //         below 24 hours; anything else is null, eight zero bytes or blanks (an empty
  //         date-time) among them.
  //   V, Q  the bytes of the field, or when its length bit is set the first n of them, n being
  //         its last byte (at most the length less one); not null by its bytes.
  //   M and other types: the bytes with blanks around dropped; null when nothing is left.
  // In a table with null flags, a field whose null bit is set is null whatever its bytes
  // (its text empty). A field takes bits of the null flags in table order: a V or Q field its
  // length bit, then each field marked nullable (flag 0x02) its null bit. Without null flags
  // the descriptor flags are not read (older writers leave other bytes there).
  TFieldValue Decode(std::string_view record, int field) const;
  // Decode of field `field` from its bytes `raw` and the record's null flags `null_flags`
  // (NullFlagsLength() bytes; empty when the table has none). A character field's bytes may
  // lack the blanks that end them in the record. Requires: any other field's `raw` is its
  // whole length.
  TFieldValue DecodeValue(int field, std::string_view raw, std::string_view null_flags) const;
  // The text of a C field's bytes, as Decode gives it: the bytes before the first zero byte,
  // trailing blanks dropped, and a lead byte left without its second byte at the end dropped
  // too (with the blanks before it).
  static std::string_view CharacterText(std::string_view raw);

 private:
  struct RawDescriptor;  // one field descriptor as stored

  DbfFile() = default;
  EngineStatus Parse();  // reads the header; fails as Open describes
  // The descriptors up to the terminator; fails when there is none within `header_length`
  // or when the null flags are the only field.
  EngineStatus ReadDescriptors(size_t header_length, std::vector<RawDescriptor>& raw) const;
  // Fields() and the null flags' place from the descriptors; fails on a bad field length.
  EngineStatus LayOutFields(const std::vector<RawDescriptor>& raw);
  // The null and length bits of the fields; fails when the null flags are too short for them.
  EngineStatus AssignNullBits(const std::string& null_flags_name);
  EngineStatus Corrupt(EngineFault fault, std::string name = {}, int64_t first = 0, int64_t second = 0) const;

  std::unique_ptr<MappedFile> file_;
  mutable std::string resolved_path_;  // empty until ResolvedPath is first asked
  std::string_view header_;  // inside the file's bytes
  std::vector<DbfField> fields_;
  uint32_t record_count_ = 0;
  uint32_t record_length_ = 0;
  uint8_t version_ = 0;
  uint8_t language_driver_ = 0;
  const char* records_ = nullptr;  // inside the file's bytes
  int null_flags_offset_ = -1;     // the null flags in the record; -1 when the table has none
  int null_flags_length_ = 0;
};

// The file of a table named `table` in a statement, by the one rule of which names are
// tables: "<name>.DBF" when the name has no extension, the name itself when its extension is
// ".DBF" in any ASCII case. Any other extension is kStatusUnsupportedTableType naming the
// table. With `extension_required` (a table opened by its file name) a name without an
// extension is refused too.
EngineStatus DbfTableFileName(std::string_view table, bool extension_required, std::string& file);

}  // namespace shelfra
