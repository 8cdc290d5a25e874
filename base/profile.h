// Private-profile (INI) file reading: one value by section and key, as the file is at the
// time of the call, or of the request's first look at it (its text is kept between calls only
// while a stat finds the file unchanged). Used by the settings file and the host configuration.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"

namespace shelfra {

// The longest value a lookup returns; longer values are cut to their first kMaxProfileValue bytes.
inline constexpr size_t kMaxProfileValue = 2047;


// Looks up `key` in `section` of the INI-form file at `path` (Shift_JIS bytes):
//   - "[name]" starts a section; "name=value" lines are its keys; lines whose first non-blank
//     byte is ";" are comments; other lines are ignored. Line ends are LF or CR LF.
//   - section and key names match by SameTextSjis; blanks (space, tab) around the section
//     name, the key and the value are dropped;
//   - only the first section of a given name is searched, and the first of repeated keys wins;
//   - a value enclosed in a pair of equal quotes (single or double) loses them; the value is
//     then cut to kMaxProfileValue bytes.
// Returns nothing when the file cannot be read or the section or key is missing. Raises nothing.
// The file is looked at (one stat) on every call, but within one request (base/request_context.h)
// only on the first: the rest of the request reads the version it found.
std::optional<std::string> FindPrivateProfileString(std::string_view section, std::string_view key,
                                                    const std::string& path);

// FindPrivateProfileString, with `default_value` when the file, the section or the key is
// missing. A key present with an empty value gives the empty text, not the default.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& path);

}  // namespace shelfra
