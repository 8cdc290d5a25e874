// The catalogue check: its run in the order a request meets the catalogue, the configuration
// and the alias, and the fields the pages read.
#include "catalogue/catalogue_check.h"

#include <algorithm>
#include <cstdlib>

#include "base/error_log.h"
#include "base/exceptions.h"
#include "base/files.h"
#include "catalogue/catalogue.h"
#include "catalogue/check_parts.h"
#include "data/session.h"
#include "engine/host_config.h"

namespace shelfra {

namespace check {

std::string U(std::string_view sjis) { return ReadableUtf8(sjis); }

}  // namespace check

using check::U;

namespace {

bool Contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

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


std::vector<UsedField> BookFieldsInUse() {
  const std::vector<std::string_view> searched = SearchedFields();
  const std::vector<std::string_view> listed = ResultListFields();
  std::vector<std::string_view> shown = CallNumberFields();
  for (const DetailField& f : DetailFields()) {
    if (f.on_page) shown.push_back(f.field);
  }
  // The UTF-8 list reads the fields the index keeps for its rows (orders, states and class
  // counts included); an identifier in the search box is looked up in the ISBN.
  const SearchIndexFields index = CatalogueIndexFields();
  std::vector<std::string_view> new_list(index.shown.begin(), index.shown.end());
  new_list.push_back(BookFieldName(BookField::kIsbn));
  std::vector<std::string_view> book_page = CallNumberFields();
  for (int f = 0; f <= static_cast<int>(BookField::kWithdrawn); ++f) book_page.push_back(BookFieldName(BookField(f)));
  std::vector<UsedField> used;
  for (const TFieldDef& def : BookTableFieldDefs()) {
    unsigned uses = 0;
    if (Contains(searched, def.name)) uses |= kFieldSearched;
    if (Contains(listed, def.name)) uses |= kFieldListed;
    if (Contains(shown, def.name)) uses |= kFieldShown;
    if (Contains(new_list, def.name)) uses |= kFieldNewList;
    if (Contains(book_page, def.name)) uses |= kFieldNewBook;
    if (def.name == RegistrationNumberField()) uses |= kFieldNumberKey;
    if (uses != 0) used.push_back(UsedField{def.name, uses});
  }
  return used;
}

std::vector<UsedField> LendingFieldsInUse() {
  return {
      {std::string(RegistrationNumberField()), kFieldNumberKey},
      {std::string(DueDateField()), kFieldDueDate},
      {std::string(LoanReturnedField()), kFieldLoanFlag},
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
