// The catalogue check, part by part in the order a request meets them.
#include "app/catalogue_check.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "app/catalogue.h"
#include "app_res.h"
#include "base/error_log.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/profile.h"
#include "base/text.h"
#include "data/database.h"
#include "data/db_errors.h"
#include "data/session.h"
#include "engine/collation.h"
#include "engine/dbf_file.h"
#include "engine/host_config.h"
#include "engine/search_index.h"

namespace shelfra {

namespace {

namespace r = res::app;

constexpr std::string_view kSettingsFileName = "Shelfra.ini";
// The settings lookup takes at most this many bytes of the alias folder's path
// (TWebModule1::IniFileName).
constexpr size_t kSettingsDirectoryBytes = 255;
// The digit count of the standard padding, and of a digits key that is missing or no number.
constexpr int kStandardDigits = 6;

// The fields the detail page's tags read (res/detail.html through the module's tag handler):
// the call number's three pieces, then one field per tag. The handler also has a tag for the
// note field, which the page does not use.
constexpr std::string_view kDetailFields[] = {
    r::kFieldClassCode, r::kFieldBookMark,  r::kFieldVolumeMark, r::kFieldTitle, r::kFieldAuthor, r::kFieldSeries,
    r::kFieldPublisher, r::kFieldYear,      r::kFieldSize,       r::kFieldPages, r::kFieldPlace,  r::kFieldContents,
};

// Shift_JIS text for a UTF-8 line.
std::string U(std::string_view sjis) { return ReadableUtf8(sjis); }

std::string Hex(unsigned byte) { return Format("0x%.2x", {byte}); }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// 0 when `path` is a regular file this user may read, else the reason as an errno value.
int FileReadError(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  return ::access(path.c_str(), R_OK) == 0 ? 0 : errno;
}

bool Contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// No switch over the field types: the reader may learn types this check need not know.
bool IsNumber(TFieldType t) {
  return t == TFieldType::ftSmallint || t == TFieldType::ftInteger || t == TFieldType::ftFloat;
}
// Read as the raw bytes of the record (a memo field's block number, a type the reader does not
// decode): never the text an operator means.
bool IsRawText(TFieldType t) { return t == TFieldType::ftMemo || t == TFieldType::ftUnknown; }

// The field's type as its descriptor gives it: "C 254", "N 10", "N 8.2".
std::string TypeText(const DbfField& f) {
  std::string text = U(std::string(1, f.dbf_type)) + " " + IntToStr(f.length);
  if (f.decimals > 0) text.append(".").append(IntToStr(f.decimals));
  return text;
}

std::string UsesText(unsigned uses) {
  static constexpr std::pair<unsigned, std::string_view> kNames[] = {
      {kFieldNumberKey, "number lookups"}, {kFieldSearched, "searched"},     {kFieldListed, "result list"},
      {kFieldShown, "detail page"},        {kFieldDueDate, "detail page of a book on loan"},
      {kFieldLoanFlag, "lending filter"},
  };
  std::string text;
  for (const auto& [bit, name] : kNames) {
    if ((uses & bit) == 0) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

// The dBase type the pages need for a field used so.
std::string_view NeededType(unsigned uses) {
  if (uses & kFieldLoanFlag) return "a logical field (L)";
  if (uses & kFieldNumberKey) return "a number field (N)";
  if (uses & kFieldDueDate) return "a date field (D)";
  return "a character field (C)";
}

// What the pages do when a field used so is missing.
std::string MissingEffect(unsigned uses) {
  if (uses & kFieldLoanFlag) return "the lending filter names it, so every page is an error page";
  std::string effect;
  auto add = [&effect](std::string_view piece) {
    if (!effect.empty()) effect += ", and ";
    effect += piece;
  };
  if (uses & (kFieldNumberKey | kFieldShown)) add("every detail page is an error page");
  if (uses & kFieldDueDate) add("the detail page of a book on loan is an error page");
  if (uses & kFieldSearched) add("every search that tests it is an error page");
  if (effect.empty() && (uses & kFieldListed)) add("the result list shows an empty column");
  return effect;
}

// The version byte as the kind of table it marks; empty for a byte no writer is known to use.
std::string_view FormatName(uint8_t version) {
  switch (version) {
    case 0x02:
    case 0xFB: return "FoxBASE";
    case 0x03: return "dBase III";
    case 0x83: return "dBase III with memo";
    case 0x8B: return "dBase IV with memo";
    case 0x43:
    case 0x63:
    case 0xCB: return "dBase IV SQL table";
    case 0xF5: return "FoxPro with memo";
    case 0x30:
    case 0x31:
    case 0x32: return "Visual FoxPro";
    default: return {};
  }
}

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
  for (std::string_view section : {r::kSectionWeb, r::kSectionClasses, r::kSectionNumbers}) {
    if (bytes.find(U(section)) != std::string_view::npos) return true;
  }
  return false;
}

class CatalogueChecker {
 public:
  std::vector<Finding> Run();

 private:
  void Add(FindingKind kind, std::string text) { findings_.push_back(Finding{kind, std::move(text)}); }
  void Ok(std::string text) { Add(FindingKind::kOk, std::move(text)); }
  void Note(std::string text) { Add(FindingKind::kNote, std::move(text)); }
  // `what` is wrong; `todo` says what to do about it.
  void Problem(const std::string& what, const std::string& todo) { Add(FindingKind::kProblem, what + "; " + todo); }

  bool Configuration();
  bool Alias(std::string& directory);
  const DbfFile* Table(TDatabase& database, std::string_view label, std::string_view name);
  void TableNotFound(const TDatabase& database, const std::string& what, std::string_view name);
  void Records(const DbfFile& file, const std::string& table);
  void Fields(const DbfFile& file, const std::string& table, const std::vector<UsedField>& used);
  void MissingField(const DbfFile& file, const std::string& table, const UsedField& used);
  void RegistrationNumberPosition(const DbfFile& file, const std::string& table);
  void Settings(const std::string& directory);
  void NumberPadding(const std::string& path);
  void IndexFolder(const std::vector<std::pair<std::string, const DbfFile*>>& tables);

  std::vector<Finding> findings_;
};

std::vector<Finding> CatalogueChecker::Run() {
  if (!Configuration()) return std::move(findings_);
  std::string directory;
  std::vector<std::pair<std::string, const DbfFile*>> tables;
  // The tables are read as the program reads them, through the session; the database is
  // released at the end, so a later check in the same process reads the files afresh.
  struct DatabaseUse {
    TDatabase* database = nullptr;
    ~DatabaseUse() {
      if (database != nullptr) Session().CloseDatabase(*database);
    }
  } use;
  if (Alias(directory)) {
    try {
      use.database = &Session().OpenDatabase(CatalogueAlias());
    } catch (const Exception& e) {
      Problem("alias " + std::string(CatalogueAlias()) + ": " + U(e.Message()), "run the check again");
    }
  }
  if (use.database != nullptr) {
    const std::pair<std::string_view, std::string_view> kTables[] = {{"book table", BookTableName()},
                                                                      {"lending table", LendingTableName()}};
    for (const auto& [label, name] : kTables) {
      if (const DbfFile* file = Table(*use.database, label, name)) tables.emplace_back(U(name), file);
    }
    Settings(directory);
  }
  IndexFolder(tables);
  return std::move(findings_);
}

bool CatalogueChecker::Configuration() {
  const std::string path = HostConfigPath();
  const char* variable = std::getenv("SHELFRA_CONFIG");
  const bool from_variable = variable != nullptr && *variable != '\0';
  if (int err = FileReadError(path); err != 0) {
    Problem("configuration file " + U(path) + (from_variable ? " (SHELFRA_CONFIG)" : " (beside this command)") +
                " cannot be read: " + ErrnoText(err),
            from_variable ? "correct SHELFRA_CONFIG, or write the file with its [Aliases] section"
                          : "set SHELFRA_CONFIG to the file the web server gives the program");
    return false;
  }
  if (from_variable) {
    Ok("configuration file " + U(path) + " (SHELFRA_CONFIG)");
  } else {
    Note("configuration file " + U(path) + ", beside this command: the web program reads the one beside it unless "
         "the web server sets SHELFRA_CONFIG");
  }
  return true;
}

bool CatalogueChecker::Alias(std::string& directory) {
  const std::string alias(CatalogueAlias());
  const EngineStatus s = AliasDirectory(alias, directory);
  if (s.Ok()) {
    Ok("alias " + alias + ": folder " + U(directory));
    return true;
  }
  const std::string folder = U(s.subject);
  switch (s.fault) {
    case EngineFault::kAliasUnknown:
      Problem("alias " + alias + " is not set in [Aliases] of " + folder + ": every page is an error page",
              "add the line " + alias + "=<the catalogue's folder> to [Aliases]");
      break;
    case EngineFault::kAliasDirectoryMissing:
      Problem("alias " + alias + ": folder " + folder + " does not exist: every page is an error page",
              "copy the catalogue there, or correct the line " + alias + "= of [Aliases]");
      break;
    case EngineFault::kAliasDirectoryUnreadable:
      Problem("alias " + alias + ": " + folder + " is no folder this user may read (" + ErrnoText(s.native_error) +
                  "): every page is an error page",
              "chmod 755 " + folder + ", or correct the line " + alias + "= of [Aliases]");
      break;
    default:
      Problem("configuration file " + folder + " cannot be read", "run the check again");
      break;
  }
  return false;
}

const DbfFile* CatalogueChecker::Table(TDatabase& database, std::string_view label, std::string_view name) {
  const std::string table = U(name);
  const DbfFile* file = nullptr;
  try {
    file = &database.OpenTableFile(name);
  } catch (const EDBEngineError& e) {
    // Both tables open as the module is made, so a table that does not open fails every page.
    const std::string what = std::string(label) + " " + table + ": " + U(e.Message()) + ": every page is an error page";
    switch (e.ErrorCode()) {
      case kStatusTableNotFound:
        TableNotFound(database, what, name);
        break;
      case kStatusTableUnreadable:
        Problem(what, "let the web server's user read it (chmod 644)");
        break;
      case kStatusTableChanged:
        Problem(what, "it changed while it was read: run the check again when the copy is done");
        break;
      default:
        Problem(what, "replace it with a good copy, by rename (the operator's guide: \"Replacing the catalogue "
                      "safely\")");
        break;
    }
    return nullptr;
  }
  // The file is found under its Shift_JIS name or, failing that, under the UTF-8 spelling,
  // whose bytes are printed as they are.
  const std::string& path = file->Path();
  const std::string file_name = path.substr(path.rfind('/') + 1);
  const bool utf8_name = !SameTextAscii(file_name, name) && SameTextAscii(file_name, U(name));
  if (!utf8_name) {
    Ok(std::string(label) + " " + table + ": " + U(path));
  } else {
    Ok(std::string(label) + " " + table + ": " + U(database.Directory()) + "/" + file_name);
    Note(table + " is found under its UTF-8 name " + file_name + " (a file under the Shift_JIS name would be taken first)");
  }
  // Format and language in one line; a note when either is not what the program expects.
  const std::string_view format = FormatName(file->Version());
  const uint8_t language = file->LanguageDriver();
  std::string text = table + ": " + (format.empty() ? "a format this check does not know" : std::string(format)) +
                     " (version byte " + Hex(file->Version()) + "), ";
  if (language == 0x13 || language == 0x7B) {
    text += "Shift_JIS text (language byte " + Hex(language) + ")";
  } else if (language == 0) {
    text += "language byte unset (read as Shift_JIS)";
  } else {
    text += "language byte " + Hex(language) + ", another code page";
  }
  if (format.empty()) {
    Note(text + ": it is read as dBase III");
  } else if (language != 0 && language != 0x13 && language != 0x7B) {
    Note(text + ": the program reads every table as Shift_JIS, so text in another encoding shows garbled");
  } else {
    Ok(text);
  }
  Records(*file, table);
  if (name == BookTableName()) {
    Fields(*file, table, BookFieldsInUse());
    RegistrationNumberPosition(*file, table);
  } else {
    Fields(*file, table, LendingFieldsInUse());
  }
  return file;
}

void CatalogueChecker::TableNotFound(const TDatabase& database, const std::string& what, std::string_view name) {
  // A copy with the UTF-8 name (the extension in any ASCII case) is the usual mistake; that
  // name is UTF-8 already.
  const std::string utf8 = U(name);
  std::string found;
  if (DIR* dir = ::opendir(database.Directory().c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (SameTextAscii(entry->d_name, utf8)) found = entry->d_name;
    }
    ::closedir(dir);
  }
  if (!found.empty()) {
    Problem(what, "it is there under its UTF-8 name: rename it to the Shift_JIS name (cd " + U(database.Directory()) +
                      " && convmv -f utf8 -t cp932 --notest " + found + ")");
  } else {
    Problem(what, "copy the table into " + U(database.Directory()) + " under its Shift_JIS name " + utf8);
  }
}

void CatalogueChecker::Records(const DbfFile& file, const std::string& table) {
  const size_t length = file.RecordLength();
  uint32_t deleted = 0;
  const EngineStatus s = file.ScanChunks([&](uint32_t, uint32_t count, std::string_view chunk) {
    for (uint32_t i = 0; i < count; ++i) deleted += DbfFile::IsDeleted(chunk.substr(i * length, length));
    return true;
  });
  if (!s.Ok()) {
    Problem(table + " changed while it was read", "run the check again when the copy is done");
    return;
  }
  const std::string text =
      table + ": " + IntToStr(file.RecordCount()) + " records, " + IntToStr(deleted) + " of them deleted";
  if (deleted == file.RecordCount()) {
    Note(text + ": every search finds nothing");
  } else {
    Ok(text);
  }
}

void CatalogueChecker::Fields(const DbfFile& file, const std::string& table, const std::vector<UsedField>& used) {
  for (const UsedField& u : used) {
    const int at = file.FieldIndex(u.name);
    if (at < 0) {
      MissingField(file, table, u);
      continue;
    }
    const DbfField& f = file.Fields()[static_cast<size_t>(at)];
    const std::string name = U(u.name);
    const std::string head = table + ": " + name + " (" + TypeText(f) + "; " + UsesText(u.uses) + ")";
    const std::string todo = "export " + name + " as " + std::string(NeededType(u.uses));
    const TFieldType t = f.type;
    if ((u.uses & kFieldLoanFlag) && t != TFieldType::ftBoolean) {
      Problem(head + " is no logical field: the lending filter " + U(LendingFilter()) +
                  " fails, and every page is an error page",
              todo);
    } else if ((u.uses & kFieldNumberKey) && !IsNumber(t)) {
      if (t == TFieldType::ftString) {
        Note(head + " is a character field: a book is found only when it holds the number's plain digits, without "
                    "leading zeros or blanks");
      } else {
        Problem(head + " is no number field: " +
                    (t == TFieldType::ftDate ? "every detail page is an error page" : "the detail page finds no book"),
                todo);
      }
    } else if ((u.uses & kFieldSearched) && t != TFieldType::ftString) {
      Problem(head + (IsRawText(t) ? " is read as its raw bytes (a memo field's block number): searches do not see "
                                     "its text"
                                   : " is no character field: every search that tests it is an error page"),
              todo);
    } else if (IsRawText(t)) {
      Problem(head + " is read as its raw bytes (a memo field's block number): the pages show those, not its text",
              todo);
    } else {
      Ok(head);
    }
  }
}

void CatalogueChecker::MissingField(const DbfFile& file, const std::string& table, const UsedField& used) {
  const std::string name = U(used.name);
  const std::string what = table + ": " + name + " is missing: " + MissingEffect(used.uses);
  // The same letters in another width or script (a full-width reading for a half-width one).
  for (const DbfField& f : file.Fields()) {
    if (KeyMatches(f.name, used.name, /*ignore_case=*/true, /*partial=*/false)) {
      Problem(what, "rename the field " + U(f.name) + " to " + name);
      return;
    }
  }
  Problem(what, "add the field " + name + " as " + std::string(NeededType(used.uses)) +
                    ", or export the table with its full field list");
}

void CatalogueChecker::RegistrationNumberPosition(const DbfFile& file, const std::string& table) {
  const int at = file.FieldIndex(r::kFieldRegistrationNo);
  if (at < 0) return;  // reported as missing
  const std::string number = U(r::kFieldRegistrationNo);
  const std::string todo = "move " + number + " to the second position, as in the full field list";
  if (at == 1) {
    Ok(table + ": " + number + " is the second field, where the detail page reads the number it shows");
  } else if (file.Fields().size() < 2) {
    Problem(table + ": the detail page reads the number it shows from the second field, and the table has one field: "
                    "every detail page is an error page",
            todo);
  } else {
    Problem(table + ": " + number + " is field " + IntToStr(at + 1) +
                ", but the detail page reads the number it shows from the second field, here " +
                U(file.Fields()[1].name) +
                ": it shows that field's value (or an error page when numbers are padded and it holds no number)",
            todo);
  }
}

void CatalogueChecker::Settings(const std::string& directory) {
  const std::string path = directory.substr(0, kSettingsDirectoryBytes) + "/" + std::string(kSettingsFileName);
  if (directory.size() > kSettingsDirectoryBytes) {
    Problem("the alias folder's path is longer than 255 bytes, and the pages look for the settings file at " + U(path),
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

  const std::string banner_key = "[" + U(r::kSectionWeb) + "] " + U(r::kKeyMessage);
  if (std::optional<std::string> banner = FindPrivateProfileString(r::kSectionWeb, r::kKeyMessage, path); !banner) {
    Note("banner (" + banner_key + "): not set, so the default: " + U(r::kDefaultMessage));
  } else if (banner->empty()) {
    Note("banner (" + banner_key + ") is empty: the search form shows no banner text");
  } else {
    Ok("banner (" + banner_key + "): " + U(*banner));
  }

  static constexpr std::string_view kClassDefaults[10] = {
      r::kDefaultClass0, r::kDefaultClass1, r::kDefaultClass2, r::kDefaultClass3, r::kDefaultClass4,
      r::kDefaultClass5, r::kDefaultClass6, r::kDefaultClass7, r::kDefaultClass8, r::kDefaultClass9,
  };
  std::string names, defaults;
  int default_count = 0;
  for (int i = 0; i < 10; ++i) {
    std::optional<std::string> name = FindPrivateProfileString(r::kSectionClasses, IntToStr(i), path);
    if (i > 0) names += ", ";
    names += IntToStr(i) + " ";
    if (!name) {
      names += U(kClassDefaults[i]);
      defaults += (default_count++ > 0 ? ", " : "") + IntToStr(i);
    } else {
      names += name->empty() ? "(empty)" : U(*name);
    }
  }
  const std::string classes = "class names ([" + U(r::kSectionClasses) + "] 0 to 9): " + names;
  if (default_count == 0) {
    Ok(classes);
  } else {
    Note(classes + (default_count == 10 ? " (all defaults)" : " (defaults: " + defaults + ")"));
  }
  NumberPadding(path);
}

void CatalogueChecker::NumberPadding(const std::string& path) {
  const std::string section = "[" + U(r::kSectionNumbers) + "] ";
  const std::string padding_key = U(r::kKeyPadding), standard_key = U(r::kKeyStandard), digits_key = U(r::kKeyDigits);
  const std::optional<std::string> padding = FindPrivateProfileString(r::kSectionNumbers, r::kKeyPadding, path);
  const std::optional<std::string> standard = FindPrivateProfileString(r::kSectionNumbers, r::kKeyStandard, path);
  const std::optional<std::string> digits = FindPrivateProfileString(r::kSectionNumbers, r::kKeyDigits, path);
  // As TWebModule1::TumeMoji and Keta: only the exact text True counts as true.
  const bool pads = padding.value_or("False") == "True";
  const bool standard_on = standard.value_or("True") == "True";
  const bool digits_used = pads && !standard_on;

  if (!padding) {
    Note(section + padding_key + ": not set, so False (the default)");
  } else if (*padding != "True" && *padding != "False") {
    Note(section + padding_key + "=" + U(*padding) + " is not True (exactly, case counts), so False");
  }
  if (!standard) {
    Note(section + standard_key + ": not set, so True (the default)");
  } else if (*standard != "True" && *standard != "False") {
    Note(section + standard_key + "=" + U(*standard) + " is not True (exactly, case counts), so the digit count is " +
         digits_key);
  }
  int count = kStandardDigits;
  bool count_ok = true;
  if (!digits) {
    if (digits_used) Note(section + digits_key + ": not set, so 6 (the default)");
  } else {
    // The settings' hexadecimal "0x0A" goes to the conversion as "$0A" (TWebModule1::ReadSettingInteger).
    std::string text = *digits;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.replace(0, 2, "$");
    const std::optional<int32_t> n = TryStrToInt(text);
    const std::string shown = section + digits_key + "=" + U(*digits);
    const std::string now =
        digits_used ? "" : " once it is used (" + padding_key + "=True, " + standard_key + " not True)";
    if (!n) {
      Problem(shown + " is no whole number: the detail page pads to 6 digits instead" + now,
              "set " + digits_key + " to a whole number, 0 or more (decimal, or hexadecimal as 0x0A or $0A)");
    } else if (*n < 0) {
      count_ok = false;
      Problem(shown + " is negative: every detail page is an error page" + now, "set " + digits_key + " to 0 or more");
    } else {
      count = *n;
    }
  }

  auto value = [](const std::optional<std::string>& v) { return v ? "=" + U(*v) : std::string(" not set"); };
  const std::string head = "number padding (" + section + padding_key + value(padding) + ", " + standard_key +
                           value(standard) + ", " + digits_key + value(digits) + "): ";
  if (!pads) {
    Ok(head + "the detail page shows registration numbers as stored");
  } else if (!digits_used || count_ok) {
    const int shown_count = digits_used ? count : kStandardDigits;
    if (shown_count > 16) {
      Ok(head + "registration numbers are not padded (above 16 digits)");
    } else {
      Ok(head + "the detail page zero-pads registration numbers to " + IntToStr(shown_count) + " digits");
    }
  }
}

void CatalogueChecker::IndexFolder(const std::vector<std::pair<std::string, const DbfFile*>>& tables) {
  const std::string directory = IndexDirectory();
  if (directory.empty()) {
    Ok("no index folder ([Index] Directory= is not set): every search reads the whole table, and the program "
       "writes nothing");
    return;
  }
  const std::string folder = U(directory);
  struct stat st;
  if (::stat(directory.c_str(), &st) != 0) {
    const int err = errno;
    // The program makes the folder itself, one level, when it may write its parent.
    const std::string parent = DirectoryOf(directory);
    if (err == ENOENT && ::access(parent.c_str(), W_OK | X_OK) == 0) {
      Note("index folder " + folder + " does not exist yet: the first request makes it");
    } else {
      Problem("index folder " + folder + " cannot be made or used (" + ErrnoText(err) +
                  "): searches scan the table and every request logs it",
              "mkdir -p " + folder + " and let the web server's user write it");
    }
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    Problem("index folder " + folder + " is no folder: searches scan the table and every request logs it",
            "remove or rename what is there, or set [Index] Directory= to a folder");
    return;
  }
  if (::access(directory.c_str(), W_OK | X_OK) != 0) {
    Problem("index folder " + folder + " cannot be written by this user (" + ErrnoText(errno) +
                "): searches scan the table and every request logs it",
            "let the web server's user write it (chown www-data " + folder + ")");
    return;
  }
  Ok("index folder " + folder + ": writable");
  for (const auto& [table, file] : tables) {
    const std::string path = SearchIndex::PathFor(*file, directory);
    std::unique_ptr<SearchIndex> index;
    if (const IndexStatus why = SearchIndex::Open(*file, path, index); why.Ok()) {
      Ok("index of " + table + ": current (" + U(path) + ")");
    } else if (why.reason == IndexReason::kMissing) {
      Note("index of " + table + ": none yet (" + U(path) + "): the first request makes it, or run shelfra-index");
    } else {
      Note("index of " + table + ": " + why.message + " (" + U(path) +
           "): the next request makes it again, or run shelfra-index");
    }
  }
}

}  // namespace

std::vector<UsedField> BookFieldsInUse() {
  const SearchIndexFields index = CatalogueIndexFields();  // the fields the search statement tests
  const std::vector<std::string_view> listed = ResultListFields();
  const std::vector<std::string_view> shown(std::begin(kDetailFields), std::end(kDetailFields));
  std::vector<UsedField> used;
  for (const TFieldDef& def : BookTableFieldDefs()) {
    unsigned uses = 0;
    if (std::find(index.texts.begin(), index.texts.end(), def.name) != index.texts.end()) uses |= kFieldSearched;
    if (Contains(listed, def.name)) uses |= kFieldListed;
    if (Contains(shown, def.name)) uses |= kFieldShown;
    if (def.name == r::kFieldRegistrationNo) uses |= kFieldNumberKey;
    if (uses != 0) used.push_back(UsedField{def.name, uses});
  }
  return used;
}

std::vector<UsedField> LendingFieldsInUse() {
  return {
      {std::string(r::kFieldRegistrationNo), kFieldNumberKey},
      {std::string(r::kFieldDueDate), kFieldDueDate},
      {std::string(r::kFieldReturned), kFieldLoanFlag},
  };
}

std::vector<Finding> CheckCatalogue() { return CatalogueChecker().Run(); }

std::string FindingLine(const Finding& finding) {
  switch (finding.kind) {
    case FindingKind::kOk: return "ok: " + finding.text;
    case FindingKind::kNote: return "note: " + finding.text;
    case FindingKind::kProblem: return "problem: " + finding.text;
  }
  return finding.text;
}

bool CatalogueServes(const std::vector<Finding>& findings) {
  return std::none_of(findings.begin(), findings.end(),
                      [](const Finding& f) { return f.kind == FindingKind::kProblem; });
}

}  // namespace shelfra
