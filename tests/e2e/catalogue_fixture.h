// CatalogueFixture: a temporary catalogue directory for whole-program tests - tables written
// by the catalogue writer from UTF-8 CSV text, a settings file, and the host configuration
// that points the alias "Vadoz" at the directory.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "tests/e2e/cgi_runner.h"

namespace shelfra::testing {

class CatalogueFixture {
 public:
  CatalogueFixture();   // creates an empty directory and the host configuration
  ~CatalogueFixture();  // removes them

  const std::string& Directory() const { return directory_; }
  const std::string& ConfigPath() const { return config_path_; }
  // Writes the book table from CSV rows (UTF-8; the header row names fields of the book
  // schema). Aborts the test run when the writer refuses the data.
  void WriteBooks(std::string_view csv_utf8);
  void WriteLoans(std::string_view csv_utf8);
  // Writes the book table with a schema of its own (UTF-8 "name,type,length,decimals" rows).
  void WriteBooksWithSchema(std::string_view schema_utf8, std::string_view csv_utf8);
  // Writes the bundled sample catalogue (both tables and Shelfra.ini) with the catalogue writer.
  void WriteSample();
  // Writes the table named `table_utf8` (its file named in Shift_JIS) with the schema file
  // `schema_path` from CSV rows.
  void WriteTable(const std::string& schema_path, std::string_view table_utf8, std::string_view csv_utf8);
  // Writes Shelfra.ini from UTF-8 text, converted to Shift_JIS with CR LF line ends.
  void WriteSettings(std::string_view ini_utf8);
  // Appends raw lines to the host configuration (e.g. a [Locale] section).
  void AppendConfig(std::string_view text);

  // The CGI environment of a GET request to the script with this path and query.
  std::map<std::string, std::string> Request(std::string_view path_info, std::string_view query,
                                             std::string_view method = "GET") const;
  CgiResult Get(std::string_view path_info, std::string_view query) const;

 private:
  std::string directory_;
  std::string config_path_;
};

// UTF-8 text as a browser sends it from a Shift_JIS form: every Shift_JIS byte percent-escaped.
std::string Escape(const std::string& utf8);

// The repository root, from SHELFRA_SOURCE_DIR.
std::string SourceDir();

}  // namespace shelfra::testing
