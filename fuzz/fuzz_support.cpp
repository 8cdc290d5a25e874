// In-memory files and the fixture table of the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace shelfra::fuzz {

MemFile::MemFile(std::string_view bytes) {
  fd_ = ::memfd_create("shelfra-fuzz", MFD_CLOEXEC);
  if (fd_ < 0) std::abort();
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemFile::~MemFile() { ::close(fd_); }

std::string TableBytes(const std::vector<FieldLayout>& fields, const std::vector<std::string>& records) {
  size_t record_length = 1;
  for (const FieldLayout& f : fields) record_length += static_cast<size_t>(f.length);
  const size_t header_length = 32 + 32 * fields.size() + 1;
  std::string out(32, '\0');
  out[0] = 0x03;
  out[1] = 124;
  out[2] = 1;
  out[3] = 1;
  auto put16 = [&out](size_t at, size_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  };
  const size_t count = records.size();
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
  put16(8, header_length);
  put16(10, record_length);
  out[29] = 0x13;
  for (const FieldLayout& f : fields) {
    std::string d(32, '\0');
    d.replace(0, std::min<size_t>(f.name.size(), 11), f.name.substr(0, 11));
    d[11] = f.type;
    d[16] = static_cast<char>(f.length & 0xFF);
    d[17] = static_cast<char>(f.decimals & 0xFF);
    out += d;
  }
  out += '\x0D';
  for (const std::string& r : records) {
    std::string record = r.substr(0, record_length);
    record.resize(record_length, ' ');
    out += record;
  }
  out += '\x1A';
  return out;
}

namespace {

// Field names: ASCII, and Shift_JIS ones (a title, a registration number, a returned flag).
const std::vector<FieldLayout>& FixtureFields() {
  static const std::vector<FieldLayout> fields = {
      {"\x8f\x91\x96\xbc", 'C', 20, 0},          // title
      {"\x93\x6f\x98\x5e\x94\xd4\x8d\x86", 'N', 10, 0},  // registration number
      {"KANA", 'C', 12, 0},
      {"PRICE", 'N', 8, 2},
      {"RATE", 'F', 12, 3},
      {"CLASS", 'N', 4, 0},
      {"COUNT", 'N', 6, 0},
      {"REGDATE", 'D', 8, 0},
      {"\x95\xd4\x8b\x70\x8d\xcf", 'L', 1, 0},  // returned
      {"MEMO", 'M', 10, 0},
      {"CODE", 'C', 7, 0},
  };
  return fields;
}

// One record of the fixture: the values cut or padded to their fields' widths, numbers
// right-aligned as dBase writes them, everything else left-aligned.
std::string FixtureRecord(const std::vector<std::string>& values, bool deleted = false) {
  std::string record(1, deleted ? '*' : ' ');
  const std::vector<FieldLayout>& fields = FixtureFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string v = i < values.size() ? values[i] : std::string();
    const size_t width = static_cast<size_t>(fields[i].length);
    v = v.substr(0, width);
    const bool number = fields[i].type == 'N' || fields[i].type == 'F';
    if (number) {
      record += std::string(width - v.size(), ' ') + v;
    } else {
      record += v + std::string(width - v.size(), ' ');
    }
  }
  return record;
}

std::string Bytes(const char* text, size_t size) { return std::string(text, size); }

}  // namespace

const std::string& FixtureTableBytes() {
  static const std::string bytes = TableBytes(
      FixtureFields(),
      {
          FixtureRecord({"\x8c\x4e\x82\xcd\x94\x4c\x82\xc5\x82\xa0\x82\xe9", "1234", "\xb2\xdc\xc0\xb6\xde\xd8",
                         "1500.50", "1.250", "9", "100", "20040315", "T", "12", "913.6"}),
          FixtureRecord({"Plain ASCII title", "-7", "abc", "", "-3.5E+02", "-1", "", "20000229", "F", "", "0"}),
          FixtureRecord({"deleted record", "3", "", "1.00", "", "0", "0", "19991231", "Y", "", "9"}, true),
          // A lead byte as the field's last byte; null forms of every typed field.
          FixtureRecord({"\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9\x82\xab\x82\xad\x82\xaf\x82\xb1\x82",
                         "1.0000E15", "\xb1", "********", "*****", "****", "******", "00000000", "?", "abc",
                         "\x8c\x4e\x82\xcd"}),
          // Bytes that are no Shift_JIS, LIKE wildcards as data, an impossible date, odd numbers.
          FixtureRecord({"\xff\xfe\x80\xa0 bytes", "12.500", "%_%", "1.5e+03", "1e400", "+  5", " 1 2 3", "20230230",
                         "n", Bytes("\0\0\0", 3), ""}),
          FixtureRecord({Bytes("\0\0\0\0", 4), "4294967296", "", "", "", "", "", "", " ", "", ""}),
          FixtureRecord({"Same key", "2", "same", "2.00", "2.000", "2", "2", "20100101", "t", "", "913"}),
          FixtureRecord({"same key", "2", "SAME", "2.00", "2.000", "2", "2", "20100101", "f", "", "913"}),
      });
  return bytes;
}

const std::vector<std::string>& FixtureFieldNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const FieldLayout& f : FixtureFields()) out.push_back(f.name);
    return out;
  }();
  return names;
}

std::string_view ByteReader::Until(char separator) {
  std::string_view rest = Rest();
  size_t at = rest.find(separator);
  if (at == std::string_view::npos) {
    pos_ = size_;
    return rest;
  }
  pos_ += at + 1;
  return rest.substr(0, at);
}

}  // namespace shelfra::fuzz
