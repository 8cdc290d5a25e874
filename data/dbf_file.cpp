// DbfFile: header parsing, the file's bytes and value decoding.
#include "data/dbf_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>

#include "base/format.h"
#include "base/hooks.h"
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

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// The SIGBUS guard. A file mapped with mmap that shrinks afterwards (a new catalogue copied
// over the old one: the copy truncates the file first) makes every access to a page past its
// new end raise SIGBUS, which would kill the process in the middle of a page. The handler
// looks the faulting address up among the mapped tables; when it is one of theirs, it maps
// anonymous zero pages over the rest of that mapping, marks the file and returns, so the
// faulting read is retried and reads zeros. Zeros decode like any other bytes (blank values),
// and the mark turns into an engine error at the next check, at the latest before the
// response is sent. A fault anywhere else goes to the disposition that was there before.
//
// The slots are read by the handler, so they are lock-free atomics; everything else about the
// guard is set up once, before the handler can run.
struct GuardSlot {
  std::atomic<uintptr_t> begin{0};  // first byte of the mapping; 0 for a free slot
  std::atomic<uintptr_t> end{0};    // one past its last byte
  std::atomic<int> lost{0};         // a page of the mapping was replaced by zeros
  std::atomic<const DbfFile*> file{nullptr};
};
constexpr int kGuardSlots = 64;
GuardSlot g_guard_slots[kGuardSlots];
struct sigaction g_previous_bus_action;
uintptr_t g_page_size = 4096;
std::once_flag g_guard_once;

void OnBusError(int signo, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardSlot& slot : g_guard_slots) {
    const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    const uintptr_t end = slot.end.load(std::memory_order_acquire);
    if (begin == 0 || address < begin || address >= end) continue;
    const uintptr_t page = address & ~(g_page_size - 1);
    // The raw system call: nothing between the handler and the kernel (no interceptor of a
    // sanitizer or a library) may do more than map the pages.
    long mapped = ::syscall(SYS_mmap, page, end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (mapped != -1) {
      slot.lost.store(1, std::memory_order_release);
      errno = saved_errno;
      return;
    }
    break;
  }
  errno = saved_errno;
  // Not one of ours (or the pages could not be replaced): what was there before.
  const struct sigaction& previous = g_previous_bus_action;
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signo, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
    previous.sa_handler(signo);
    return;
  }
  // The default action: returning retries the access, which faults again and ends the process.
  signal(SIGBUS, SIG_DFL);
}

// Checks every guarded file before a response goes out.
void CheckGuardedFiles() {
  for (GuardSlot& slot : g_guard_slots) {
    if (const DbfFile* file = slot.file.load(std::memory_order_acquire)) file->CheckUnchanged();
  }
}

void InstallGuard() {
  std::call_once(g_guard_once, [] {
    long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) g_page_size = static_cast<uintptr_t>(page);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous_bus_action);
    AddBeforeSendHook(CheckGuardedFiles);
  });
}

// Takes a free slot for the mapping; -1 when every slot is in use. The data layer runs on one
// thread; the order of the stores only matters to the handler, which looks at begin first.
int GuardMapping(const DbfFile* file, const char* data, size_t size) {
  InstallGuard();
  for (int i = 0; i < kGuardSlots; ++i) {
    GuardSlot& slot = g_guard_slots[i];
    if (slot.begin.load(std::memory_order_acquire) != 0) continue;
    slot.end.store(reinterpret_cast<uintptr_t>(data) + size, std::memory_order_release);
    slot.lost.store(0, std::memory_order_release);
    slot.file.store(file, std::memory_order_release);
    slot.begin.store(reinterpret_cast<uintptr_t>(data), std::memory_order_release);
    return i;
  }
  return -1;
}

void ReleaseGuard(int index) {
  GuardSlot& slot = g_guard_slots[index];
  slot.file.store(nullptr, std::memory_order_release);
  slot.begin.store(0, std::memory_order_release);
}

int64_t ModificationNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

[[noreturn]] void Raise(uint16_t code, std::string message, int native_error = 0) {
  std::vector<TDBError> entries{TDBError{code, native_error, message}};
  throw EDBEngineError(code, std::move(message), std::move(entries));
}

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
  // O_NONBLOCK: a FIFO in place of a table must not wait for a writer; it is refused below.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) Raise(kErrorNotFound, Format(res::data::kDbfNotFound, {path}), err);
    Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), err);
  }
  FdCloser closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), errno);
  if (!S_ISREG(st.st_mode)) Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), EISDIR);
  file->opened_size_ = st.st_size;
  file->opened_mtime_ns_ = ModificationNs(st);
  size_t size = static_cast<size_t>(st.st_size);
  if (size > 0) {
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      file->data_ = static_cast<const char*>(map);
      file->size_ = size;
      file->mapped_ = true;
      file->guard_slot_ = GuardMapping(file.get(), file->data_, size);
    }
    if (map == MAP_FAILED || file->guard_slot_ < 0) {
      // Some file systems cannot map, and the guard has room for a bounded number of
      // mappings; read the bytes once instead (a copy cannot change under the reader).
      if (file->mapped_) {
        ::munmap(map, size);
        file->data_ = nullptr;
        file->size_ = 0;
        file->mapped_ = false;
      }
      file->copy_ = std::make_unique<char[]>(size);
      size_t got = 0;
      while (got < size) {
        ssize_t n = ::pread(fd, file->copy_.get() + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Raise(kErrorUnreadable, Format(res::data::kDbfUnreadable, {path}), errno);
        if (n == 0) break;  // the file shrank since fstat
        got += static_cast<size_t>(n);
      }
      file->data_ = file->copy_.get();
      file->size_ = got;
    }
  }
  if (file->mapped_) {
    file->fd_ = fd;  // kept for CheckUnchanged; closed by the destructor
    closer.fd = -1;
  }
  file->Parse();
  file->CheckIntact();  // the header itself may have been read from pages that went away
  return file;
}

DbfFile::~DbfFile() {
  if (guard_slot_ >= 0) ReleaseGuard(guard_slot_);
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
  if (fd_ >= 0) ::close(fd_);
}

void DbfFile::CheckIntact() const {
  if (guard_slot_ >= 0 && g_guard_slots[guard_slot_].lost.load(std::memory_order_acquire) != 0) {
    Raise(kErrorChanged, Format(res::data::kDbfChanged, {path_}));
  }
}

void DbfFile::CheckUnchanged() const {
  CheckIntact();
  if (fd_ < 0) return;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || st.st_size != opened_size_ || ModificationNs(st) != opened_mtime_ns_) {
    Raise(kErrorChanged, Format(res::data::kDbfChanged, {path_}));
  }
}

std::string_view DbfFile::ReadRecords(uint32_t first, uint32_t count, std::string& buffer) const {
  const size_t bytes = static_cast<size_t>(count) * record_length_;
  const size_t start = static_cast<size_t>(records_ - data_) + static_cast<size_t>(first) * record_length_;
  if (fd_ < 0) return std::string_view(data_ + start, bytes);
  buffer.resize(bytes);
  size_t got = 0;
  while (got < bytes) {
    ssize_t n = ::pread(fd_, buffer.data() + got, bytes - got, static_cast<off_t>(start + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < bytes) Raise(kErrorChanged, Format(res::data::kDbfChanged, {path_}));  // the file shrank
  return std::string_view(buffer.data(), bytes);
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

  // A table whose records stop before the header's count is truncated (a copy cut short): its
  // answers would silently lack books, so it is refused like any other damaged table. Bytes
  // after the counted records (the end mark, or more) are ignored.
  const size_t present = (size_ - header_length) / record_length_;
  if (header_count > present) {
    Raise(kErrorCorrupt, Format(res::data::kDbfRecordsMissing,
                                {path_, static_cast<long long>(header_count), static_cast<long long>(present)}));
  }
  record_count_ = header_count;
  records_ = data_ + header_length;
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
