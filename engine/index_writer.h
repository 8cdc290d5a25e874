// The writing side of an index build: whole writes at an offset, buffered appending to a side
// file, and IndexWriter, which lays the index file out and checksums its blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shelfra {

// Writes all of `bytes` to `fd` at `offset`; 0, or the errno value of the failure (EIO for a
// write that wrote nothing).
int WriteAt(int fd, std::string_view bytes, uint64_t offset);

// Buffered appending to a side file of the build (not owned); the first failure is kept and
// later writes are skipped.
class SideFile {
 public:
  explicit SideFile(int fd) : fd_(fd) {}
  uint64_t Size() const { return size_ + buffer_.size(); }
  int Error() const { return error_; }  // errno of the first failed write; 0 when none
  void Append(std::string_view bytes);
  void Flush();

 private:
  int fd_;
  uint64_t size_ = 0;
  std::string buffer_;
  int error_ = 0;
};

// Buffered writing of the index file `fd` (not owned) from its start, tracking the offset, the
// first failure and the CRC-32C of every block of kIndexBlockSize bytes of the sections (all
// that follows the header).
class IndexWriter {
 public:
  explicit IndexWriter(int fd) : fd_(fd) {}
  uint64_t Offset() const { return offset_ + buffer_.size(); }
  int Error() const { return error_; }  // errno of the first failed write; 0 when none
  void Append(const void* data, size_t size);
  template <class T>
  void AppendVector(const std::vector<T>& v) {
    Append(v.data(), v.size() * sizeof(T));
  }
  // Zeros up to the next multiple of 8.
  void Pad();
  // Appends a section and pads after it; its offset.
  template <class T>
  uint64_t Section(const std::vector<T>& v) {
    const uint64_t at = Offset();
    AppendVector(v);
    Pad();
    return at;
  }
  // The CRCs of the blocks so far, the last (partial) block included. Call once, at the end
  // of the sections.
  std::vector<uint32_t> BlockCrcs();
  void Flush();

 private:
  // Adds bytes about to be appended to the CRC of their blocks; the header is not in a block.
  void Checksum(const char* p, size_t n);

  int fd_;
  uint64_t offset_ = 0;
  std::string buffer_;
  int error_ = 0;
  std::vector<uint32_t> crcs_;
  uint32_t block_crc_ = 0;
  uint64_t block_fill_ = 0;
};

}  // namespace shelfra
