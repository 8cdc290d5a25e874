// MappedFile: opening and mapping a file, the SIGBUS guard and the change checks.
#include "engine/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/files.h"

namespace shelfra {

namespace {

// The SIGBUS guard. A file mapped with mmap that shrinks afterwards (a new catalogue copied
// over the old one: the copy truncates the file first) makes every access to a page past its
// new end raise SIGBUS, which would kill the process in the middle of a page. The handler
// looks the faulting address up among the guarded mappings; when it is one of theirs, it maps
// anonymous zero pages over the rest of that mapping, marks the file and returns, so the
// faulting read is retried and reads zeros. A fault anywhere else goes to the disposition
// that was there before.
//
// The slots are read by the handler, so they are lock-free atomics. Slots are taken and
// released under g_slots_lock (datasets of one process may be used from more than one
// thread); the handler takes no lock and reads `begin` first, which is stored last.
struct GuardSlot {
  std::atomic<uintptr_t> begin{0};  // first byte of the mapping; 0 for a free slot
  std::atomic<uintptr_t> end{0};    // one past its last byte
  std::atomic<int> lost{0};         // a page of the mapping was replaced by zeros
  std::atomic<const MappedFile*> file{nullptr};
};
constexpr int kGuardSlots = 64;
GuardSlot g_guard_slots[kGuardSlots];
std::mutex g_slots_lock;
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
  });
}

// Takes a free slot for the mapping; -1 when every slot is in use.
int GuardMapping(const MappedFile* file, const char* data, size_t size) {
  InstallGuard();
  std::lock_guard<std::mutex> hold(g_slots_lock);
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
  std::lock_guard<std::mutex> hold(g_slots_lock);
  GuardSlot& slot = g_guard_slots[index];
  slot.file.store(nullptr, std::memory_order_release);
  slot.begin.store(0, std::memory_order_release);
}

int64_t Nanoseconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

int MappedFile::Open(const std::string& path, std::unique_ptr<MappedFile>& out, bool watched, bool own_only) {
  // The constructor is private; the object exists before mapping so that a failure releases
  // whatever was taken through the destructor.
  std::unique_ptr<MappedFile> file(new MappedFile());
  file->path_ = path;
  file->watched_ = watched;
  // O_NONBLOCK: a FIFO in place of the file must not wait for a writer; it is refused below.
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (own_only ? O_NOFOLLOW : 0)));
  if (!fd.Valid()) return errno;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  if (own_only && !NotOwnFile(st, ::geteuid()).empty()) return EPERM;
  file->identity_ = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), st.st_size,
                                 Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
  const size_t size = static_cast<size_t>(st.st_size);
  if (size > 0) {
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.Get(), 0);
    if (map != MAP_FAILED) {
      file->guard_slot_ = GuardMapping(file.get(), static_cast<const char*>(map), size);
      if (file->guard_slot_ >= 0) {
        file->data_ = static_cast<const char*>(map);
        file->size_ = size;
        file->mapped_ = true;
      } else {
        ::munmap(map, size);
      }
    }
    if (!file->mapped_) {
      // Some file systems cannot map, and the guard has room for a bounded number of
      // mappings; read the bytes once instead (a copy cannot change under the reader).
      file->copy_ = std::make_unique<char[]>(size);
      size_t got = 0;
      while (got < size) {
        ssize_t n = ::pread(fd.Get(), file->copy_.get() + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;  // the file shrank since fstat
        got += static_cast<size_t>(n);
      }
      file->data_ = file->copy_.get();
      file->size_ = got;
    }
  }
  if (file->mapped_) file->fd_ = std::move(fd);  // kept for Read and Changed
  out = std::move(file);
  return 0;
}

MappedFile::~MappedFile() {
  if (guard_slot_ >= 0) ReleaseGuard(guard_slot_);
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

bool MappedFile::Read(size_t offset, size_t size, std::string& buffer, std::string_view& out) const {
  if (!fd_.Valid()) {
    out = std::string_view(data_ + offset, size);
    return true;
  }
  buffer.resize(size);
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::pread(fd_.Get(), buffer.data() + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < size) return false;  // the file shrank
  out = std::string_view(buffer.data(), size);
  return true;
}

bool MappedFile::Lost() const {
  return guard_slot_ >= 0 && g_guard_slots[guard_slot_].lost.load(std::memory_order_acquire) != 0;
}

bool MappedFile::Changed() const {
  if (Lost()) return true;
  if (!fd_.Valid()) return false;
  struct stat st;
  return ::fstat(fd_.Get(), &st) != 0 || st.st_size != identity_.size || Nanoseconds(st.st_mtim) != identity_.mtime_ns;
}

bool MappedFile::StillAt() const {
  struct stat st;
  if (Lost() || ::stat(path_.c_str(), &st) != 0) return false;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), st.st_size,
                      Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)} == identity_;
}

const MappedFile* MappedFile::FirstChanged() {
  std::lock_guard<std::mutex> hold(g_slots_lock);
  for (GuardSlot& slot : g_guard_slots) {
    const MappedFile* file = slot.file.load(std::memory_order_acquire);
    if (file != nullptr && file->watched_ && file->Changed()) return file;
  }
  return nullptr;
}

}  // namespace shelfra
