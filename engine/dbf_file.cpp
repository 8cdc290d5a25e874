// DbfFile: header parsing, reading records and value decoding.
#include "engine/dbf_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "base/text.h"
#include "engine/collation.h"

namespace shelfra {

namespace {

// Header layout (dBase III): the fixed part is 32 bytes, then one 32-byte descriptor per field,
// then the terminator 0x0D; the records start at the header length.
constexpr size_t kFixedHeaderSize = 32;
constexpr size_t kDescriptorSize = 32;
constexpr unsigned char kTerminator = 0x0D;

uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint32_t ReadLe16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

// A number as dBase writes it: blanks around, then [+|-] digits [. digits] [(e|E) [+|-] digits],
// with at least one digit before the exponent. Overflow ("*****") and anything else fail.
bool ParseNumber(std::string_view text, double& out) {
  text = TrimBlanks(text);
  bool plus = !text.empty() && text[0] == '+';
  if (plus) text.remove_prefix(1);  // from_chars takes no "+"
  size_t i = 0;
  if (!plus && i < text.size() && text[i] == '-') ++i;
  size_t digits = 0;
  while (i < text.size() && IsAsciiDigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsAsciiDigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < text.size() && IsAsciiDigit(static_cast<unsigned char>(text[i]))) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (i != text.size()) return false;
  auto r = std::from_chars(text.data(), text.data() + text.size(), out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

TFieldType MapType(char dbf_type, int length, int decimals) {
  switch (dbf_type) {
    case 'C': return TFieldType::ftString;
    case 'N':
      if (decimals > 0 || length >= 10) return TFieldType::ftFloat;
      return length <= 4 ? TFieldType::ftSmallint : TFieldType::ftInteger;
    case 'F': return TFieldType::ftFloat;
    case 'D': return TFieldType::ftDate;
    case 'L': return TFieldType::ftBoolean;
    case 'M': return TFieldType::ftMemo;
    default: return TFieldType::ftUnknown;
  }
}

// One descriptor as stored, before the record layout is settled.
struct RawDescriptor {
  std::string name;
  char type;
  int length;    // byte 16
  int decimals;  // byte 17
  // A character field's length with the decimals byte as its high byte (long character fields).
  int LongLength() const { return type == 'C' ? length + decimals * 256 : length; }
};

}  // namespace

EngineStatus DbfFile::Open(const std::string& path, std::unique_ptr<DbfFile>& out) {
  std::unique_ptr<DbfFile> table(new DbfFile());
  if (int err = MappedFile::Open(path, table->file_); err != 0) {
    const bool missing = err == ENOENT || err == ENOTDIR;
    return EngineStatus::About(missing ? kStatusTableNotFound : kStatusTableUnreadable,
                               missing ? EngineFault::kTableNotFound : EngineFault::kTableUnreadable, path, err);
  }
  if (EngineStatus s = table->Parse(); !s.Ok()) return s;
  // The header itself may have been read from pages that went away.
  if (EngineStatus s = table->CheckIntact(); !s.Ok()) return s;
  out = std::move(table);
  return {};
}

EngineStatus DbfFile::CheckIntact() const {
  if (file_->Lost()) return EngineStatus::About(kStatusTableChanged, EngineFault::kTableChanged, Path());
  return {};
}

EngineStatus DbfFile::CheckUnchanged() const {
  if (file_->Changed()) return EngineStatus::About(kStatusTableChanged, EngineFault::kTableChanged, Path());
  return {};
}

EngineStatus DbfFile::CheckAllUnchanged() {
  if (const MappedFile* changed = MappedFile::FirstChanged()) {
    return EngineStatus::About(kStatusTableChanged, EngineFault::kTableChanged, changed->Path());
  }
  return {};
}

EngineStatus DbfFile::ReadRecords(uint32_t first, uint32_t count, std::string& buffer, std::string_view& out) const {
  const size_t bytes = static_cast<size_t>(count) * record_length_;
  const size_t start = header_.size() + static_cast<size_t>(first) * record_length_;
  if (!file_->Read(start, bytes, buffer, out)) {
    return EngineStatus::About(kStatusTableChanged, EngineFault::kTableChanged, Path());
  }
  return {};
}

EngineStatus DbfFile::ScanChunks(const ChunkVisitor& visit) const {
  constexpr size_t kChunkBytes = size_t{1} << 20;
  const uint32_t per_chunk = static_cast<uint32_t>(std::max<size_t>(1, kChunkBytes / record_length_));
  std::string buffer;
  for (uint32_t first = 0; first < record_count_;) {
    const uint32_t n = std::min(per_chunk, record_count_ - first);
    std::string_view chunk;
    if (EngineStatus s = ReadRecords(first, n, buffer, chunk); !s.Ok()) return s;
    if (!visit(first, n, chunk)) break;
    first += n;
  }
  return {};
}

EngineStatus DbfFile::Corrupt(EngineFault fault, std::string name, int64_t first, int64_t second) const {
  EngineStatus s = EngineStatus::About(kStatusTableCorrupt, fault, Path());
  s.name = std::move(name);
  s.first = first;
  s.second = second;
  return s;
}

EngineStatus DbfFile::Parse() {
  const std::string_view bytes = file_->Bytes();
  const char* data = bytes.data();
  const size_t size = bytes.size();
  const auto* d = reinterpret_cast<const unsigned char*>(data);
  if (size < kFixedHeaderSize) return Corrupt(EngineFault::kTableTruncated, {}, static_cast<int64_t>(size));
  version_ = d[0];
  uint32_t header_count = ReadLe32(d + 4);
  size_t header_length = ReadLe16(d + 8);
  record_length_ = ReadLe16(d + 10);
  language_driver_ = d[29];
  if (header_length > size) return Corrupt(EngineFault::kTableTruncated, {}, static_cast<int64_t>(size));

  // Descriptors run up to the terminator, which must lie inside the header length.
  std::vector<RawDescriptor> raw;
  size_t pos = kFixedHeaderSize;
  for (;;) {
    if (pos >= header_length || (d[pos] != kTerminator && pos + kDescriptorSize > header_length)) {
      return Corrupt(EngineFault::kTableNoTerminator, {}, static_cast<int64_t>(header_length));
    }
    if (d[pos] == kTerminator) break;
    const char* name = data + pos;
    raw.push_back(RawDescriptor{std::string(name, strnlen(name, 11)), static_cast<char>(d[pos + 11]),
                                d[pos + 16], d[pos + 17]});
    pos += kDescriptorSize;
  }
  if (raw.empty()) return Corrupt(EngineFault::kTableNoFields);

  // A character field with a non-zero decimals byte is either a long character field (the
  // byte is the length's high byte) or a writer's stray decimals. Take the reading whose
  // layout fills the record exactly, else the one that fits in it, plain reading first.
  size_t plain = 1, wide = 1;
  for (const RawDescriptor& r : raw) {
    plain += static_cast<size_t>(r.length);
    wide += static_cast<size_t>(r.LongLength());
  }
  bool use_long = plain != record_length_ &&
                  (wide == record_length_ || (plain > record_length_ && wide <= record_length_));

  int offset = 1;
  fields_.reserve(raw.size());
  for (const RawDescriptor& r : raw) {
    DbfField f;
    f.name = r.name;
    f.dbf_type = r.type;
    bool long_char = use_long && r.type == 'C';
    f.length = long_char ? r.LongLength() : r.length;
    f.decimals = long_char ? 0 : r.decimals;
    f.offset = offset;
    f.type = MapType(f.dbf_type, f.length, f.decimals);
    if (f.length == 0 || (f.dbf_type == 'D' && f.length != 8) || (f.dbf_type == 'L' && f.length != 1)) {
      return Corrupt(EngineFault::kTableBadFieldLength, f.name, f.length);
    }
    if (static_cast<size_t>(offset) + static_cast<size_t>(f.length) > record_length_) {
      return Corrupt(EngineFault::kTableFieldPastRecord, f.name, record_length_);
    }
    offset += f.length;
    fields_.push_back(std::move(f));
  }

  // A table whose records stop before the header's count is truncated (a copy cut short): its
  // answers would silently lack books, so it is refused like any other damaged table. Bytes
  // after the counted records (the end mark, or more) are ignored.
  const size_t present = (size - header_length) / record_length_;
  if (header_count > present) {
    return Corrupt(EngineFault::kTableRecordsMissing, {}, header_count, static_cast<int64_t>(present));
  }
  record_count_ = header_count;
  header_ = bytes.substr(0, header_length);
  records_ = data + header_length;
  return {};
}

int DbfFile::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (SameFieldName(fields_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

TFieldValue DbfFile::Decode(std::string_view record, int field) const {
  const DbfField& f = fields_[static_cast<size_t>(field)];
  std::string_view raw(record.data() + f.offset, static_cast<size_t>(f.length));
  TFieldValue v;
  switch (f.dbf_type) {
    case 'C': {
      size_t zero = raw.find('\0');
      if (zero != std::string_view::npos) raw = raw.substr(0, zero);
      size_t end = raw.size();
      while (end > 0 && raw[end - 1] == ' ') --end;
      // A lead byte that ends the value has lost its second byte (a writer cut the text in
      // the middle of a character): it is no character of the table's text and the text
      // conversion leaves it out; kept, it would join the byte that follows the value on a
      // page into one character. Counting back over the bytes that can be lead bytes finds
      // it: the byte before that run ends a character, so the run pairs up from its start.
      for (;;) {
        size_t run = 0;
        while (run < end && IsSjisLeadByte(static_cast<unsigned char>(raw[end - 1 - run]))) ++run;
        if (run % 2 == 0) break;
        --end;
        while (end > 0 && raw[end - 1] == ' ') --end;
      }
      v.is_null = false;
      v.text = raw.substr(0, end);
      break;
    }
    case 'N':
    case 'F':
      v.is_null = !ParseNumber(raw, v.number);
      if (v.is_null) v.number = 0;
      break;
    case 'D': {
      int parts[3] = {0, 0, 0};
      static constexpr int kWidths[3] = {4, 2, 2};
      size_t i = 0;
      for (int p = 0; p < 3; ++p) {
        for (int w = 0; w < kWidths[p]; ++w, ++i) {
          unsigned char c = static_cast<unsigned char>(raw[i]);
          if (!IsAsciiDigit(c)) return v;
          parts[p] = parts[p] * 10 + (c - '0');
        }
      }
      if (parts[0] < 1 || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 ||
          parts[2] > DaysInMonth(parts[0], parts[1])) {
        return v;
      }
      v.is_null = false;
      v.date = DayNumber(parts[0], parts[1], parts[2]);
      break;
    }
    case 'L':
      switch (raw[0]) {
        case 'T': case 't': case 'Y': case 'y':
          v.is_null = false;
          v.flag = true;
          break;
        case 'F': case 'f': case 'N': case 'n':
          v.is_null = false;
          v.flag = false;
          break;
        default:
          break;
      }
      break;
    default:
      v.text = TrimBlanks(raw);
      v.is_null = v.text.empty();
      break;
  }
  return v;
}

EngineStatus DbfTableFileName(std::string_view table, bool extension_required, std::string& file) {
  const size_t dot = table.rfind('.');
  if (dot == std::string_view::npos && !extension_required) {
    file = std::string(table) + ".DBF";
    return {};
  }
  if (dot == std::string_view::npos || !SameTextAscii(table.substr(dot), ".DBF")) {
    return EngineStatus::About(kStatusUnsupportedTableType, EngineFault::kTableType, std::string(table));
  }
  file = std::string(table);
  return {};
}

}  // namespace shelfra
