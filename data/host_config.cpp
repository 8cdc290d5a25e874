// Host configuration: aliases, locale settings and the index directory.
#include "data/host_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/profile.h"
#include "data/db_errors.h"
#include "data_res.h"

namespace shelfra {

namespace {

constexpr std::string_view kConfigFileName = "shelfra.conf";

[[noreturn]] void RaiseConfigError(uint16_t code, std::string message, int native_error) {
  std::vector<TDBError> entries{TDBError{code, native_error, message}};
  throw EDBEngineError(code, std::move(message), std::move(entries));
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// 0 when `path` is a regular file we may read, else the reason as an errno value.
int FileReadError(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  return ::access(path.c_str(), R_OK) == 0 ? 0 : errno;
}

// The one-byte value of a separator key, or `fallback` for anything else.
char SeparatorValue(std::string_view key, char fallback, const std::string& path) {
  std::optional<std::string> v = FindPrivateProfileString("Locale", key, path);
  return (v && v->size() == 1) ? (*v)[0] : fallback;
}

std::optional<LocaleSettings>& LocaleSlot() {
  static std::optional<LocaleSettings> slot;
  return slot;
}

}  // namespace

std::string HostConfigPath() {
  const char* env = std::getenv("SHELFRA_CONFIG");
  if (env != nullptr && *env != '\0') return env;
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::string(kConfigFileName);
  std::string exe(buf, static_cast<size_t>(n));
  return DirectoryOf(exe) + "/" + std::string(kConfigFileName);
}

std::string AliasDirectory(std::string_view alias) {
  std::string path = HostConfigPath();
  if (int err = FileReadError(path); err != 0) {
    RaiseConfigError(kHostErrorConfigMissing, Format(res::data::kHostConfigMissing, {path}), err);
  }
  std::optional<std::string> dir = FindPrivateProfileString("Aliases", alias, path);
  if (!dir || dir->empty()) {
    RaiseConfigError(kHostErrorAliasUnknown, Format(res::data::kHostAliasUnknown, {alias, path}), 0);
  }
  if ((*dir)[0] != '/') *dir = DirectoryOf(path) + "/" + *dir;
  while (dir->size() > 1 && dir->back() == '/') dir->pop_back();

  struct stat st;
  if (::stat(dir->c_str(), &st) != 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      RaiseConfigError(kHostErrorDirectory, Format(res::data::kHostAliasDirMissing, {alias, *dir}), err);
    }
    RaiseConfigError(kHostErrorDirectory, Format(res::data::kHostAliasDirUnreadable, {alias, *dir}), err);
  }
  // The tables are listed and read in it: it must be a directory we may read and search.
  int err = !S_ISDIR(st.st_mode) ? ENOTDIR : (::access(dir->c_str(), R_OK | X_OK) == 0 ? 0 : errno);
  if (err != 0) {
    RaiseConfigError(kHostErrorDirectory, Format(res::data::kHostAliasDirUnreadable, {alias, *dir}), err);
  }
  return *dir;
}

std::string IndexDirectory() { return GetPrivateProfileString("Index", "Directory", "", HostConfigPath()); }

const LocaleSettings& Locale() {
  std::optional<LocaleSettings>& slot = LocaleSlot();
  if (!slot) {
    std::string path = HostConfigPath();
    LocaleSettings s;
    s.decimal_separator = SeparatorValue("DecimalSeparator", s.decimal_separator, path);
    s.date_separator = SeparatorValue("DateSeparator", s.date_separator, path);
    std::optional<std::string> format = FindPrivateProfileString("Locale", "ShortDateFormat", path);
    if (format && !format->empty()) s.short_date_format = std::move(*format);
    slot = std::move(s);
  }
  return *slot;
}

void SetLocaleForTesting(const LocaleSettings& settings) { LocaleSlot() = settings; }

void ResetLocaleForTesting() { LocaleSlot().reset(); }

}  // namespace shelfra
