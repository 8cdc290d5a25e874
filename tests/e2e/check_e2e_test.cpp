// Whole-program tests of the operator's check command: it runs on its own, outside any web
// server, over the catalogue of the host configuration, and its exit status says whether the
// catalogue will serve.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/catalogue_fixture.h"
#include "tests/e2e/cgi_runner.h"

namespace shelfra::testing {
namespace {

TEST(CheckE2eTest, SampleCatalogueServesAndEveryLineIsAFinding) {
  CatalogueFixture catalogue;
  catalogue.WriteSample();
  CgiResult r = RunProgram(BuiltProgramPath("shelfra-check"), {}, {{"SHELFRA_CONFIG", catalogue.ConfigPath()}});
  EXPECT_EQ(r.exit_code, 0) << r.output << r.errors;
  EXPECT_EQ(r.errors, "");
  // Every line but the summary is a finding, and on the sample every finding is ok.
  std::istringstream in(r.output);
  size_t lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    EXPECT_TRUE(line.starts_with("ok: ") || line.starts_with("summary: ")) << line;
  }
  EXPECT_GT(lines, 30u);
  const std::string& dir = catalogue.Directory();
  const std::vector<std::string> expected = {
      "ok: configuration file " + catalogue.ConfigPath() + " (SHELFRA_CONFIG)",
      "ok: alias Vadoz: folder " + dir,
      "ok: book table 図書.DBF: " + dir + "/図書.DBF",
      "ok: 図書.DBF: 407 records, 1 of them deleted",
      "ok: 図書.DBF: 登録番号 is the second field, where the detail page reads the number it shows",
      "ok: lending table 貸出返却.DBF: " + dir + "/貸出返却.DBF",
      "ok: 貸出返却.DBF: 返却済 (L 1; lending filter)",
      "ok: number padding ([番号設定] 詰め文字=True, 標準=True, 桁=6): the detail page zero-pads registration "
      "numbers to 6 digits",
  };
  for (const std::string& line : expected) {
    EXPECT_NE(("\n" + r.output).find("\n" + line + "\n"), std::string::npos) << line << "\n" << r.output;
  }
  EXPECT_TRUE(r.output.ends_with("\nsummary: the catalogue will serve (0 problems, 0 notes)\n")) << r.output;
}

TEST(CheckE2eTest, ExitStatusSaysProblemOrUsageError) {
  CatalogueFixture empty;  // the alias's folder holds nothing
  CgiResult r = RunProgram(BuiltProgramPath("shelfra-check"), {}, {{"SHELFRA_CONFIG", empty.ConfigPath()}});
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("\nproblem: book table 図書.DBF: "), std::string::npos) << r.output;

  r = RunProgram(BuiltProgramPath("shelfra-check"), {"NO=7"}, {{"SHELFRA_CONFIG", empty.ConfigPath()}});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors.rfind("usage: shelfra-check", 0), 0u) << r.errors;
}

}  // namespace
}  // namespace shelfra::testing
