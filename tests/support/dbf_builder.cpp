// Test helper: .DBF bytes for tests.
#include "tests/support/dbf_builder.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace shelfra::testing {

namespace {
void PutLe(std::string& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
}  // namespace

std::string LittleEndian(uint64_t value, int bytes) {
  std::string out(static_cast<size_t>(bytes), '\0');
  PutLe(out, 0, value, bytes);
  return out;
}

DbfBuilder& DbfBuilder::AddField(std::string_view name, char type, int length, int decimals, uint8_t flags) {
  if (name.size() > 11) ADD_FAILURE() << "DbfBuilder: field name longer than 11 bytes";
  fields_.push_back(Field{std::string(name.substr(0, 11)), type, length, decimals, flags});
  return *this;
}

DbfBuilder& DbfBuilder::AddRecord(const std::vector<std::string>& values, bool deleted) {
  if (values.size() > fields_.size()) ADD_FAILURE() << "DbfBuilder: more values than fields";
  std::string record(1, deleted ? '*' : ' ');
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    std::string value = i < values.size() ? values[i] : std::string();
    size_t width = static_cast<size_t>(f.length);
    if (value.size() > width) {
      ADD_FAILURE() << "DbfBuilder: value '" << value << "' longer than field " << i;
      value.resize(width);
    }
    std::string pad(width - value.size(), ' ');
    record += (f.type == 'N' || f.type == 'F') ? pad + value : value + pad;
  }
  records_.push_back(std::move(record));
  return *this;
}

DbfBuilder& DbfBuilder::AddRawRecord(std::string bytes) {
  records_.push_back(std::move(bytes));
  return *this;
}

uint16_t DbfBuilder::RecordLength() const {
  if (record_length_) return *record_length_;
  int length = 1;
  for (const Field& f : fields_) length += f.length;
  return static_cast<uint16_t>(length);
}

std::string DbfBuilder::Bytes() const {
  std::string out(32, '\0');
  out[0] = static_cast<char>(version_);
  out[1] = 24;  // 2024-01-01
  out[2] = 1;
  out[3] = 1;
  size_t computed_header = 32 + 32 * fields_.size() + terminator_.size();
  PutLe(out, 4, record_count_.value_or(static_cast<uint32_t>(records_.size())), 4);
  PutLe(out, 8, header_length_.value_or(static_cast<uint16_t>(computed_header)), 2);
  PutLe(out, 10, RecordLength(), 2);
  out[29] = static_cast<char>(language_);
  for (const Field& f : fields_) {
    std::string d(32, '\0');
    d.replace(0, f.name.size(), f.name);
    d[11] = f.type;
    d[16] = static_cast<char>(f.length & 0xFF);
    d[17] = static_cast<char>(f.type == 'C' && f.length > 255 ? (f.length >> 8) : f.decimals);
    d[18] = static_cast<char>(f.flags);
    out += d;
  }
  out += terminator_;
  for (const std::string& r : records_) out += r;
  out += end_mark_;
  return out;
}

void DbfBuilder::WriteTo(const std::string& path) const {
  std::string bytes = Bytes();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    ADD_FAILURE() << "DbfBuilder: cannot write " << path;
    return;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    ADD_FAILURE() << "DbfBuilder: short write " << path;
  }
  std::fclose(f);
}

}  // namespace shelfra::testing
