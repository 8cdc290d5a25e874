// Host configuration: aliases, locale settings and the index directory.
#include "engine/host_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/profile.h"
#include "base/request_context.h"

namespace shelfra {

namespace {

constexpr std::string_view kConfigFileName = "shelfra.conf";

EngineStatus AliasFault(uint16_t code, EngineFault fault, std::string_view alias, std::string subject, int err) {
  EngineStatus s = EngineStatus::About(code, fault, std::move(subject), err);
  s.name = std::string(alias);
  return s;
}

// The one-byte value of a separator key, or `fallback` for anything else.
char SeparatorValue(std::string_view key, char fallback, const std::string& path) {
  std::optional<std::string> v = FindPrivateProfileString("Locale", key, path);
  return (v && v->size() == 1) ? (*v)[0] : fallback;
}

// The settings read, the request they were read for, and whether a test set them.
struct LocaleSlotState {
  std::optional<LocaleSettings> settings;
  uint64_t request = 0;
  bool pinned = false;
};
LocaleSlotState& LocaleSlot() {
  static LocaleSlotState slot;
  return slot;
}

}  // namespace

std::string HostConfigPath() {
  if (const char* named = RequestOrProcessVariable("SHELFRA_CONFIG")) return named;
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return std::string(kConfigFileName);
  std::string exe(buf, static_cast<size_t>(n));
  return DirectoryOf(exe) + "/" + std::string(kConfigFileName);
}

EngineStatus AliasDirectory(std::string_view alias, std::string& directory) {
  std::string path = HostConfigPath();
  if (int err = FileReadError(path); err != 0) {
    return EngineStatus::About(kStatusConfigMissing, EngineFault::kConfigMissing, path, err);
  }
  std::optional<std::string> dir = FindPrivateProfileString("Aliases", alias, path);
  if (!dir || dir->empty()) return AliasFault(kStatusAliasUnknown, EngineFault::kAliasUnknown, alias, path, 0);
  if ((*dir)[0] != '/') *dir = DirectoryOf(path) + "/" + *dir;
  while (dir->size() > 1 && dir->back() == '/') dir->pop_back();

  struct stat st;
  if (::stat(dir->c_str(), &st) != 0) {
    int err = errno;
    const bool missing = err == ENOENT || err == ENOTDIR;
    return AliasFault(kStatusAliasDirectory,
                      missing ? EngineFault::kAliasDirectoryMissing : EngineFault::kAliasDirectoryUnreadable, alias,
                      *dir, err);
  }
  // The tables are listed and read in it: it must be a directory we may read and search.
  int err = !S_ISDIR(st.st_mode) ? ENOTDIR : (::access(dir->c_str(), R_OK | X_OK) == 0 ? 0 : errno);
  if (err != 0) {
    return AliasFault(kStatusAliasDirectory, EngineFault::kAliasDirectoryUnreadable, alias, *dir, err);
  }
  directory = std::move(*dir);
  return {};
}

std::string IndexDirectory() {
  const std::string path = HostConfigPath();
  std::string directory = GetPrivateProfileString("Index", "Directory", "", path);
  // A relative directory counts from the configuration file's directory, as alias
  // directories do.
  if (!directory.empty() && directory.front() != '/') directory = DirectoryOf(path) + "/" + directory;
  return directory;
}

const LocaleSettings& Locale() {
  LocaleSlotState& state = LocaleSlot();
  std::optional<LocaleSettings>& slot = state.settings;
  // Read again for every request: the file (or the request's choice of it) may have changed.
  if (!slot || (!state.pinned && state.request != RequestNumber())) {
    state.request = RequestNumber();
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

void SetLocaleForTesting(const LocaleSettings& settings) {
  LocaleSlot().settings = settings;
  LocaleSlot().pinned = true;
}

void ResetLocaleForTesting() { LocaleSlot() = LocaleSlotState{}; }

}  // namespace shelfra
