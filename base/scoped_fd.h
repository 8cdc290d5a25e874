// ScopedFd: the owner of one file descriptor, closing it when the owner goes.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace shelfra {

// Owns a descriptor (-1 for none) and closes it on destruction, on Reset and on assignment.
// Movable, not copyable. A process that ends with _exit (a forked child) closes nothing.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { Reset(); }
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it; -1 from then on.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held (if any) and holds `fd` instead.
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now, for a caller that must know whether the data reached the file: 0, or the errno
  // value close(2) gave (a delayed write error). Holds no descriptor afterwards.
  int Close() {
    if (fd_ < 0) return 0;
    const int result = ::close(Release());
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace shelfra
