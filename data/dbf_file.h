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
struct DbfField {
  std::string name;     // bytes up to the first zero of the 11-byte name, Shift_JIS kept
  char dbf_type = 'C';  // 'C', 'N', 'F', 'D', 'L', 'M', ...
  int length = 0;       // bytes in the record
  int decimals = 0;
  int offset = 0;       // from the start of the record (the deletion flag is byte 0)
  TFieldType type = TFieldType::ftString;  // the mapped field type
};

// Opens and decodes a table. The records stay in the bytes the file was read into; nothing
// is copied per record.
class DbfFile {
 public:
  // Reads `path`. Raises EDBEngineError naming the file when it is missing, unreadable or
  // malformed (too short for its header, descriptors without terminator, lengths that disagree).
  // Records that are only partly present at the end of the file are not counted.
  static std::unique_ptr<DbfFile> Open(const std::string& path);
  ~DbfFile();
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  const std::string& Path() const { return path_; }
  const std::vector<DbfField>& Fields() const { return fields_; }
  // Index of the field named `name` (ASCII case ignored); -1 when missing.
  int FieldIndex(std::string_view name) const;
  uint32_t RecordCount() const { return record_count_; }  // physical records, deleted ones included
  uint32_t RecordLength() const { return record_length_; }
  // The raw bytes of record `index` (deletion flag first). Requires: index < RecordCount().
  std::string_view Record(uint32_t index) const {
    return std::string_view(records_ + static_cast<size_t>(index) * record_length_, record_length_);
  }
  static bool IsDeleted(std::string_view record) { return !record.empty() && record[0] == '*'; }
  // Decodes field `field` of a record: character values lose their blank padding at the end
  // (an all-blank one is the empty text, not null); numbers, dates and logicals that are blank
  // or in a null form (asterisks, a date of zeros, '?') are null, and so is a number that does
  // not parse.
  TFieldValue Decode(std::string_view record, int field) const;

 private:
  DbfFile() = default;
  std::string path_;
  std::vector<DbfField> fields_;
  uint32_t record_count_ = 0;
  uint32_t record_length_ = 0;
  const char* records_ = nullptr;  // inside the file's bytes
  // The file's bytes (owned; a read copy or a mapping, the implementation's choice).
  void* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace shelfra
