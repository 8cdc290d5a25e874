// Helpers shared by the fuzz targets: in-memory files and the small table the statement and
// filter fuzzers run over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shelfra::fuzz {

// A file that lives only in memory (memfd), reachable by Path() like any file; closed when
// the object goes.
class MemFile {
 public:
  explicit MemFile(std::string_view bytes);
  ~MemFile();
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// One field of a table written by TableBytes.
struct FieldLayout {
  std::string name;
  char type;
  int length;
  int decimals;
};

// The bytes of a dBase III table: header, descriptors, terminator, the records (each given
// whole, deletion flag first, and cut or blank-padded to the record length), end mark.
std::string TableBytes(const std::vector<FieldLayout>& fields, const std::vector<std::string>& records);

// The fixture table: a field of every type the reader knows (Shift_JIS names included) and
// records with ordinary, blank, null-form, deleted and odd values. The same bytes for the
// whole run.
const std::string& FixtureTableBytes();

// Names of the fixture's fields, for building statements from the fuzzer's bytes.
const std::vector<std::string>& FixtureFieldNames();

// Reads the next byte of the input; 0 once it is used up.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // The bytes not yet read.
  std::string_view Rest() const {
    return std::string_view(reinterpret_cast<const char*>(data_) + pos_, size_ - pos_);
  }
  // The bytes up to the next `separator` (not included; consumed), or the rest.
  std::string_view Until(char separator);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace shelfra::fuzz
