// The index folder's trust rules: the folder's owner and mode, the files opened there, and the
// once-in-a-while note of a refusal.
#include "engine/index_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/error_log.h"
#include "base/files.h"
#include "engine/index_format.h"

namespace shelfra {

namespace {

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

IndexStatus Untrusted(const std::string& directory, const std::string& why) {
  return IndexStatus::Failed(IndexReason::kFolderUntrusted, "the index folder " + ReadablePath(directory) + " " + why);
}

}  // namespace

IndexStatus CheckIndexFolder(const std::string& directory, bool make) {
  struct stat st;
  if (::stat(directory.c_str(), &st) != 0) {
    if (errno != ENOENT || !make) return IndexStatus::Refused(IndexReason::kFolderUnusable, "cannot find it", errno);
    // A cache folder named but not made yet: this user's alone. Made by someone else between
    // the look and the mkdir, it is checked like any other below.
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
      return IndexStatus::Refused(IndexReason::kFolderUnusable, "cannot make it", errno);
    }
    if (::stat(directory.c_str(), &st) != 0) {
      return IndexStatus::Refused(IndexReason::kFolderUnusable, "cannot find it", errno);
    }
  }
  if (!S_ISDIR(st.st_mode)) return IndexStatus::Failed(IndexReason::kFolderUnusable, "it is no folder");
  const uid_t user = ::geteuid();
  if (st.st_uid != user && st.st_uid != 0) {
    return Untrusted(directory, "belongs to user " + std::to_string(st.st_uid) + ", not to this program's user " +
                                    std::to_string(user));
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
    return Untrusted(directory, "may be written by " + std::string((st.st_mode & S_IWOTH) != 0 ? "others" : "its group") +
                                    " (mode " + OctalMode(st.st_mode) + ")");
  }
  return {};
}

IndexStatus OpenOwnFile(const std::string& path, int flags, ScopedFd& fd) {
  fd.Reset(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd.Valid()) {
    const int err = errno;
    if (err == ENOENT) return IndexStatus::Failed(IndexReason::kMissing, "missing");
    // ELOOP: a symbolic link; ENXIO: a FIFO with no reader, opened for writing.
    if (err == ELOOP || err == ENXIO) {
      struct stat st;
      const std::string what = ::lstat(path.c_str(), &st) == 0 ? NotOwnFile(st, ::geteuid()) : "not a regular file";
      return IndexStatus::Failed(IndexReason::kNotOwn, ReadablePath(path) + " is " + what + ", left alone");
    }
    return IndexStatus::Refused(IndexReason::kFolderUnusable, "cannot open " + ReadablePath(path), err);
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) {
    const int err = errno;
    fd.Reset();
    return IndexStatus::Refused(IndexReason::kFolderUnusable, "cannot open " + ReadablePath(path), err);
  }
  if (std::string what = NotOwnFile(st, ::geteuid()); !what.empty()) {
    fd.Reset();
    return IndexStatus::Failed(IndexReason::kNotOwn, ReadablePath(path) + " is " + what + ", left alone");
  }
  return {};
}

bool RemoveOwnFile(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && NotOwnFile(st, ::geteuid()).empty() && ::unlink(path.c_str()) == 0;
}

bool IndexRefusalLogDue(const std::string& directory) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  char name[64];
  std::snprintf(name, sizeof name, "/shelfra-%u-refused-%016llx", static_cast<unsigned>(::geteuid()),
                static_cast<unsigned long long>(Fnv1a(directory)));
  const std::string path = folder + name;
  // A new note: due now.
  if (ScopedFd made(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)); made.Valid()) {
    return true;
  }
  ScopedFd fd;
  if (!OpenOwnFile(path, O_WRONLY, fd).Ok()) return true;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return true;
  if (std::time(nullptr) - st.st_mtim.tv_sec < kIndexRefusalLogSeconds) return false;
  (void)::futimens(fd.Get(), nullptr);
  return true;
}

}  // namespace shelfra
