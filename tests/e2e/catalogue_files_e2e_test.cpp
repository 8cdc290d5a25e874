// Whole-program tests of catalogue files as other programs write them: tables that store the
// registration number as a Visual FoxPro integer give the same pages, byte for byte, as the same
// catalogue written with numeric fields, with and without the search index; tables whose file
// names are spelled in UTF-8 are found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"
#include "tests/support/bytes_diff.h"
#include "tests/support/sjis.h"

namespace shelfra::testing {
namespace {

const std::string kFixtures = "tests/e2e/fixtures/foxpro/";

std::string ReadSource(const std::string& relative) {
  std::ifstream in(SourceDir() + "/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The requests whose pages are compared: (path info, query).
std::vector<std::pair<std::string, std::string>> Requests() {
  std::vector<std::pair<std::string, std::string>> requests = {
      {"", ""},
      {"/list", ""},
      {"", "title1=" + Escape("猫")},
      {"", "title1=%25"},  // every book, in the order of the readings
      {"", "Bunrui=9"},
      {"", "Author=" + Escape("番号")},
      {"", "KeyWord1=" + Escape("童話")},
      {"", "title1=" + Escape("存在しない")},
  };
  for (const char* number : {"123", "7", "45", "46", "300", "2147483647", "-3", "0", "999", "abc", ""}) {
    requests.emplace_back("/Detail", std::string("NO=") + number);
  }
  return requests;
}

std::string Describe(const std::pair<std::string, std::string>& request) {
  return request.first + "?" + request.second;
}

class CatalogueFilesTest : public ::testing::Test {
 protected:
  CatalogueFilesTest() {
    // The catalogue written with N fields by the catalogue writer ...
    numeric_.WriteTable(SourceDir() + "/" + kFixtures + "books_schema.csv", "図書.DBF",
                        ReadSource(kFixtures + "books.csv"));
    numeric_.WriteTable(SourceDir() + "/" + kFixtures + "loans_schema.csv", "貸出返却.DBF",
                        ReadSource(kFixtures + "loans.csv"));
    // ... and the same written by dbffile with 登録番号 as I.
    std::filesystem::copy_file(SourceDir() + "/" + kFixtures + "books.dbf", integer_.Directory() + "/" + Sjis("図書.DBF"));
    std::filesystem::copy_file(SourceDir() + "/" + kFixtures + "loans.dbf",
                               integer_.Directory() + "/" + Sjis("貸出返却.DBF"));
  }
  CatalogueFixture numeric_;
  CatalogueFixture integer_;
};

TEST_F(CatalogueFilesTest, IntegerRegistrationNumbersGiveTheSamePagesAsNumericOnes) {
  std::vector<std::string> expected;
  for (const std::string& settings : {std::string(), std::string("[番号設定]\n詰め文字=True\n標準=False\n桁=12\n")}) {
    numeric_.WriteSettings(settings);
    integer_.WriteSettings(settings);
    for (const auto& request : Requests()) {
      CgiResult n = numeric_.Get(request.first, request.second);
      ASSERT_EQ(n.output.rfind("Status: 200 OK\r\n", 0), 0u) << Describe(request) << "\n" << Utf8(n.output);
      CgiResult i = integer_.Get(request.first, request.second);
      EXPECT_BYTES_EQ(n.output, i.output) << Describe(request) << " " << settings;
      EXPECT_EQ(i.errors, "") << Describe(request);
      expected.push_back(n.output);
    }
  }
  // The padded number on a detail page comes from the integer too.
  EXPECT_NE(integer_.Get("/Detail", "NO=123").output.find(">000000000123<"), std::string::npos);

  // With the search index, built ahead by the operator's command: the same pages, and no request
  // finds an index missing or stale (which it would log) or builds one.
  const std::string cache = std::filesystem::path(integer_.Directory()).parent_path().string() + "/cache";
  integer_.AppendConfig("[Index]\nDirectory=" + cache + "\n");
  CgiResult built = RunProgram(IndexProgramPath(), {}, {{"SHELFRA_CONFIG", integer_.ConfigPath()}});
  ASSERT_EQ(built.exit_code, 0) << built.output << built.errors;
  size_t indexes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(cache)) indexes += entry.path().extension() == ".idx";
  ASSERT_EQ(indexes, 2u) << built.output;
  size_t k = 0;
  for (const std::string& settings : {std::string(), std::string("[番号設定]\n詰め文字=True\n標準=False\n桁=12\n")}) {
    integer_.WriteSettings(settings);
    for (const auto& request : Requests()) {
      CgiResult i = integer_.Get(request.first, request.second);
      EXPECT_BYTES_EQ(expected[k++], i.output) << Describe(request) << " " << settings << " (index)";
      EXPECT_EQ(i.errors, "") << Describe(request);
    }
  }
}

TEST(CatalogueFileNamesTest, TablesWithUtf8FileNamesServeTheFormASearchAndADetailPage) {
  CatalogueFixture catalogue;
  catalogue.WriteTable(SourceDir() + "/" + kFixtures + "books_schema.csv", "図書.DBF", ReadSource(kFixtures + "books.csv"));
  catalogue.WriteTable(SourceDir() + "/" + kFixtures + "loans_schema.csv", "貸出返却.DBF",
                       ReadSource(kFixtures + "loans.csv"));
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"", ""}, {"", "title1=" + Escape("猫")}, {"/Detail", "NO=45"}, {"/Detail", "NO=999"}};
  std::vector<std::string> pages;
  for (const auto& [path, query] : requests) pages.push_back(catalogue.Get(path, query).output);
  ASSERT_NE(pages[1].find(Sjis("該当する資料は2件です")), std::string::npos) << Utf8(pages[1]);
  ASSERT_NE(pages[2].find(Sjis("返却予定日は12/24/26")), std::string::npos) << Utf8(pages[2]);

  // As copied from a machine that names files in UTF-8: the test source's own bytes, the
  // lending table's extension in lower case.
  const std::string dir = catalogue.Directory() + "/";
  std::filesystem::rename(dir + Sjis("図書.DBF"), dir + "図書.DBF");
  std::filesystem::rename(dir + Sjis("貸出返却.DBF"), dir + "貸出返却.dbf");
  for (size_t i = 0; i < requests.size(); ++i) {
    CgiResult r = catalogue.Get(requests[i].first, requests[i].second);
    EXPECT_BYTES_EQ(pages[i], r.output) << Describe(requests[i]);
    EXPECT_EQ(r.errors, "") << Describe(requests[i]);
  }
}

}  // namespace
}  // namespace shelfra::testing
