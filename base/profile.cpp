// Private-profile (INI) file reading.
#include "base/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>
#include <cerrno>

#include "base/request_context.h"
#include "base/text.h"

namespace shelfra {

namespace {

// A settings file is a few lines; anything past this is not read.
constexpr size_t kMaxProfileFileBytes = size_t{16} << 20;

// What identifies one version of a file: an edit in place changes its change time, a file
// renamed over it has another inode.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec mtime = {};
  struct timespec ctime = {};
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

FileStamp StampOf(const struct stat& st) { return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim}; }

// The files read so far, kept while they are unchanged: a page looks up many keys of the same
// one or two files, and each lookup then costs one stat instead of reading the file.
// A file found unchanged once during a request is taken as it is for the rest of it: every
// page of the request reads one version of it, and a FastCGI responder's request does one
// stat per file instead of one per key.
struct CachedFile {
  std::string path;
  FileStamp stamp;
  std::shared_ptr<const std::string> bytes;
  uint64_t checked_in_request = 0;  // RequestNumber() of the last stat that found it unchanged
};
constexpr size_t kCachedFiles = 4;

std::mutex& CacheLock() {
  static std::mutex lock;
  return lock;
}
std::vector<CachedFile>& Cache() {
  static std::vector<CachedFile> files;
  return files;
}

// Reads the whole file (at most kMaxProfileFileBytes); nothing when it cannot be opened or
// read, or when it is no regular file: a FIFO would wait for a writer (O_NONBLOCK keeps the
// open itself from waiting) and a device such as /dev/zero never ends.
std::shared_ptr<const std::string> ReadWholeFile(const std::string& path) {
  const uint64_t request = RequestNumber();
  if (request > 0) {
    std::lock_guard<std::mutex> hold(CacheLock());
    for (const CachedFile& f : Cache()) {
      if (f.path == path && f.checked_in_request == request) return f.bytes;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    std::lock_guard<std::mutex> hold(CacheLock());
    for (CachedFile& f : Cache()) {
      if (f.path == path && f.stamp == StampOf(st)) {
        f.checked_in_request = request;
        return f.bytes;
      }
    }
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::string bytes;
  char buf[8192];
  while (bytes.size() < kMaxProfileFileBytes) {
    ssize_t n = ::read(fd, buf, std::min(sizeof buf, kMaxProfileFileBytes - bytes.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return nullptr;  // an I/O error: no readable file
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  // Kept only when the file did not change while it was read.
  struct stat after;
  const bool steady = ::fstat(fd, &after) == 0 && StampOf(after) == StampOf(st);
  ::close(fd);
  auto shared = std::make_shared<const std::string>(std::move(bytes));
  if (steady) {
    std::lock_guard<std::mutex> hold(CacheLock());
    std::vector<CachedFile>& cache = Cache();
    cache.erase(std::remove_if(cache.begin(), cache.end(), [&](const CachedFile& f) { return f.path == path; }),
                cache.end());
    if (cache.size() >= kCachedFiles) cache.erase(cache.begin());
    cache.push_back(CachedFile{path, StampOf(st), shared, request});
  }
  return shared;
}

// Position of the last "]" of `line` that is not the trail byte of a double-byte character;
// npos when there is none. "]" (0x5D) is a valid Shift_JIS trail byte.
size_t FindSectionEnd(std::string_view line) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (IsSjisLeadByte(c) && i + 1 < line.size()) {
      ++i;
    } else if (c == ']') {
      found = i;
    }
  }
  return found;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == value.back() && (value.front() == '"' || value.front() == '\'')) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::optional<std::string> FindPrivateProfileString(std::string_view section, std::string_view key,
                                                    const std::string& path) {
  std::shared_ptr<const std::string> file = ReadWholeFile(path);
  if (file == nullptr) return std::nullopt;
  section = TrimBlanks(section);
  key = TrimBlanks(key);

  // in_section: the lines belong to the first section named `section`. Once that section
  // ends, later sections of the same name are not searched.
  bool in_section = false;
  bool section_seen = false;
  std::string_view text = *file;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      size_t close = FindSectionEnd(line);
      // A "[" line without its "]" is no header: it is skipped and the section goes on.
      if (close == std::string_view::npos) continue;
      if (in_section) return std::nullopt;
      if (!section_seen && SameTextSjis(TrimBlanks(line.substr(1, close - 1)), section)) {
        in_section = true;
        section_seen = true;
      }
      continue;
    }
    if (!in_section) continue;
    size_t eq = line.find('=');  // "=" (0x3D) is never a Shift_JIS trail byte
    if (eq == std::string_view::npos) continue;
    if (!SameTextSjis(TrimBlanks(line.substr(0, eq)), key)) continue;
    std::string_view value = Unquote(TrimBlanks(line.substr(eq + 1)));
    if (value.size() > kMaxProfileValue) value = value.substr(0, kMaxProfileValue);
    return std::string(value);
  }
  return std::nullopt;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& path) {
  std::optional<std::string> value = FindPrivateProfileString(section, key, path);
  return value ? std::move(*value) : std::string(default_value);
}

}  // namespace shelfra
