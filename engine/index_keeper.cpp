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

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "base/error_log.h"
#include "base/files.h"
#include "base/request_context.h"
#include "base/scoped_fd.h"
#include "engine/background.h"
#include "engine/dbf_file.h"
#include "engine/index_folder.h"
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

// Rewrites the state record in place; kStateUnwritable when it could not be written whole.
IndexStatus WriteState(int fd, const State& s) {
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
  const ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
  if (n == static_cast<ssize_t>(text.size())) return {};
  return IndexStatus::Refused(IndexReason::kStateUnwritable, "cannot record the attempt in its lock file",
                              n < 0 ? errno : ENOSPC);
}

// Opens (creating it, at its full size) the lock file of the index at `index_path` into
// `lock`; kNotOwn when something else is at its name, kFolderUnusable when it cannot be had.
IndexStatus OpenLockFile(const std::string& index_path, ScopedFd& lock) {
  if (IndexStatus s = OpenOwnFile(BaseOf(index_path) + ".lock", O_RDWR | O_CREAT, lock); !s.Ok()) return s;
  struct stat st;
  if (::fstat(lock.Get(), &st) == 0 && st.st_size < static_cast<off_t>(kStateSize)) {
    // A new lock file: its state record gets its room now, while there is room to be had.
    State empty;
    (void)WriteState(lock.Get(), empty);
  }
  return {};
}

std::string Describe(const DbfFile& file, const std::string& index_path) {
  return "index " + ReadablePath(index_path) + " of " + ReadablePath(file.Path());
}

// The line of a failed build, whether the build said it or the request that found its state.
std::string FailureLine(const DbfFile& file, const std::string& index_path, const std::string& reason) {
  return "could not build " + Describe(file, index_path) + ": " + reason + "; the next attempt waits for a change of "
         "the table or " + std::to_string(kIndexRetrySeconds / 60) + " minutes";
}

// The table path an index file at `path` records; empty when it cannot be read.
std::string TableOfIndex(const std::string& path) {
  ScopedFd fd;
  if (!OpenOwnFile(path, O_RDONLY, fd).Ok()) return {};
  IndexFileHeader h{};
  std::string table;
  if (::pread(fd.Get(), &h, sizeof h, 0) == static_cast<ssize_t>(sizeof h) && h.path_length < 65536) {
    table.resize(h.path_length);
    if (::pread(fd.Get(), table.data(), table.size(), static_cast<off_t>(h.path_offset)) !=
        static_cast<ssize_t>(table.size())) {
      table.clear();
    }
  }
  return table;
}

// Removes, holding the lock of the index at `index_path`, the temporary files its dead
// builds left, and in the whole directory the indexes (and their files) of tables missing
// for kIndexOrphanSeconds. `log` gets a line for each.
void RemoveLeftovers(const std::string& index_path, const std::function<void(const std::string&)>& log) {
  const size_t slash = index_path.rfind('/');
  const std::string dir = index_path.substr(0, slash);
  const std::string own_prefix = index_path.substr(slash + 1) + std::string(kIndexTemporaryInfix);
  std::vector<std::string> names;
  {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (d == nullptr) return;
    while (const dirent* e = ::readdir(d.get())) names.emplace_back(e->d_name);
  }
  const int64_t now = Now();
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (name.compare(0, own_prefix.size(), own_prefix) == 0) {
      // Only the holder of this index's lock builds it, so any temporary file of it is dead.
      if (RemoveOwnFile(path)) {
        log("removed " + ReadablePath(path) + ", left by a build that did not finish (" + std::to_string(st.st_size) +
            " bytes)");
      }
      continue;
    }
    if (name.size() != 20 || name.compare(16, 4, ".idx") != 0 || now - st.st_mtim.tv_sec < kIndexOrphanSeconds) {
      continue;
    }
    // Another table's index, untouched for a day: is its table still there?
    const std::string table = TableOfIndex(path);
    struct stat table_st;
    if (table.empty() || ::stat(table.c_str(), &table_st) == 0 || errno != ENOENT) continue;
    ScopedFd lock;
    if (!OpenLockFile(path, lock).Ok() || ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    const std::string base = BaseOf(path);
    if (RemoveOwnFile(path)) {
      log("removed " + ReadablePath(path) + ", the index of " + ReadablePath(table) + ", missing for a day (" +
          std::to_string(st.st_size) + " bytes)");
    }
    (void)RemoveOwnFile(base + ".report");
    (void)RemoveOwnFile(base + ".lock");
  }
}

// Builds the index holding the lock `lock_fd`: clears leftovers, builds, records the outcome
// in the state record and says it through `log` (a failure only unless it is left in the state
// record for the next request to report). The build's status.
IndexStatus RunBuild(const DbfFile& file, const SearchIndexFields& fields, const std::string& index_path, int lock_fd,
                     const std::function<void(const std::string&)>& log, bool report_failure_in_state) {
  RemoveLeftovers(index_path, log);
  const auto start = std::chrono::steady_clock::now();
  IndexStatus status;
  try {
    status = SearchIndex::Build(file, fields, index_path);
  } catch (const std::bad_alloc&) {
    status = IndexStatus::Failed(IndexReason::kOutOfMemory, "out of memory");
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  State s;
  s.table = file.Identity();
  s.time = Now();
  if (status.Ok()) {
    struct stat st;
    const int64_t size = ::stat(index_path.c_str(), &st) == 0 ? st.st_size : 0;
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    s.status = "ok";
    (void)WriteState(lock_fd, s);
    log("built " + Describe(file, index_path) + " in " + took + " s (" + std::to_string(size) + " bytes)");
    return status;
  }
  s.status = "failed";
  s.reason = status.message;
  s.reported = !report_failure_in_state;
  (void)WriteState(lock_fd, s);
  if (!report_failure_in_state) log(FailureLine(file, index_path, status.message));
  return status;
}

// The report's name still names the file open at `fd` (a request that claimed the report
// removes its name first).
bool StillNamed(const std::string& path, int fd) {
  struct stat named, open;
  return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 && named.st_ino == open.st_ino &&
         named.st_dev == open.st_dev;
}

// Appends `line` to the report file of the index at `index_path`, for the next request to log.
// The line is written under the file's lock into the file that still has the name, so that a
// request claiming the report meanwhile loses no line.
void AppendReport(const std::string& index_path, const std::string& line) {
  const std::string path = BaseOf(index_path) + ".report";
  const std::string text = line + "\n";
  for (int attempt = 0; attempt < 3; ++attempt) {
    ScopedFd fd;
    if (!OpenOwnFile(path, O_WRONLY | O_CREAT | O_APPEND, fd).Ok()) return;
    if (::flock(fd.Get(), LOCK_EX) != 0) return;
    if (!StillNamed(path, fd.Get())) continue;  // claimed meanwhile: a new report
    (void)!::write(fd.Get(), text.data(), text.size());
    return;
  }
}

// Logs and removes what a build in a process of its own reported, once: the request that
// takes the report's lock and removes its name is the one that logs it, read from the very
// file it checked. A report that is not the program's own is left alone and said once in a
// while. Each line goes out in pieces of at most kReportPiece bytes, empty ones left out.
void ClaimReport(const std::string& index_path) {
  constexpr size_t kReportPiece = 4095;
  constexpr size_t kReportLimit = size_t{1} << 20;
  const std::string report = BaseOf(index_path) + ".report";
  ScopedFd fd;
  if (IndexStatus s = OpenOwnFile(report, O_RDONLY, fd); !s.Ok()) {
    if (s.reason == IndexReason::kNotOwn && IndexRefusalLogDue(DirectoryOf(report))) Log(s.message);
    return;
  }
  // A build writing a line holds the lock a moment; anyone else holding it is not waited for.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 || !StillNamed(report, fd.Get())) return;
  std::string text;
  char buffer[4096];
  ssize_t n;
  while (text.size() < kReportLimit && ((n = ::read(fd.Get(), buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))) {
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  ::unlink(report.c_str());
  fd.Reset();
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    for (size_t piece = at; piece < end; piece += kReportPiece) {
      Log(text.substr(piece, std::min(kReportPiece, end - piece)));
    }
    at = end + 1;
  }
}

// Starts the build in a process of its own, detached from the request: a new session (so
// that neither the web server's time-outs nor its signals to the request reach it), its
// standard streams on /dev/null (so the web server waits for none of them), the lowest
// processor and disk priority (so that visitors' requests come first).
// The process keeps `lock_fd` open: the lock is held as long as it lives. kNoProcess when no
// process could be started.
IndexStatus StartDetachedBuild(const DbfFile& file, const SearchIndexFields& fields, const std::string& index_path,
                               int lock_fd) {
  const pid_t child = ::fork();
  if (child < 0) return IndexStatus::Refused(IndexReason::kNoProcess, "cannot start a build process", errno);
  if (child == 0) {
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    RunDetachHooks();  // a FastCGI responder's sockets stay with the responder
    ScopedFd null(::open("/dev/null", O_RDWR));
    if (null.Valid()) {
      for (int fd = 0; fd <= 2; ++fd) ::dup2(null.Get(), fd);
      if (null.Get() <= 2) (void)null.Release();  // it is one of the standard streams now
    }
    null.Reset();
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);  // a file-size limit fails the write instead of killing the build
    YieldToForeground();
    (void)RunBuild(file, fields, index_path, lock_fd,
                   [&](const std::string& line) { AppendReport(index_path, line); }, /*report_failure_in_state=*/true);
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return {};
}

// Decides, holding the lock `lock_fd`, whether a build of `file` is to start now: reports a
// failure the state record holds and nobody logged yet (a build process that died says
// nothing, so "running" found under a lock now held is one), and kBackingOff when the last
// build of this very table file failed less than kIndexRetrySeconds before `now`.
IndexStatus DueForBuild(const DbfFile& file, const std::string& path, int lock_fd, int64_t now) {
  State state = ReadState(lock_fd);
  if (state.status == "running") {
    state.status = "failed";
    state.reason = "the build process ended before it finished (killed, or out of memory or CPU time)";
    state.reported = false;
  }
  if (state.status == "failed" && !state.reported) {
    Log(FailureLine(file, path, state.reason));
    state.reported = true;
    (void)WriteState(lock_fd, state);
  }
  if (state.status == "failed" && state.table == file.Identity() && now - state.time < kIndexRetrySeconds) {
    return IndexStatus::Failed(IndexReason::kBackingOff, state.reason);
  }
  return {};
}

// Records the attempt in the state record ("running") and starts the detached build; says
// what kept it from starting.
void StartBuild(const DbfFile& file, const SearchIndexFields& fields, const std::string& path, int lock_fd,
                int64_t now) {
  State running;
  running.status = "running";
  running.table = file.Identity();
  running.time = now;
  if (IndexStatus s = WriteState(lock_fd, running); !s.Ok()) {
    Log("cannot build " + Describe(file, path) + ": " + s.message);
    return;
  }
  if (IndexStatus s = StartDetachedBuild(file, fields, path, lock_fd); !s.Ok()) {
    State failed = running;
    failed.status = "failed";
    failed.reason = s.message;
    Log("could not build " + Describe(file, path) + ": " + failed.reason);
    (void)WriteState(lock_fd, failed);
  }
}

}  // namespace

void SetIndexLog(IndexLog log) { g_log = log; }

void SetIndexBuildsInlineForTesting(bool inline_builds) { g_inline_builds = inline_builds; }

// Says why the folder or a file in it cannot be used; a refusal of what others may have
// planted at most once in kIndexRefusalLogSeconds, anything else every time.
void LogUnusable(const std::string& directory, const std::string& what, const IndexStatus& s) {
  if (s.reason == IndexReason::kFolderUntrusted || s.reason == IndexReason::kNotOwn) {
    if (IndexRefusalLogDue(directory)) Log(what + s.message + "; no index is used there, searches scan the table");
    return;
  }
  Log("cannot use the index directory " + ReadablePath(directory) + ": " + s.message + "; searches scan the table");
}

std::unique_ptr<SearchIndex> IndexForRequest(const DbfFile& file, const SearchIndexFields& fields,
                                            const std::string& directory) {
  if (IndexStatus s = CheckIndexFolder(directory, /*make=*/true); !s.Ok()) {
    LogUnusable(directory, "", s);
    return nullptr;
  }
  const std::string path = SearchIndex::PathFor(file, directory);
  std::unique_ptr<SearchIndex> index;
  IndexStatus why = SearchIndex::Open(file, path, index);
  if (why.Ok()) {
    ClaimReport(path);
    return index;
  }
  if (why.reason == IndexReason::kNotOwn) {
    LogUnusable(directory, Describe(file, path) + " is ", why);
    return nullptr;
  }
  ScopedFd lock;
  if (IndexStatus s = OpenLockFile(path, lock); !s.Ok()) {
    LogUnusable(directory, "", s);
    return nullptr;
  }
  // A build is running (or another request is deciding): scan meanwhile.
  if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) return nullptr;
  // A build may have ended between the first look and the lock.
  why = SearchIndex::Open(file, path, index);
  if (why.Ok()) {
    lock.Reset();
    ClaimReport(path);
    return index;
  }
  if (why.reason == IndexReason::kNotOwn) {
    LogUnusable(directory, Describe(file, path) + " is ", why);
    return nullptr;
  }
  const int64_t now = Now();
  if (!DueForBuild(file, path, lock.Get(), now).Ok()) return nullptr;
  Log(Describe(file, path) + " is " + why.message + "; building it");
  if (g_inline_builds) {
    if (RunBuild(file, fields, path, lock.Get(), Log, /*report_failure_in_state=*/false).Ok()) {
      (void)SearchIndex::Open(file, path, index);
    }
    return index;
  }
  StartBuild(file, fields, path, lock.Get(), now);
  return nullptr;  // the build process holds the lock now
}

void RetireDamagedIndex(const SearchIndex& index) {
  struct stat st;
  if (::lstat(index.Path().c_str(), &st) == 0 && static_cast<uint64_t>(st.st_ino) == index.Identity().inode &&
      static_cast<uint64_t>(st.st_dev) == index.Identity().device) {
    (void)RemoveOwnFile(index.Path());
  }
  Log("index " + ReadablePath(index.Path()) + " is " + index.Status().message +
      "; the request was answered by scanning, and the index will be made again");
}

IndexStatus BuildIndexNow(const DbfFile& file, const SearchIndexFields& fields, const std::string& directory,
                          int wait_seconds, std::string& report) {
  const std::string path = SearchIndex::PathFor(file, directory);
  ScopedFd lock;
  IndexStatus usable = CheckIndexFolder(directory, /*make=*/true);
  if (usable.Ok()) usable = OpenLockFile(path, lock);
  if (!usable.Ok()) {
    report = usable.reason == IndexReason::kFolderUntrusted
                 ? usable.message + ": no index is made there"
                 : "cannot use the index directory " + ReadablePath(directory) + ": " + usable.message;
    return usable;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
  while (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      report = "a build of " + Describe(file, path) + " is still running";
      return IndexStatus::Failed(IndexReason::kBusy, report);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::unique_ptr<SearchIndex> current;
  if (IndexStatus s = SearchIndex::Open(file, path, current); s.Ok()) {
    lock.Reset();
    ClaimReport(path);
    report = Describe(file, path) + " is current";
    return {};
  } else if (s.reason == IndexReason::kNotOwn) {
    report = Describe(file, path) + " is " + s.message + "; left alone, no index is made there";
    return s;
  }
  ClaimReport(path);
  report.clear();
  return RunBuild(file, fields, path, lock.Get(),
                  [&](const std::string& line) { report += (report.empty() ? "" : "\n") + line; },
                  /*report_failure_in_state=*/false);
}

}  // namespace shelfra
