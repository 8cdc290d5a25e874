// Entity tags and modification times of the pages, and the 304 rule.
#include "opac/freshness.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "catalogue/catalogue.h"
#include "catalogue/settings.h"
#include "data/database.h"
#include "data/session.h"

#ifndef SHELFRA_VERSION
#define SHELFRA_VERSION "0"
#endif

namespace shelfra::opac {

namespace {

// "device:inode:size:seconds.nanoseconds;" of the file at `path`, "-;" when there is none;
// the newest modification time so far in `modified`.
std::string FileIdentity(const std::string& path, std::time_t& modified) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "-;";
  if (st.st_mtim.tv_sec > modified) modified = st.st_mtim.tv_sec;
  char text[96];
  std::snprintf(text, sizeof text, "%llx:%llx:%llx:%llx.%lx;", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino), static_cast<unsigned long long>(st.st_size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec), static_cast<unsigned long>(st.st_mtim.tv_nsec));
  return text;
}

// "device:inode:size:mtime:ctime;" of the file at `path` (nanoseconds too), "-;" when there
// is none; the newest of the two times so far in `changed`.
std::string FileState(const std::string& path, std::time_t& changed) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "-;";
  changed = std::max({changed, st.st_mtim.tv_sec, st.st_ctim.tv_sec});
  char text[128];
  std::snprintf(text, sizeof text, "%llx:%llx:%llx:%llx.%lx:%llx.%lx;", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino), static_cast<unsigned long long>(st.st_size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec), static_cast<unsigned long>(st.st_mtim.tv_nsec),
                static_cast<unsigned long long>(st.st_ctim.tv_sec), static_cast<unsigned long>(st.st_ctim.tv_nsec));
  return text;
}

// 16 hex digits of `identity` (FNV-1a, 64 bits), in double quotes when `quoted`.
std::string Hash(std::string_view identity, bool quoted) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : identity) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char text[24];
  std::snprintf(text, sizeof text, quoted ? "\"%016llx\"" : "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

// Drops the blanks around `text`.
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Whether the list `if_none_match` names `etag`; a weak "W/" form names it too (the weak
// comparison, which a GET's If-None-Match uses).
bool NamesTag(std::string_view if_none_match, std::string_view etag) {
  while (!if_none_match.empty()) {
    const size_t comma = if_none_match.find(',');
    std::string_view tag = Trimmed(if_none_match.substr(0, comma));
    if (tag == "*") return true;
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (tag == etag) return true;
    if (comma == std::string_view::npos) break;
    if_none_match.remove_prefix(comma + 1);
  }
  return false;
}

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The program's version and `part(path, time)` of each file a page is made of: the book table,
// the lending table (with `loans`), the settings file and the program's own file (a rebuilt or
// reinstalled program writes other pages).
template <class Part>
std::string FilesIdentity(bool loans, std::time_t& time, Part part) {
  TDatabase& database = Session().OpenDatabase(CatalogueAlias());
  std::string identity = SHELFRA_VERSION ";";
  identity += part(database.ResolvePath(BookTableName()), time);
  if (loans) identity += part(database.ResolvePath(LendingTableName()), time);
  Session().CloseDatabase(database);
  identity += part(SettingsFilePath(), time);
  identity += part("/proc/self/exe", time);
  return identity;
}

}  // namespace

Validators CatalogueValidators() {
  Validators v;
  v.etag = Hash(FilesIdentity(true, v.modified, FileIdentity), true);
  return v;
}

RecordsState HarvestState() {
  RecordsState state;
  state.tag = Hash(FilesIdentity(false, state.changed, FileState), false);
  return state;
}

bool NotModified(const Validators& validators, std::string_view if_none_match, std::string_view if_modified_since) {
  if (!Trimmed(if_none_match).empty()) return NamesTag(if_none_match, validators.etag);
  const std::optional<std::time_t> since = ParseHttpDate(Trimmed(if_modified_since));
  return since && validators.modified <= *since;
}

std::string HttpDate(std::time_t time) {
  std::tm tm{};
  ::gmtime_r(&time, &tm);
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": 29 bytes, fixed places.
  if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT") return std::nullopt;
  auto number = [&](size_t at, size_t size) -> int {
    int n = 0;
    for (size_t i = at; i < at + size; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      n = n * 10 + (text[i] - '0');
    }
    return n;
  };
  std::tm tm{};
  tm.tm_mon = -1;
  for (int m = 0; m < 12; ++m) {
    if (text.substr(8, 3) == kMonths[m]) tm.tm_mon = m;
  }
  tm.tm_mday = number(5, 2);
  tm.tm_year = number(12, 4) - 1900;
  tm.tm_hour = number(17, 2);
  tm.tm_min = number(20, 2);
  tm.tm_sec = number(23, 2);
  if (tm.tm_mon < 0 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_year < 70 || tm.tm_hour < 0 || tm.tm_hour > 23 ||
      tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 60 || text[7] != ' ' || text[11] != ' ' ||
      text[16] != ' ' || text[19] != ':' || text[22] != ':') {
    return std::nullopt;
  }
  return ::timegm(&tm);
}

}  // namespace shelfra::opac
