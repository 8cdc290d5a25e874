// The catalogue's settings file: where it is, its keys with the defaults the pages show, and
// how a value is read. The pages and the operator's check both read the settings through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace shelfra {

// The settings file's name ("Shelfra.ini"), in the folder of the catalogue's alias.
std::string_view SettingsFileName();

// The longest folder path the settings lookup takes: a longer one is cut to this many bytes.
inline constexpr size_t kSettingsDirectoryBytes = 255;

// The settings file's path, as the session gives the alias's folder: the first line of the
// alias's parameters ("PATH=<folder>") from its sixth byte on, cut to kSettingsDirectoryBytes
// bytes, then "/" (paths on this host use it between folder and file) and the file's name.
// Each call sees the host configuration as it is. Raises EDBEngineError when the alias is
// unknown.
std::string SettingsFilePath();

// A key of the settings file and the value the pages take when it is not set (Shift_JIS).
struct SettingKey {
  std::string_view section;
  std::string_view key;
  std::string_view default_value;
};

// The search form's banner.
SettingKey BannerKey();
// The name of class `digit` (0 to 9) in the search form's class selector.
// Requires: 0 <= digit <= 9.
SettingKey ClassNameKey(int digit);
// Number padding: the detail page zero-pads registration numbers when this is true (default
// False) ...
SettingKey PaddingKey();
// ... to kStandardDigits digits while this is true (default True) ...
SettingKey StandardKey();
// ... else to the digit count of this key (kStandardDigits when it is no number).
SettingKey DigitsKey();

inline constexpr int kStandardDigits = 6;

// The UTF-8 pages' optional section: the library's name, shown in their header and footer
// (default empty: the pages' own name only) ...
SettingKey LibraryNameKey();
// ... the address of its home page and of its accessibility policy, each a link in the footer
// when it is a LinkAddress (default empty: no link).
SettingKey LibraryHomeKey();
SettingKey AccessibilityPolicyKey();

// The harvesting interface (OAI-PMH at /oai of the UTF-8 front), in the same section: the
// repository's name (default empty: the library's name, else the pages' own name) ...
SettingKey RepositoryNameKey();
// ... its identifier, the <repository> of each item's "oai:<repository>:<number>" (default
// empty: the host name the request names) ...
SettingKey RepositoryIdentifierKey();
// ... its administrators' e-mail addresses, separated by blanks or commas (default empty:
// "webmaster@" and the host name) ...
SettingKey AdminEmailKey();
// ... and whether the ten classes are offered as sets (default True).
SettingKey HarvestSetsKey();
// Whether `name` may be the repository identifier: 1 to 253 bytes of ASCII letters, digits,
// "-" and ".", the first and the last a letter or digit (a host name's characters, which an
// item identifier and a query carry as they are).
bool RepositoryIdentifierValue(std::string_view name);

// Whether `address` may be written as a link: "http://" or "https://" (ASCII case ignored),
// then at least one byte, and no blank or control byte anywhere. Other schemes (javascript:,
// data:) and relative addresses never are.
bool LinkAddress(std::string_view address);

// A switch is on only when its text is exactly "True" (case counts).
bool SettingIsTrue(std::string_view value);

// The integer a key's text gives: decimal, or hexadecimal written "$0A" or as C writes it,
// "0x0A"; nothing when the text is no number (an empty text included).
std::optional<int32_t> SettingInteger(std::string_view text);

}  // namespace shelfra
