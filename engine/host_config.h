// Host configuration: the directories the database aliases stand for, the locale settings of
// the field text rules and the index directory, all from one INI-form file (Shift_JIS).
//
//   [Aliases]
//   Vadoz=/srv/shelfra/catalogue     ; a relative directory counts from the file's directory
//   [Locale]
//   DecimalSeparator=.
//   DateSeparator=/
//   ShortDateFormat=m/d/yy
//   [Index]
//   Directory=/var/cache/shelfra
//
// It is the engine's configuration: aliases are how the engine finds its tables, and what
// goes wrong here (a missing file, an unknown alias) is reported as engine status codes, as
// any other failure to reach a table is. The INI reading itself is base's profile reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/status.h"

namespace shelfra {

struct LocaleSettings {
  char decimal_separator = '.';
  char date_separator = '/';
  std::string short_date_format = "m/d/yy";
};

// Path of the configuration file: the request's variable SHELFRA_CONFIG when it is set and not
// empty (a FastCGI parameter), else the process environment's, else "shelfra.conf" in the
// directory of the running executable.
std::string HostConfigPath();

// In `directory` the directory that `alias` stands for, from section [Aliases] (alias names
// ignore ASCII case). A relative directory is taken from the configuration file's directory;
// trailing "/" are dropped (the root stays "/"). Reads the file afresh on every call.
// Fails with kStatusConfigMissing naming the file when the configuration file is missing or
// unreadable, kStatusAliasUnknown naming the alias and the file when the alias is not
// configured (or configured empty), and kStatusAliasDirectory naming the alias and the
// directory when the directory is missing, no directory or unreadable.
EngineStatus AliasDirectory(std::string_view alias, std::string& directory);

// [Index] Directory=, a relative directory taken from the configuration file's directory;
// empty when unset or when the file is missing. Fails never.
std::string IndexDirectory();

// The locale settings from section [Locale], read on the first call of each request.
// DecimalSeparator and DateSeparator must be exactly one byte; a missing file or key, or any
// other value, keeps the default ("." and "/"). ShortDateFormat defaults to "m/d/yy" when
// missing or empty. Raises nothing.
const LocaleSettings& Locale();

// Tests only: makes Locale() return `settings` from now on.
void SetLocaleForTesting(const LocaleSettings& settings);
// Tests only: forgets the settings, so the next Locale() reads the configuration file again.
void ResetLocaleForTesting();

}  // namespace shelfra
