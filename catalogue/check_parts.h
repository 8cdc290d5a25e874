// The catalogue check's checker and the helpers its parts share (catalogue_check.cpp: the
// configuration and alias; check_tables.cpp; check_settings.cpp; check_index.cpp).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/catalogue_check.h"

namespace shelfra {

class DbfFile;
class TDatabase;

namespace check {

// UTF-8 text of Shift_JIS bytes for a finding's line.
std::string U(std::string_view sjis);

}  // namespace check

// Collects the findings of one check; each part of the check is a method, in its own file by
// what it checks.
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
  void LibrarySection(const std::string& path);
  void IndexFolder(const std::vector<std::pair<std::string, const DbfFile*>>& tables);

  std::vector<Finding> findings_;
};

}  // namespace shelfra
