// MappedFile: a file's bytes mapped read-only under a guard against the file shrinking while
// it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/scoped_fd.h"

namespace shelfra {

// What identifies one version of a file: a file replaced by rename has another inode, one
// rewritten in place another change time (which nobody can set back), whatever its size and
// modification time say.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t mtime_ns = 0;  // modification time, ns since the epoch
  int64_t ctime_ns = 0;  // change time, ns since the epoch
  bool operator==(const FileIdentity&) const = default;
};

// The bytes of one file, mapped read-only or, where the file cannot be mapped (or the guard
// has no room for another mapping), read whole once.
//
// A mapped file may shrink or change while it is read (a new catalogue copied over the old
// one). Touching a page past the file's new end raises SIGBUS; a process-wide handler puts
// zero pages in place of the lost ones, marks the file and lets the read go on, so a reader
// never crashes and reads only zeros there. Readers ask Lost() after reading, and Changed()
// before they trust an answer: the caller decides what a change means.
class MappedFile {
 public:
  // Opens `path`: 0 with the file in `out`, else the errno value saying why (ENOENT or ENOTDIR
  // for a missing file, EISDIR for anything but a regular file, a FIFO included, which is
  // never waited on). A `watched` file is one of those FirstChanged looks at. An `own_only`
  // file is one of the program's own in a folder others may plant files in: a symbolic link
  // there is ELOOP, another user's file or one with a second link EPERM (see NotOwnFile).
  static int Open(const std::string& path, std::unique_ptr<MappedFile>& out, bool watched = true,
                  bool own_only = false);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const std::string& Path() const { return path_; }
  // The file's bytes as they were read or mapped; valid while this object lives.
  std::string_view Bytes() const { return std::string_view(data_, size_); }
  // The file as it was when it was opened.
  const FileIdentity& Identity() const { return identity_; }
  int64_t OpenedSize() const { return identity_.size; }
  int64_t OpenedMtimeNs() const { return identity_.mtime_ns; }

  // Bytes [offset, offset + size) of the file: read with pread into `buffer` when the file
  // is mapped (cheaper than faulting the pages in for a run read once), else a view of the
  // bytes read at opening. False when the file no longer has them.
  // Requires: offset + size <= Bytes().size().
  bool Read(size_t offset, size_t size, std::string& buffer, std::string_view& out) const;


  // A read met a page the file no longer has (zeros were read there). One atomic load.
  bool Lost() const;
  // Lost(), or the file's size or modification time differs from what it was at opening (a
  // change in place). One fstat.
  bool Changed() const;

  // True when Path() still names this very version of the file (the same identity by stat, a
  // link followed) and no read met a lost page: what a process that keeps the file between
  // requests asks before it reads it again. One stat.
  bool StillAt() const;

  // The first open watched file for which Changed() holds; nullptr when none has changed.
  // Meant for one last check before an answer goes out.
  static const MappedFile* FirstChanged();

 private:
  MappedFile() = default;

  std::string path_;
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  std::unique_ptr<char[]> copy_;  // the bytes when not mapped
  ScopedFd fd_;                   // kept open while mapped, for Read and Changed
  int guard_slot_ = -1;           // the SIGBUS guard's slot of the mapping; -1 when not guarded
  bool watched_ = true;
  FileIdentity identity_;
};

}  // namespace shelfra
