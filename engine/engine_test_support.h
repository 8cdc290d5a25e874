// Test helpers over the engine: a temporary catalogue directory with its host configuration,
// and tables and statements that fail the test when the engine refuses them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dbf_file.h"
#include "engine/host_config.h"
#include "engine/sql_statement.h"
#include "tests/support/dbf_builder.h"

namespace shelfra::testing {

// Prints a status for a failed expectation.
inline std::string Describe(const EngineStatus& s) {
  return "code " + std::to_string(s.code) + " fault " + std::to_string(static_cast<int>(s.fault)) + " subject '" +
         s.subject + "' name '" + s.name + "' " + std::to_string(s.first) + " " + std::to_string(s.second);
}

// The table at `path`; nullptr (and a failed test) when the engine refuses it.
inline std::unique_ptr<DbfFile> OpenTable(const std::string& path) {
  std::unique_ptr<DbfFile> file;
  EngineStatus s = DbfFile::Open(path, file);
  EXPECT_TRUE(s.Ok()) << path << ": " << Describe(s);
  return file;
}

// The records `statement` answers over `file` (through `index` when given); empty (and a
// failed test) when the engine refuses it. `from_index` tells whether the index answered.
inline std::vector<uint32_t> RunStatement(std::string_view statement, const DbfFile& file,
                                          const SearchIndex* index = nullptr, bool* from_index = nullptr) {
  std::unique_ptr<SqlStatement> prepared;
  std::vector<uint32_t> rows;
  EngineStatus s = SqlStatement::Prepare(std::string(statement), prepared);
  if (s.Ok()) s = prepared->Execute(file, index, rows, from_index);
  EXPECT_TRUE(s.Ok()) << statement << ": " << Describe(s);
  return rows;
}

// Creates a fresh directory, writes a host configuration naming it as alias "Vadoz" (and any
// alias added with AddAlias), and points SHELFRA_CONFIG at it while the object lives. The
// locale is reset to its defaults.
class TempCatalogue {
 public:
  TempCatalogue() {
    const char* old = std::getenv("SHELFRA_CONFIG");
    if (old != nullptr) saved_ = old;
    std::string tmpl = ::testing::TempDir() + "shelfra_dataset_XXXXXX";
    char* made = ::mkdtemp(tmpl.data());
    EXPECT_NE(made, nullptr);
    dir_ = tmpl;
    config_ = dir_ + "/shelfra.conf";
    aliases_ = "Vadoz=" + dir_ + "\n";
    WriteConfig();
    ::setenv("SHELFRA_CONFIG", config_.c_str(), 1);
    SetLocaleForTesting(LocaleSettings{});
  }
  ~TempCatalogue() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    if (saved_) {
      ::setenv("SHELFRA_CONFIG", saved_->c_str(), 1);
    } else {
      ::unsetenv("SHELFRA_CONFIG");
    }
    SetLocaleForTesting(LocaleSettings{});
  }
  TempCatalogue(const TempCatalogue&) = delete;
  TempCatalogue& operator=(const TempCatalogue&) = delete;

  const std::string& Dir() const { return dir_; }
  void AddAlias(const std::string& alias, const std::string& directory) {
    aliases_ += alias + "=" + directory + "\n";
    WriteConfig();
  }
  // Writes `table` as `file_name` (Shift_JIS bytes) into the directory.
  void Write(const std::string& file_name, const DbfBuilder& table) const { table.WriteTo(dir_ + "/" + file_name); }

 private:
  void WriteConfig() {
    std::string text = "[Aliases]\n" + aliases_;
    std::FILE* f = std::fopen(config_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }

  std::string dir_;
  std::string config_;
  std::string aliases_;
  std::optional<std::string> saved_;
};

}  // namespace shelfra::testing
