// DbfFile: header parsing, the file's bytes and value decoding.
#include "data/dbf_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "base/format.h"
#include "base/profile.h"
#include "base/text.h"
#include "data/db_errors.h"
#include "data_res.h"

namespace shelfra {

namespace {

// Header layout (dBase III): the fixed part is 32 bytes, then one 32-byte descriptor per field,
// then the terminator 0x0D; the records start at the header length.
constexpr size_t kFixedHeaderSize = 32;
constexpr size_t kDescriptorSize = 32;
constexpr unsigned char kTerminator = 0x0D;
constexpr unsigned char kEndMark = 0x1A;

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

[[noreturn]] void Raise(uint16_t code, std::string message, int native_error = 0) {
  std::vector<TDBError> entries{TDBError{code, native_error, message}};
  throw EDBEngineError(code, std::move(message), std::move(entries));
}

uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint32_t ReadLe16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  size_t begin = 0;
  while (begin < s.size() && IsBlank(s[begin])) ++begin;
  size_t end = s.size();
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

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

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
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

int32_t DbfDayNumber(int year, int month, int day) {
  static constexpr int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int y = year - 1;
  int32_t days = y * 365 + y / 4 - y / 100 + y / 400 + kBefore[month - 1] + day;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (leap && month > 2) ++days;
  return days;
}

std::unique_ptr<DbfFile> DbfFile::Open(const std::string& path) {
  // The constructor is private; the object must exist before parsing so that a failure
  // releases the mapping through the destructor.
  std::unique_ptr<DbfFile> file(new DbfFile());
  file->path_ = path;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) Raise(kErrorNotFound, Format(res::data::kDbfNotFound, {path}), err);
    Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), err);
  }
  FdCloser closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), errno);
  if (!S_ISREG(st.st_mode)) Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), EISDIR);
  size_t size = static_cast<size_t>(st.st_size);
  if (size > 0) {
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      file->data_ = static_cast<const char*>(map);
      file->size_ = size;
      file->mapped_ = true;
    } else {
      // Some file systems cannot map; read the bytes once instead.
      file->copy_ = std::make_unique<char[]>(size);
      size_t got = 0;
      while (got < size) {
        ssize_t n = ::read(fd, file->copy_.get() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), errno);
        if (n == 0) break;  // the file shrank since fstat
        got += static_cast<size_t>(n);
      }
      file->data_ = file->copy_.get();
      file->size_ = got;
    }
  }
  file->Parse();
  return file;
}

DbfFile::~DbfFile() {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

void DbfFile::Parse() {
  const auto* d = reinterpret_cast<const unsigned char*>(data_);
  auto truncated = [this] {
    Raise(kErrorCorrupt, Format(res::data::kDbfTruncated, {path_, static_cast<long long>(size_)}));
  };
  if (size_ < kFixedHeaderSize) truncated();
  version_ = d[0];
  uint32_t header_count = ReadLe32(d + 4);
  size_t header_length = ReadLe16(d + 8);
  record_length_ = ReadLe16(d + 10);
  language_driver_ = d[29];
  if (header_length > size_) truncated();

  // Descriptors run up to the terminator, which must lie inside the header length.
  std::vector<RawDescriptor> raw;
  size_t pos = kFixedHeaderSize;
  for (;;) {
    if (pos >= header_length || (d[pos] != kTerminator && pos + kDescriptorSize > header_length)) {
      Raise(kErrorCorrupt, Format(res::data::kDbfNoTerminator, {path_, static_cast<long long>(header_length)}));
    }
    if (d[pos] == kTerminator) break;
    const char* name = data_ + pos;
    raw.push_back(RawDescriptor{std::string(name, strnlen(name, 11)), static_cast<char>(d[pos + 11]),
                                d[pos + 16], d[pos + 17]});
    pos += kDescriptorSize;
  }
  if (raw.empty()) Raise(kErrorCorrupt, Format(res::data::kDbfNoFields, {path_}));

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
      Raise(kErrorCorrupt, Format(res::data::kDbfBadFieldLength, {path_, f.name, f.length}));
    }
    if (static_cast<size_t>(offset) + static_cast<size_t>(f.length) > record_length_) {
      Raise(kErrorCorrupt, Format(res::data::kDbfFieldPastRecord, {path_, f.name, record_length_}));
    }
    offset += f.length;
    fields_.push_back(std::move(f));
  }

  // Only records wholly present count. When the header claims more than that, its count is
  // not to be trusted, and the end mark (never a valid deletion flag) ends the table too.
  size_t present = (size_ - header_length) / record_length_;
  record_count_ = static_cast<uint32_t>(std::min<size_t>(header_count, present));
  records_ = data_ + header_length;
  if (header_count > present) {
    for (uint32_t i = 0; i < record_count_; ++i) {
      if (static_cast<unsigned char>(records_[static_cast<size_t>(i) * record_length_]) == kEndMark) {
        record_count_ = i;
        break;
      }
    }
  }
}

int DbfFile::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (SameTextSjis(fields_[i].name, name)) return static_cast<int>(i);
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
      v.date = DbfDayNumber(parts[0], parts[1], parts[2]);
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

}  // namespace shelfra
