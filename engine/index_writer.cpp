// The writing side of an index build: WriteAt, the side files' buffer and IndexWriter's
// block checksums.
#include "engine/index_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/crc32c.h"
#include "engine/index_format.h"

namespace shelfra {

namespace {

// Bytes gathered before they are written.
constexpr size_t kWriteBuffer = size_t{1} << 20;

}  // namespace

int WriteAt(int fd, std::string_view bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

void SideFile::Append(std::string_view bytes) {
  buffer_.append(bytes);
  if (buffer_.size() >= kWriteBuffer) Flush();
}

void SideFile::Flush() {
  if (error_ == 0) error_ = WriteAt(fd_, buffer_, size_);
  size_ += buffer_.size();
  buffer_.clear();
}

void IndexWriter::Append(const void* data, size_t size) {
  Checksum(static_cast<const char*>(data), size);
  buffer_.append(static_cast<const char*>(data), size);
  if (buffer_.size() >= kWriteBuffer) Flush();
}

void IndexWriter::Pad() {
  static const char kZeros[8] = {};
  Append(kZeros, (8 - Offset() % 8) % 8);
}

std::vector<uint32_t> IndexWriter::BlockCrcs() {
  if (block_fill_ > 0) crcs_.push_back(block_crc_);
  block_fill_ = 0;
  return std::move(crcs_);
}

void IndexWriter::Flush() {
  if (error_ == 0) error_ = WriteAt(fd_, buffer_, offset_);
  offset_ += buffer_.size();
  buffer_.clear();
}

void IndexWriter::Checksum(const char* p, size_t n) {
  const uint64_t at = Offset();
  if (at < kIndexSectionsStart) {
    const size_t skip = static_cast<size_t>(std::min<uint64_t>(n, kIndexSectionsStart - at));
    p += skip;
    n -= skip;
  }
  while (n > 0) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, kIndexBlockSize - block_fill_));
    block_crc_ = Crc32c(p, take, block_crc_);
    block_fill_ += take;
    p += take;
    n -= take;
    if (block_fill_ == kIndexBlockSize) {
      crcs_.push_back(block_crc_);
      block_crc_ = 0;
      block_fill_ = 0;
    }
  }
}

}  // namespace shelfra
