// The catalogue check's settings file: found and readable, in the right encoding, and each
// setting as the pages will show it.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "base/error_log.h"
#include "base/files.h"
#include "base/format.h"
#include "base/profile.h"
#include "base/text.h"
#include "catalogue/check_parts.h"
#include "catalogue/settings.h"

namespace shelfra {

using check::U;

namespace {

// The bytes of the file at `path`; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path) {
  std::string bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char buffer[8192];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

// A settings file saved in UTF-8: its byte order mark, or a section name in UTF-8 bytes (those
// never occur in Shift_JIS text).
bool WrittenInUtf8(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return true;
  for (std::string_view section : {BannerKey().section, ClassNameKey(0).section, PaddingKey().section}) {
    if (bytes.find(U(section)) != std::string_view::npos) return true;
  }
  return false;
}

// "[<section>] " of `key`, as the findings name a key. (Built by appending: g++ 12 at -O3 warns
// falsely about "[" + a temporary string.)
std::string SectionText(const SettingKey& key) {
  std::string text("[");
  text += U(key.section);
  text += "] ";
  return text;
}

// The value of `key` as the settings file at `path` holds it; nothing when it is not set.
std::optional<std::string> Find(const SettingKey& key, const std::string& path) {
  return FindPrivateProfileString(key.section, key.key, path);
}

}  // namespace

void CatalogueChecker::Settings(const std::string& directory) {
  const std::string path = SettingsFilePath();
  if (directory.size() > kSettingsDirectoryBytes) {
    Problem("the alias folder's path is longer than " + IntToStr(kSettingsDirectoryBytes) +
                " bytes, and the pages look for the settings file at " + U(path),
            "move the catalogue to a folder with a shorter path");
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
    Note("settings file " + U(path) + " is missing: the pages show the defaults");
  } else if (int err = FileReadError(path); err != 0) {
    Problem("settings file " + U(path) + " cannot be read (" + ErrnoText(err) + "): the pages show the defaults",
            "let the web server's user read it (chmod 644)");
  } else if (WrittenInUtf8(ReadFileBytes(path))) {
    Problem("settings file " + U(path) + " is written in UTF-8, but the program reads it as Shift_JIS and finds "
                                         "none of its sections: the pages show the defaults",
            "convert it: iconv -f UTF-8 -t CP932 Shelfra.ini > Shelfra.ini.new && mv Shelfra.ini.new Shelfra.ini");
  } else {
    Ok("settings file " + U(path));
  }

  const SettingKey banner_key = BannerKey();
  const std::string banner_name = SectionText(banner_key) + U(banner_key.key);
  if (std::optional<std::string> banner = Find(banner_key, path); !banner) {
    Note("banner (" + banner_name + "): not set, so the default: " + U(banner_key.default_value));
  } else if (banner->empty()) {
    Note("banner (" + banner_name + ") is empty: the search form shows no banner text");
  } else {
    Ok("banner (" + banner_name + "): " + U(*banner));
  }

  std::string names, defaults;
  int default_count = 0;
  for (int i = 0; i < 10; ++i) {
    std::optional<std::string> name = Find(ClassNameKey(i), path);
    if (i > 0) names += ", ";
    names += IntToStr(i) + " ";
    if (!name) {
      names += U(ClassNameKey(i).default_value);
      defaults += (default_count++ > 0 ? ", " : "") + IntToStr(i);
    } else {
      names += name->empty() ? "(empty)" : U(*name);
    }
  }
  const std::string classes = "class names ([" + U(ClassNameKey(0).section) + "] 0 to 9): " + names;
  if (default_count == 0) {
    Ok(classes);
  } else {
    Note(classes + (default_count == 10 ? " (all defaults)" : " (defaults: " + defaults + ")"));
  }
  NumberPadding(path);
  LibrarySection(path);
}

void CatalogueChecker::LibrarySection(const std::string& path) {
  const std::string section = SectionText(LibraryNameKey());
  if (std::optional<std::string> name = Find(LibraryNameKey(), path); name && !name->empty()) {
    Ok(section + U(LibraryNameKey().key) + ": the UTF-8 pages name the library " + U(*name));
  } else {
    // The section is optional: without it the pages are complete, so this is no note.
    Ok(section + U(LibraryNameKey().key) + ": not set, so the UTF-8 pages name no library");
  }
  for (const SettingKey& key : {LibraryHomeKey(), AccessibilityPolicyKey()}) {
    const std::string name = section + U(key.key);
    const std::optional<std::string> address = Find(key, path);
    if (!address || address->empty()) {
      Ok(name + ": not set, so the UTF-8 pages' footer has no such link");
    } else if (!LinkAddress(*address)) {
      Problem(name + "=" + U(*address) + " is no http:// or https:// address: the UTF-8 pages show no link",
              "write the full address, e.g. https://www.example.jp/library/");
    } else {
      Ok(name + ": the UTF-8 pages' footer links " + U(*address));
    }
  }
  const SettingKey identifier_key = RepositoryIdentifierKey();
  if (std::optional<std::string> identifier = Find(identifier_key, path);
      identifier && !identifier->empty() && !RepositoryIdentifierValue(*identifier)) {
    Problem(section + U(identifier_key.key) + "=" + U(*identifier) +
                " is no host name: the harvesting interface names its items after the request's host instead",
            "write the library's domain name, e.g. lib.example.jp");
  }
}

void CatalogueChecker::NumberPadding(const std::string& path) {
  const SettingKey padding_key = PaddingKey(), standard_key = StandardKey(), digits_key = DigitsKey();
  const std::string section = SectionText(padding_key);
  const std::string padding_name = U(padding_key.key), standard_name = U(standard_key.key);
  const std::string digits_name = U(digits_key.key);
  const std::optional<std::string> padding = Find(padding_key, path);
  const std::optional<std::string> standard = Find(standard_key, path);
  const std::optional<std::string> digits = Find(digits_key, path);
  const bool pads = SettingIsTrue(padding.value_or(std::string(padding_key.default_value)));
  const bool standard_on = SettingIsTrue(standard.value_or(std::string(standard_key.default_value)));
  const bool digits_used = pads && !standard_on;

  if (!padding) {
    Note(section + padding_name + ": not set, so False (the default)");
  } else if (*padding != "True" && *padding != "False") {
    Note(section + padding_name + "=" + U(*padding) + " is not True (exactly, case counts), so False");
  }
  if (!standard) {
    Note(section + standard_name + ": not set, so True (the default)");
  } else if (*standard != "True" && *standard != "False") {
    Note(section + standard_name + "=" + U(*standard) + " is not True (exactly, case counts), so the digit count is " +
         digits_name);
  }
  int count = kStandardDigits;
  bool count_ok = true;
  if (!digits) {
    if (digits_used) Note(section + digits_name + ": not set, so " + IntToStr(kStandardDigits) + " (the default)");
  } else {
    const std::optional<int32_t> n = SettingInteger(*digits);
    const std::string shown = section + digits_name + "=" + U(*digits);
    const std::string now =
        digits_used ? "" : " once it is used (" + padding_name + "=True, " + standard_name + " not True)";
    if (!n) {
      Problem(shown + " is no whole number: the detail page pads to " + IntToStr(kStandardDigits) + " digits instead" +
                  now,
              "set " + digits_name + " to a whole number, 0 or more (decimal, or hexadecimal as 0x0A or $0A)");
    } else if (*n < 0) {
      count_ok = false;
      Problem(shown + " is negative: every detail page is an error page" + now, "set " + digits_name + " to 0 or more");
    } else {
      count = *n;
    }
  }

  auto value = [](const std::optional<std::string>& v) {
    if (!v) return std::string(" not set");
    std::string text("=");
    text += U(*v);
    return text;
  };
  const std::string head = "number padding (" + section + padding_name + value(padding) + ", " + standard_name +
                           value(standard) + ", " + digits_name + value(digits) + "): ";
  if (!pads) {
    Ok(head + "the detail page shows registration numbers as stored");
  } else if (!digits_used || count_ok) {
    const int shown_count = digits_used ? count : kStandardDigits;
    if (shown_count > kMaxFormatPrecision) {
      Ok(head + "registration numbers are not padded (above " + IntToStr(kMaxFormatPrecision) + " digits)");
    } else {
      Ok(head + "the detail page zero-pads registration numbers to " + IntToStr(shown_count) + " digits");
    }
  }
}

}  // namespace shelfra
