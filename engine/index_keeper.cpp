// The index files' life: the lock and state file of each table's index, the build in a
// process of its own, the clean-up of what dead builds and removed tables leave behind.
#include "engine/index_keeper.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "engine/dbf_file.h"
#include "engine/index_format.h"

namespace shelfra {

namespace {

IndexLog g_log = nullptr;
bool g_inline_builds = false;

void Log(const std::string& line) {
  if (g_log != nullptr) g_log(line);
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string Errno(int err) { return std::strerror(err); }

// "<dir>/<hash>" for the index path "<dir>/<hash>.idx".
std::string BaseOf(const std::string& index_path) { return index_path.substr(0, index_path.size() - 4); }

// The record kept at the start of each index's lock file "<hash>.lock": the last build
// attempt. The file is made this size when it is created, so the record is later rewritten
// in place, which needs no free space.
constexpr size_t kStateSize = 1024;
constexpr std::string_view kStateMagic = "shelfra index state 1\n";

struct State {
  std::string status;  // "running", "ok", "failed"; empty when there was none
  FileIdentity table;  // the table file the attempt was for
  int64_t time = 0;    // when it started or ended, seconds since the epoch
  bool reported = true;
  std::string reason;  // "failed": why
};

bool ReadNumber(std::string_view& text, int64_t& out) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  if (ec != std::errc()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return true;
}

State ReadState(int fd) {
  char buffer[kStateSize];
  ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
  State s;
  std::string_view text(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  if (text.substr(0, kStateMagic.size()) != kStateMagic) return s;
  text.remove_prefix(kStateMagic.size());
  const size_t line = text.find('\n');
  if (line == std::string_view::npos) return s;
  std::string status(text.substr(0, line));
  text.remove_prefix(line + 1);
  int64_t v[8];
  for (int64_t& x : v) {
    if (!ReadNumber(text, x)) return s;
  }
  if (text.empty() || text.front() != '\n') return s;
  text.remove_prefix(1);
  s.status = std::move(status);
  s.table = FileIdentity{static_cast<uint64_t>(v[0]), static_cast<uint64_t>(v[1]), v[2], v[3], v[4]};
  s.time = v[5];
  s.reported = v[6] != 0;
  s.reason = std::string(text.substr(0, std::min<size_t>(static_cast<size_t>(v[7]), text.size())));
  return s;
}

bool WriteState(int fd, const State& s) {
  std::string text(kStateMagic);
  text += s.status + "\n";
  for (int64_t v : {static_cast<int64_t>(s.table.device), static_cast<int64_t>(s.table.inode), s.table.size,
                    s.table.mtime_ns, s.table.ctime_ns, s.time, int64_t{s.reported ? 1 : 0},
                    static_cast<int64_t>(s.reason.size())}) {
    text += std::to_string(v) + " ";
  }
  text.back() = '\n';
  text += s.reason;
  if (text.size() > kStateSize) text.resize(kStateSize);
  text.resize(kStateSize, '\n');
  return ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

// Opens (creating it, at its full size) the lock file of the index at `index_path`; -1 with
// the reason in `error` when it cannot be had.
int OpenLockFile(const std::string& index_path, std::string& error) {
  const std::string path = BaseOf(index_path) + ".lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error = "cannot open " + path + ": " + Errno(errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(kStateSize)) {
    // A new lock file: its state record gets its room now, while there is room to be had.
    State empty;
    (void)WriteState(fd, empty);
  }
  return fd;
}

std::string Describe(const DbfFile& file, const std::string& index_path) {
  return "index " + index_path + " of " + file.Path();
}

// Removes, holding the lock of the index at `index_path`, the temporary files its dead
// builds left, and in the whole directory the indexes (and their files) of tables missing
// for kIndexOrphanSeconds. `log` gets a line for each.
void RemoveLeftovers(const std::string& index_path, const std::function<void(const std::string&)>& log) {
  const size_t slash = index_path.rfind('/');
  const std::string dir = index_path.substr(0, slash);
  const std::string own_prefix = index_path.substr(slash + 1) + std::string(kIndexTemporaryInfix);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
  ::closedir(d);
  const int64_t now = Now();
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (name.compare(0, own_prefix.size(), own_prefix) == 0) {
      // Only the holder of this index's lock builds it, so any temporary file of it is dead.
      if (::unlink(path.c_str()) == 0) {
        log("removed " + path + ", left by a build that did not finish (" + std::to_string(st.st_size) + " bytes)");
      }
      continue;
    }
    if (name.size() != 20 || name.compare(16, 4, ".idx") != 0 || now - st.st_mtim.tv_sec < kIndexOrphanSeconds) {
      continue;
    }
    // Another table's index, untouched for a day: is its table still there?
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    IndexFileHeader h{};
    std::string table;
    if (::pread(fd, &h, sizeof h, 0) == static_cast<ssize_t>(sizeof h) && h.path_length < 65536) {
      table.resize(h.path_length);
      if (::pread(fd, table.data(), table.size(), static_cast<off_t>(h.path_offset)) !=
          static_cast<ssize_t>(table.size())) {
        table.clear();
      }
    }
    ::close(fd);
    struct stat table_st;
    if (table.empty() || ::stat(table.c_str(), &table_st) == 0 || errno != ENOENT) continue;
    std::string ignored;
    int lock = OpenLockFile(path, ignored);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
      if (lock >= 0) ::close(lock);
      continue;
    }
    const std::string base = BaseOf(path);
    if (::unlink(path.c_str()) == 0) {
      log("removed " + path + ", the index of " + table + ", missing for a day (" + std::to_string(st.st_size) +
          " bytes)");
    }
    ::unlink((base + ".report").c_str());
    ::unlink((base + ".lock").c_str());
    ::close(lock);
  }
}

// Builds the index holding the lock `lock_fd`: clears leftovers, builds, records the outcome
// in the state record and says it through `log`. True when the index was made.
bool RunBuild(const DbfFile& file, const SearchIndexFields& fields, const std::string& index_path, int lock_fd,
              const std::function<void(const std::string&)>& log, bool report_failure_in_state) {
  RemoveLeftovers(index_path, log);
  const auto start = std::chrono::steady_clock::now();
  std::string failure;
  EngineStatus status;
  try {
    status = SearchIndex::Build(file, fields, index_path, failure);
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
  }
  if (!status.Ok()) failure = "the table changed while it was read";
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  State s;
  s.table = file.Identity();
  s.time = Now();
  if (failure.empty()) {
    struct stat st;
    const int64_t size = ::stat(index_path.c_str(), &st) == 0 ? st.st_size : 0;
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    s.status = "ok";
    (void)WriteState(lock_fd, s);
    log("built " + Describe(file, index_path) + " in " + took + " s (" + std::to_string(size) + " bytes)");
    return true;
  }
  s.status = "failed";
  s.reason = failure;
  s.reported = !report_failure_in_state;
  (void)WriteState(lock_fd, s);
  if (!report_failure_in_state) {
    log("could not build " + Describe(file, index_path) + ": " + failure + "; the next attempt waits for a change of "
        "the table or " + std::to_string(kIndexRetrySeconds / 60) + " minutes");
  }
  return false;
}

// Appends `line` to the report file of the index at `index_path`, for the next request to log.
void AppendReport(const std::string& index_path, const std::string& line) {
  int fd = ::open((BaseOf(index_path) + ".report").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = line + "\n";
  (void)!::write(fd, text.data(), text.size());
  ::close(fd);
}

// Logs and removes what a build in a process of its own reported, once: the request that
// renames the report away is the one that logs it.
void ClaimReport(const std::string& index_path) {
  const std::string report = BaseOf(index_path) + ".report";
  const std::string claimed = report + "." + std::to_string(::getpid());
  if (::rename(report.c_str(), claimed.c_str()) != 0) return;
  if (std::FILE* f = std::fopen(claimed.c_str(), "rb")) {
    char line[4096];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      std::string text(line);
      if (!text.empty() && text.back() == '\n') text.pop_back();
      if (!text.empty()) Log(text);
    }
    std::fclose(f);
  }
  ::unlink(claimed.c_str());
}

// Starts the build in a process of its own, detached from the request: a new session (so
// that neither the web server's time-outs nor its signals to the request reach it), its
// standard streams on /dev/null (so the web server waits for none of them), a lower priority.
// The process keeps `lock_fd` open: the lock is held as long as it lives. False when no
// process could be started.
bool StartDetachedBuild(const DbfFile& file, const SearchIndexFields& fields, const std::string& index_path,
                        int lock_fd) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
      if (null > 2) ::close(null);
    }
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);  // a file-size limit fails the write instead of killing the build
    (void)!::nice(10);
    RunBuild(file, fields, index_path, lock_fd,
             [&](const std::string& line) { AppendReport(index_path, line); }, /*report_failure_in_state=*/true);
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace

void SetIndexLog(IndexLog log) { g_log = log; }

void SetIndexBuildsInlineForTesting(bool inline_builds) { g_inline_builds = inline_builds; }

std::unique_ptr<SearchIndex> IndexForRequest(const DbfFile& file, const SearchIndexFields& fields,
                                            const std::string& directory) {
  const std::string path = SearchIndex::PathFor(file, directory);
  std::string why;
  if (std::unique_ptr<SearchIndex> index = SearchIndex::Open(file, path, &why)) {
    ClaimReport(path);
    return index;
  }
  ::mkdir(directory.c_str(), 0755);  // a cache directory named but not made yet
  std::string error;
  const int lock = OpenLockFile(path, error);
  if (lock < 0) {
    Log("cannot use the index directory " + directory + ": " + error + "; searches scan the table");
    return nullptr;
  }
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    ::close(lock);  // a build is running (or another request is deciding): scan meanwhile
    return nullptr;
  }
  // A build may have ended between the first look and the lock.
  if (std::unique_ptr<SearchIndex> index = SearchIndex::Open(file, path, &why)) {
    ::close(lock);
    ClaimReport(path);
    return index;
  }
  State state = ReadState(lock);
  const int64_t now = Now();
  if (state.status == "running") {
    // We hold the lock, so the process that was building is gone without a word.
    state.status = "failed";
    state.reason = "the build process ended before it finished (killed, or out of memory or CPU time)";
    state.reported = false;
  }
  if (state.status == "failed" && !state.reported) {
    Log("could not build " + Describe(file, path) + ": " + state.reason + "; the next attempt waits for a change of "
        "the table or " + std::to_string(kIndexRetrySeconds / 60) + " minutes");
    state.reported = true;
    (void)WriteState(lock, state);
  }
  if (state.status == "failed" && state.table == file.Identity() && now - state.time < kIndexRetrySeconds) {
    ::close(lock);
    return nullptr;
  }
  Log(Describe(file, path) + " is " + why + "; building it");
  if (g_inline_builds) {
    std::unique_ptr<SearchIndex> index;
    if (RunBuild(file, fields, path, lock, Log, /*report_failure_in_state=*/false)) index = SearchIndex::Open(file, path);
    ::close(lock);
    return index;
  }
  State running;
  running.status = "running";
  running.table = file.Identity();
  running.time = now;
  if (!WriteState(lock, running)) {
    Log("cannot build " + Describe(file, path) + ": cannot record the attempt in its lock file: " + Errno(errno));
    ::close(lock);
    return nullptr;
  }
  if (!StartDetachedBuild(file, fields, path, lock)) {
    State failed = running;
    failed.status = "failed";
    failed.reason = "cannot start a build process: " + Errno(errno);
    Log("could not build " + Describe(file, path) + ": " + failed.reason);
    (void)WriteState(lock, failed);
  }
  ::close(lock);  // the build process holds the lock now
  return nullptr;
}

void RetireDamagedIndex(const SearchIndex& index) {
  struct stat st;
  if (::stat(index.Path().c_str(), &st) == 0 && static_cast<uint64_t>(st.st_ino) == index.Identity().inode &&
      static_cast<uint64_t>(st.st_dev) == index.Identity().device) {
    ::unlink(index.Path().c_str());
  }
  Log("index " + index.Path() + " is damaged (a block failed its check, or the file changed under the reader); "
      "the request was answered by scanning, and the index will be made again");
}

bool BuildIndexNow(const DbfFile& file, const SearchIndexFields& fields, const std::string& directory,
                   int wait_seconds, std::string& report) {
  const std::string path = SearchIndex::PathFor(file, directory);
  ::mkdir(directory.c_str(), 0755);
  std::string error;
  const int lock = OpenLockFile(path, error);
  if (lock < 0) {
    report = "cannot use the index directory " + directory + ": " + error;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
  while (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(lock);
      report = "a build of " + Describe(file, path) + " is still running";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::string why;
  if (SearchIndex::Open(file, path, &why) != nullptr) {
    ::close(lock);
    ClaimReport(path);
    report = Describe(file, path) + " is current";
    return true;
  }
  ClaimReport(path);
  report.clear();
  bool built = RunBuild(file, fields, path, lock,
                        [&](const std::string& line) { report += (report.empty() ? "" : "\n") + line; },
                        /*report_failure_in_state=*/false);
  ::close(lock);
  return built;
}

}  // namespace shelfra
