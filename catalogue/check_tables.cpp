// The catalogue check's tables: each file found, its format and records, the fields the pages
// read with their types, and where the registration number stands.
#include <dirent.h>

#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/format.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "catalogue/check_parts.h"
#include "data/database.h"
#include "data/db_errors.h"
#include "engine/collation.h"
#include "engine/dbf_file.h"

namespace shelfra {

using check::U;

namespace {

std::string Hex(unsigned byte) { return Format("0x%.2x", {byte}); }

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
      {kFieldLoanFlag, "lending filter"},  {kFieldNewList, "UTF-8 result list"},
      {kFieldNewBook, "UTF-8 book page"},
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
  // The UTF-8 pages read each field they show by name, so a missing one fails them.
  if (uses & kFieldNewList) add("every UTF-8 result list is an error page");
  if (uses & kFieldNewBook) add("every UTF-8 book page is an error page");
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

}  // namespace

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
  const int at = file.FieldIndex(RegistrationNumberField());
  if (at < 0) return;  // reported as missing
  const std::string number = U(RegistrationNumberField());
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

}  // namespace shelfra
