// DbfFile: header parsing, reading records and value decoding, the null flags of Visual FoxPro
// tables included.
#include "engine/dbf_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "base/text.h"
#include "engine/collation.h"
#include "engine/index_format.h"

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

uint64_t ReadLe64(const unsigned char* p) { return ReadLe32(p) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32; }

// The Julian day number of 0001-01-01, day 1 of DayNumber.
constexpr int64_t kJulianDayOfDayOne = 1721426;
constexpr uint32_t kMillisecondsPerDay = 86400000;

// The type byte of the null flags of a Visual FoxPro table, and the descriptor flag of a
// field that may be null.
constexpr char kNullFlagsType = '0';
constexpr uint8_t kFlagNullable = 0x02;

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
    case 'I': return TFieldType::ftInteger;
    case 'B': return length == 8 ? TFieldType::ftFloat : TFieldType::ftMemo;
    case 'Y': return TFieldType::ftFloat;
    case 'T': return TFieldType::ftDateTime;
    case 'V': return TFieldType::ftString;
    default: return TFieldType::ftUnknown;
  }
}

// The length a field of this type must have; 0 when any length will do.
int FixedLength(char dbf_type) {
  switch (dbf_type) {
    case 'D': case 'Y': case 'T': return 8;
    case 'L': return 1;
    case 'I': return 4;
    default: return 0;
  }
}

}  // namespace

// One descriptor as stored, before the record layout is settled.
struct DbfFile::RawDescriptor {
  std::string name;  // bytes 0-10, up to the first zero
  char type;         // byte 11
  int length;        // byte 16
  int decimals;      // byte 17
  uint8_t flags;     // byte 18
  // A character field's length with the decimals byte as its high byte (long character fields).
  int LongLength() const { return type == 'C' ? length + decimals * 256 : length; }
};

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
  const size_t size = bytes.size();
  const auto* d = reinterpret_cast<const unsigned char*>(bytes.data());
  if (size < kFixedHeaderSize) return Corrupt(EngineFault::kTableTruncated, {}, static_cast<int64_t>(size));
  version_ = d[0];
  const uint32_t header_count = ReadLe32(d + 4);
  const size_t header_length = ReadLe16(d + 8);
  record_length_ = ReadLe16(d + 10);
  language_driver_ = d[29];
  if (header_length > size) return Corrupt(EngineFault::kTableTruncated, {}, static_cast<int64_t>(size));

  std::vector<RawDescriptor> raw;
  if (EngineStatus s = ReadDescriptors(header_length, raw); !s.Ok()) return s;
  if (EngineStatus s = LayOutFields(raw); !s.Ok()) return s;

  // A table whose records stop before the header's count is truncated (a copy cut short): its
  // answers would silently lack books, so it is refused like any other damaged table. Bytes
  // after the counted records (the end mark, or more) are ignored.
  const size_t present = (size - header_length) / record_length_;
  if (header_count > present) {
    return Corrupt(EngineFault::kTableRecordsMissing, {}, header_count, static_cast<int64_t>(present));
  }
  record_count_ = header_count;
  header_ = bytes.substr(0, header_length);
  records_ = bytes.data() + header_length;
  return {};
}

EngineStatus DbfFile::ReadDescriptors(size_t header_length, std::vector<RawDescriptor>& raw) const {
  const char* data = file_->Bytes().data();
  const auto* d = reinterpret_cast<const unsigned char*>(data);
  // Descriptors run up to the terminator, which must lie inside the header length.
  for (size_t pos = kFixedHeaderSize;; pos += kDescriptorSize) {
    if (pos >= header_length || (d[pos] != kTerminator && pos + kDescriptorSize > header_length)) {
      return Corrupt(EngineFault::kTableNoTerminator, {}, static_cast<int64_t>(header_length));
    }
    if (d[pos] == kTerminator) break;
    const char* name = data + pos;
    raw.push_back(RawDescriptor{std::string(name, strnlen(name, 11)), static_cast<char>(d[pos + 11]),
                                d[pos + 16], d[pos + 17], d[pos + 18]});
  }
  if (std::all_of(raw.begin(), raw.end(), [](const RawDescriptor& r) { return r.type == kNullFlagsType; })) {
    return Corrupt(EngineFault::kTableNoFields);
  }
  return {};
}

EngineStatus DbfFile::LayOutFields(const std::vector<RawDescriptor>& raw) {
  // A character field with a non-zero decimals byte is either a long character field (the
  // byte is the length's high byte) or a writer's stray decimals. Take the reading whose
  // layout fills the record exactly, else the one that fits in it, plain reading first.
  size_t plain = 1, wide = 1;
  for (const RawDescriptor& r : raw) {
    plain += static_cast<size_t>(r.length);
    wide += static_cast<size_t>(r.LongLength());
  }
  const bool use_long = plain != record_length_ &&
                        (wide == record_length_ || (plain > record_length_ && wide <= record_length_));
  int offset = 1;
  fields_.reserve(raw.size());
  std::string null_flags_name;
  for (const RawDescriptor& r : raw) {
    DbfField f;
    f.name = r.name;
    f.dbf_type = r.type;
    const bool long_char = use_long && r.type == 'C';
    f.length = long_char ? r.LongLength() : r.length;
    f.decimals = long_char ? 0 : r.decimals;
    f.offset = offset;
    f.type = MapType(f.dbf_type, f.length, f.decimals);
    f.flags = r.flags;
    const int fixed = FixedLength(f.dbf_type);
    if (f.length == 0 || (fixed != 0 && f.length != fixed)) {
      return Corrupt(EngineFault::kTableBadFieldLength, f.name, f.length);
    }
    if (static_cast<size_t>(offset) + static_cast<size_t>(f.length) > record_length_) {
      return Corrupt(EngineFault::kTableFieldPastRecord, f.name, record_length_);
    }
    offset += f.length;
    // The null flags take their place in the record but are no field of the table.
    if (f.dbf_type == kNullFlagsType) {
      if (null_flags_offset_ < 0) {
        null_flags_offset_ = f.offset;
        null_flags_length_ = f.length;
        null_flags_name = f.name;
      }
      continue;
    }
    fields_.push_back(std::move(f));
  }
  return null_flags_offset_ >= 0 ? AssignNullBits(null_flags_name) : EngineStatus{};
}

EngineStatus DbfFile::AssignNullBits(const std::string& null_flags_name) {
  // Bits in table order, from the lowest bit of the first byte on: a varying field's length
  // bit, then the null bit of each nullable field.
  int bits = 0;
  for (DbfField& f : fields_) {
    if (f.dbf_type == 'V' || f.dbf_type == 'Q') f.length_bit = bits++;
    if (f.flags & kFlagNullable) f.null_bit = bits++;
  }
  if (bits > 8 * null_flags_length_) {
    return Corrupt(EngineFault::kTableBadFieldLength, null_flags_name, null_flags_length_);
  }
  return {};
}

int DbfFile::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (SameFieldName(fields_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

namespace {

bool NullFlag(std::string_view null_flags, int bit) {
  const auto byte = static_cast<unsigned char>(null_flags[static_cast<size_t>(bit / 8)]);
  return (byte >> (bit % 8)) & 1;
}

// A D field's "YYYYMMDD" as its DayNumber; false unless it is a real date from year 1.
bool ParseDate(std::string_view raw, int32_t& date) {
  int parts[3] = {0, 0, 0};
  static constexpr int kWidths[3] = {4, 2, 2};
  size_t i = 0;
  for (int p = 0; p < 3; ++p) {
    for (int w = 0; w < kWidths[p]; ++w, ++i) {
      const auto c = static_cast<unsigned char>(raw[i]);
      if (!IsAsciiDigit(c)) return false;
      parts[p] = parts[p] * 10 + (c - '0');
    }
  }
  if (parts[0] < 1 || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > DaysInMonth(parts[0], parts[1])) {
    return false;
  }
  date = DayNumber(parts[0], parts[1], parts[2]);
  return true;
}

// An L field's byte; false for one that is neither true nor false ('?', blank).
bool ParseLogical(char c, bool& flag) {
  switch (c) {
    case 'T': case 't': case 'Y': case 'y':
      flag = true;
      return true;
    case 'F': case 'f': case 'N': case 'n':
      flag = false;
      return true;
    default:
      return false;
  }
}

// A T field's day and milliseconds; false for the empty date-time and for a day or time out
// of range.
bool ParseDateTime(std::string_view raw, int32_t& date, int32_t& time) {
  // Eight zero bytes are the empty date-time; some writers leave blanks instead.
  if (raw.find_first_not_of('\0') == std::string_view::npos || raw.find_first_not_of(' ') == std::string_view::npos) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
  const int64_t day = static_cast<int64_t>(static_cast<int32_t>(ReadLe32(bytes))) - (kJulianDayOfDayOne - 1);
  const uint32_t milliseconds = ReadLe32(bytes + 4);
  if (day < 1 || day > DayNumber(9999, 12, 31) || milliseconds >= kMillisecondsPerDay) return false;
  date = static_cast<int32_t>(day);
  time = static_cast<int32_t>(milliseconds);
  return true;
}

}  // namespace

const std::string& DbfFile::ResolvedPath() const {
  if (resolved_path_.empty()) resolved_path_ = FullPath(Path());
  return resolved_path_;
}

TFieldValue DbfFile::Decode(std::string_view record, int field) const {
  const DbfField& f = fields_[static_cast<size_t>(field)];
  std::string_view null_flags;
  if (null_flags_offset_ >= 0) {
    null_flags = record.substr(static_cast<size_t>(null_flags_offset_), static_cast<size_t>(null_flags_length_));
  }
  return DecodeValue(field, std::string_view(record.data() + f.offset, static_cast<size_t>(f.length)), null_flags);
}

std::string_view DbfFile::CharacterText(std::string_view raw) {
  const size_t zero = raw.find('\0');
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
  return raw.substr(0, end);
}

TFieldValue DbfFile::DecodeValue(int field, std::string_view raw, std::string_view null_flags) const {
  const DbfField& f = fields_[static_cast<size_t>(field)];
  const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
  TFieldValue v;
  if (f.null_bit >= 0 && NullFlag(null_flags, f.null_bit)) return v;
  switch (f.dbf_type) {
    case 'C':
      v.is_null = false;
      v.text = CharacterText(raw);
      break;
    case 'N':
    case 'F':
      v.is_null = !ParseNumber(raw, v.number);
      if (v.is_null) v.number = 0;
      break;
    case 'D':
      v.is_null = !ParseDate(raw, v.date);
      break;
    case 'L':
      v.is_null = !ParseLogical(raw[0], v.flag);
      break;
    case 'I':
      v.is_null = false;
      v.number = static_cast<int32_t>(ReadLe32(bytes));
      break;
    case 'Y':
      v.is_null = false;
      v.number = static_cast<double>(static_cast<int64_t>(ReadLe64(bytes))) / 10000;
      break;
    case 'T':
      v.is_null = !ParseDateTime(raw, v.date, v.time);
      break;
    case 'V':
    case 'Q': {
      size_t size = raw.size();
      if (f.length_bit >= 0 && NullFlag(null_flags, f.length_bit)) {
        size = std::min<size_t>(bytes[raw.size() - 1], raw.size() - 1);
      }
      v.is_null = false;
      v.text = raw.substr(0, size);
      break;
    }
    case 'B':
      if (f.type == TFieldType::ftFloat) {
        v.is_null = false;
        v.number = std::bit_cast<double>(ReadLe64(bytes));
        break;
      }
      [[fallthrough]];  // the binary memo of dBase: its block number, like M
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
