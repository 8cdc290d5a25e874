// DbfFile: read-only access to one dBase III-style table file (.DBF), read once per process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/field.h"

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
//   any other   ftUnknown  (the raw bytes as text)
struct DbfField {
  std::string name;     // bytes up to the first zero of the 11-byte name, Shift_JIS kept
  char dbf_type = 'C';  // 'C', 'N', 'F', 'D', 'L', 'M', ...
  int length = 0;       // bytes in the record
  int decimals = 0;
  int offset = 0;       // from the start of the record (the deletion flag is byte 0)
  TFieldType type = TFieldType::ftString;  // the mapped field type
};

// Opens and decodes a table. The file is mapped read-only (or, where mapping fails, read
// whole); the records stay in those bytes and nothing is copied per record.
//
// A mapped file may shrink or change while it is read (a new catalogue copied over the old
// one). Touching a page past the file's new end raises SIGBUS; a process-wide handler puts
// zero pages in place of the lost ones, marks the file changed and lets the read go on, so the
// reader never crashes and reads only zeros there. Readers call CheckIntact() after reading,
// and before a response goes out every open file is checked again (also for a change in place
// seen by its size or modification time): a changed file then ends the request with
// EDBEngineError naming the file.
class DbfFile {
 public:
  // Status codes of the errors Open raises (EDBEngineError::ErrorCode()).
  static constexpr uint16_t kErrorNotFound = 0x2201;    // no such file
  static constexpr uint16_t kErrorUnreadable = 0x2202;  // cannot be opened or read
  static constexpr uint16_t kErrorCorrupt = 0x2301;     // not a well-formed table
  static constexpr uint16_t kErrorChanged = 0x2302;     // changed while it was read

  // Reads `path`. Raises EDBEngineError whose message names the file when it is missing,
  // unreadable or malformed: shorter than its header, no 0x0D terminator after the field
  // descriptors within the header length, no fields, a field of length 0 (or a date field not
  // 8 bytes long, a logical one not 1 byte long), fields running past the record length, or
  // fewer whole records than the header counts (a copy cut short). Bytes after the counted
  // records (the 0x1A end mark, or anything else) are ignored.
  static std::unique_ptr<DbfFile> Open(const std::string& path);
  ~DbfFile();
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  const std::string& Path() const { return path_; }
  const std::vector<DbfField>& Fields() const { return fields_; }
  // Index of the field named `name` (ASCII case ignored outside double-byte characters);
  // -1 when missing.
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
  // The header as read at opening: the fixed part, the field descriptors and what follows up
  // to the first record.
  std::string_view HeaderBytes() const { return std::string_view(data_, static_cast<size_t>(records_ - data_)); }
  // Size and modification time (ns since the epoch) of the file when it was opened.
  int64_t OpenedSize() const { return opened_size_; }
  int64_t OpenedMtimeNs() const { return opened_mtime_ns_; }
  // Records [first, first + count) as one run of bytes, for a scan that reads each record
  // once: read with pread into `buffer` when the file is mapped (cheaper than faulting the
  // pages in), else a view of the bytes read at opening. Raises EDBEngineError (kErrorChanged)
  // naming the file when the file no longer has those bytes. Requires: first + count <=
  // RecordCount().
  std::string_view ReadRecords(uint32_t first, uint32_t count, std::string& buffer) const;
  // Raises EDBEngineError (kErrorChanged) naming the file when a read met a page the file no
  // longer has. Costs one atomic load.
  void CheckIntact() const;
  // CheckIntact, and also raises when the file's size or modification time differs from what
  // it was at opening (a change in place). Costs one fstat.
  void CheckUnchanged() const;
  // Decodes field `field` of a record: character values lose their blank padding at the end
  // (an all-blank one is the empty text, not null); numbers, dates and logicals that are blank
  // or in a null form (asterisks, a date of zeros, '?') are null, and so is a number that does
  // not parse. The text points into `record`. Allocates nothing.
  // Requires: `record` comes from Record(), 0 <= field < Fields().size().
  //   C     the bytes before the first zero byte, trailing blanks dropped, and a lead byte
  //         left without its second byte at the end dropped too; never null.
  //   N, F  blanks around, then an optional sign, digits with an optional point and an optional
  //         exponent ("e" or "E", optional sign, digits); anything else is null.
  //   D     "YYYYMMDD" of a real proleptic Gregorian date from year 1 gives `date`, the days
  //         since 0001-01-01 counting that day as 1; anything else is null.
  //   L     T, t, Y, y true; F, f, N, n false; anything else ('?', blank) null.
  //   M and other types: the bytes with blanks around dropped; null when nothing is left.
  TFieldValue Decode(std::string_view record, int field) const;

 private:
  DbfFile() = default;
  void Parse();  // reads the header; raises as Open describes

  std::string path_;
  std::vector<DbfField> fields_;
  uint32_t record_count_ = 0;
  uint32_t record_length_ = 0;
  uint8_t version_ = 0;
  uint8_t language_driver_ = 0;
  const char* records_ = nullptr;  // inside the file's bytes
  // The file's bytes: a private read-only mapping (mapped_), else a copy owned by copy_.
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  std::unique_ptr<char[]> copy_;
  int fd_ = -1;           // kept open while mapped, for CheckUnchanged
  int guard_slot_ = -1;   // the SIGBUS guard's slot of the mapping; -1 when not guarded
  int64_t opened_size_ = 0;
  int64_t opened_mtime_ns_ = 0;
};

// Days since 0001-01-01 (that day is 1) of a proleptic Gregorian date. Requires a valid date.
int32_t DbfDayNumber(int year, int month, int day);

}  // namespace shelfra
