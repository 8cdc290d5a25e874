// Temporary catalogues for the whole-program tests.
#include "tests/e2e/catalogue_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/sjis.h"

namespace shelfra::testing {

namespace {
void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
}  // namespace

std::string Escape(const std::string& utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : Sjis(utf8)) {
    out += '%';
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

std::string SourceDir() {
  const char* dir = std::getenv("SHELFRA_SOURCE_DIR");
  return dir ? dir : ".";
}

CatalogueFixture::CatalogueFixture() {
  char templ[] = "/tmp/shelfra-e2e-XXXXXX";
  char* made = mkdtemp(templ);
  if (!made) std::abort();
  directory_ = std::string(made) + "/catalogue";
  std::filesystem::create_directory(directory_);
  config_path_ = std::string(made) + "/shelfra.conf";
  WriteFile(config_path_, "[Aliases]\nVadoz=" + directory_ + "\n");
}

CatalogueFixture::~CatalogueFixture() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(directory_).parent_path(), ignored);
}

void CatalogueFixture::WriteTable(const std::string& schema_path, std::string_view table_utf8,
                                  std::string_view csv_utf8) {
  std::string csv_path = directory_ + "/../data.csv";
  WriteFile(csv_path, csv_utf8);
  // The program names its tables in Shift_JIS, so that is how the files are named on disk.
  std::string out = directory_ + "/" + Sjis(table_utf8);
  std::string command = "python3 '" + SourceDir() + "/tools/catalogue/make_catalogue.py' --schema '" + schema_path +
                        "' --csv '" + csv_path + "' --out '" + out + "' --date 2026-12-01";
  int rc = std::system(command.c_str());
  ASSERT_EQ(rc, 0) << command;
}

void CatalogueFixture::WriteBooks(std::string_view csv_utf8) {
  WriteTable(SourceDir() + "/tools/catalogue/schema/books.csv", "図書.DBF", csv_utf8);
}

void CatalogueFixture::WriteLoans(std::string_view csv_utf8) {
  WriteTable(SourceDir() + "/tools/catalogue/schema/loans.csv", "貸出返却.DBF", csv_utf8);
}

void CatalogueFixture::WriteBooksWithSchema(std::string_view schema_utf8, std::string_view csv_utf8) {
  std::string schema_path = directory_ + "/../schema.csv";
  WriteFile(schema_path, schema_utf8);
  WriteTable(schema_path, "図書.DBF", csv_utf8);
}

void CatalogueFixture::WriteSample() {
  std::string command = "python3 '" + SourceDir() + "/tools/catalogue/make_catalogue.py' --sample '" + directory_ +
                        "' --date 2026-12-01";
  int rc = std::system(command.c_str());
  ASSERT_EQ(rc, 0) << command;
}

void CatalogueFixture::WriteSettings(std::string_view ini_utf8) {
  std::string crlf;
  for (char c : ini_utf8) {
    if (c == '\n') crlf += "\r\n"; else crlf.push_back(c);
  }
  WriteFile(directory_ + "/Shelfra.ini", Sjis(crlf));
}

void CatalogueFixture::AppendConfig(std::string_view text) {
  std::ofstream out(config_path_, std::ios::binary | std::ios::app);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::map<std::string, std::string> CatalogueFixture::Request(std::string_view path_info, std::string_view query,
                                                             std::string_view method) const {
  return {
      {"SHELFRA_CONFIG", config_path_},
      {"SERVER_PROTOCOL", "HTTP/1.1"},
      {"REQUEST_METHOD", std::string(method)},
      {"SCRIPT_NAME", "/cgi-bin/vovivavi.exe"},
      {"PATH_INFO", std::string(path_info)},
      {"QUERY_STRING", std::string(query)},
  };
}

CgiResult CatalogueFixture::Get(std::string_view path_info, std::string_view query) const {
  return RunCgi(Request(path_info, query));
}

}  // namespace shelfra::testing
