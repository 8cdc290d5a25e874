// The catalogue check over catalogues with one mistake each: it finds the mistake, says what
// to do and fails the catalogue, while what still serves is a note.
#include "catalogue/catalogue_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/check_test_support.h"
#include "base/component.h"
#include "base/exceptions.h"
#include "data/query.h"
#include "data/table.h"
#include "engine/engine_test_support.h"
#include "engine/index_keeper.h"
#include "engine/search_index.h"
#include "tests/support/book_tables.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using namespace check_testing;
using testing::Sjis;

TEST(CatalogueCheckTest, FullCatalogueServesWithoutNotes) {
  Catalogue c;
  const std::vector<Finding> findings = c.Check();
  EXPECT_TRUE(CatalogueServes(findings)) << Lines(findings);
  EXPECT_EQ(LinesOf(findings, FindingKind::kNote), std::vector<std::string>{}) << Lines(findings);
  for (const std::string& line : {
           "ok: alias Vadoz: folder " + c.Dir(),
           "ok: book table 図書.DBF: " + c.Dir() + "/図書.DBF",
           std::string("ok: 図書.DBF: dBase III (version byte 0x03), Shift_JIS text (language byte 0x13)"),
           std::string("ok: 図書.DBF: 2 records, 1 of them deleted"),
           std::string("ok: 図書.DBF: 書名 (C 254; searched, result list, detail page, UTF-8 result list, UTF-8 book page)"),
           std::string("ok: 図書.DBF: 禁帯出 (L 1; UTF-8 result list, UTF-8 book page)"),  // the list says the state
           std::string("ok: 図書.DBF: 登録番号 is the second field, where the detail page reads the number it shows"),
           std::string("ok: 貸出返却.DBF: 返却予定日 (D 8; detail page of a book on loan)"),
           std::string("ok: banner ([Web棚読] メッセージ): 本町図書館へようこそ"),
           std::string("ok: [図書館] アクセシビリティ方針: the UTF-8 pages' footer links https://lib.example.jp/a11y"),
       }) {
    EXPECT_TRUE(HasLineWith(findings, line)) << line << "\n" << Lines(findings);
  }
}

TEST(CatalogueCheckTest, EachMistakeIsOneProblemSayingWhatToDo) {
  struct Case {
    const char* what;
    std::function<void(Catalogue&)> change;
    std::string expected;  // part of the one problem line
  } cases[] = {
      {"a searched field is missing", [](Catalogue& c) { c.Remove(c.books, "件名"); },
       "problem: 図書.DBF: 件名 is missing: every search that tests it is an error page, and every UTF-8 book page is "
       "an error page; add the field 件名 as a character field (C)"},
      {"a reading in full-width katakana", [](Catalogue& c) { c.Field(c.books, "書名ｶﾅ").name = "書名カナ"; },
       "書名ｶﾅ is missing: every search that tests it is an error page, and every UTF-8 result list is an error page, "
       "and every UTF-8 book page is an error page; rename the field 書名カナ to 書名ｶﾅ"},
      {"the registration number third",
       [](Catalogue& c) { std::swap(c.books[1], c.books[2]); },
       "登録番号 is field 3, but the detail page reads the number it shows from the second field, here 著者名: "},
      {"another alias", [](Catalogue& c) { c.config = "[Aliases]\nVadozz={dir}\n"; },
       "alias Vadoz is not set in [Aliases] of "},
      {"an alias folder that does not exist", [](Catalogue& c) { c.config = "[Aliases]\nVadoz={dir}/gone\n"; },
       "/gone does not exist: every page is an error page"},
      {"no configuration file", [](Catalogue& c) { c.config.reset(); },
       "cannot be read: No such file or directory; correct SHELFRA_CONFIG"},
      {"a policy address that is no web address",
       [](Catalogue& c) {
         const std::string policy = "https://lib.example.jp/a11y";
         c.settings->replace(c.settings->find(policy), policy.size(), "javascript:alert(1)");
       },
       "[図書館] アクセシビリティ方針=javascript:alert(1) is no http:// or https:// address: the UTF-8 pages show "
       "no link; write the full address"},
      {"digits that are no number", [](Catalogue& c) { c.numbers = "詰め文字=True\n標準=False\n桁=六\n"; },
       "桁=六 is no whole number: the detail page pads to 6 digits instead; set 桁 to a whole number"},
      {"digits that are no number, not used yet", [](Catalogue& c) { c.numbers = "詰め文字=True\n桁=\n"; },
       "桁= is no whole number: the detail page pads to 6 digits instead once it is used"},
      {"negative digits", [](Catalogue& c) { c.numbers = "詰め文字=True\n標準=False\n桁=-3\n"; },
       "桁=-3 is negative: every detail page is an error page; set 桁 to 0 or more"},
      {"settings written in UTF-8", [](Catalogue& c) { c.settings_in_utf8 = true; },
       "Shelfra.ini is written in UTF-8, but the program reads it as Shift_JIS"},
      {"an index folder that is a file",
       [](Catalogue& c) {
         c.config = "[Aliases]\nVadoz={dir}\n[Index]\nDirectory={dir}/cache\n";
         Catalogue::WriteFile(c.Dir() + "/cache", "not a folder");
       },
       "/cache is no folder: searches scan the table and every request logs it; remove or rename"},
      {"an index folder others may write",
       [](Catalogue& c) {
         c.config = "[Aliases]\nVadoz={dir}\n[Index]\nDirectory={dir}/cache\n";
         std::filesystem::create_directory(c.Dir() + "/cache");
         std::filesystem::permissions(c.Dir() + "/cache", std::filesystem::perms::all);
       },
       "/cache may be written by others (mode 0777): others could plant the index visitors see; no index is used or "
       "made there and every search scans the table; chmod go-w "},
      {"a symbolic link at the index's name",
       [](Catalogue& c) {
         c.config = "[Aliases]\nVadoz={dir}\n[Index]\nDirectory={dir}/cache\n";
         std::filesystem::create_directory(c.Dir() + "/cache");
         c.Write();
         std::unique_ptr<DbfFile> file = testing::OpenTable(c.Dir() + "/" + Sjis("図書.DBF"));
         std::filesystem::create_symlink(c.Dir() + "/elsewhere", SearchIndex::PathFor(*file, c.Dir() + "/cache"));
       },
       ".idx is a symbolic link, not this program's own file: it is left alone and every search scans the table; "
       "remove it (rm "},
      {"the loan flag a character field", [](Catalogue& c) { c.Field(c.loans, "返却済").type = 'C'; },
       "貸出返却.DBF: 返却済 (C 1; lending filter) is no logical field"},
      {"the due date missing", [](Catalogue& c) { c.Remove(c.loans, "返却予定日"); },
       "返却予定日 is missing: the detail page of a book on loan is an error page; add the field 返却予定日 as a "
       "date field (D)"},
      {"the title a number field", [](Catalogue& c) { c.Field(c.books, "書名") = {"書名", 'N', 10, 0}; },
       "書名 (N 10; searched, result list, detail page, UTF-8 result list, UTF-8 book page) is no character field: "
       "every search that tests it is an "
       "error page; export 書名 as a character field (C)"},
      {"the contents a memo field", [](Catalogue& c) { c.Field(c.books, "内容紹介") = {"内容紹介", 'M', 10, 0}; },
       "内容紹介 (M 10; searched, detail page, UTF-8 book page) is read as its raw bytes"},
      {"no lending table", [](Catalogue& c) { c.write_loans = false; },
       "problem: lending table 貸出返却.DBF: "},
  };
  for (const Case& k : cases) {
    Catalogue c;
    k.change(c);
    const std::vector<Finding> findings = c.Check();
    EXPECT_FALSE(CatalogueServes(findings)) << k.what;
    const std::vector<std::string> problems = LinesOf(findings, FindingKind::kProblem);
    ASSERT_EQ(problems.size(), 1u) << k.what << "\n" << Lines(findings);
    std::string expected = k.expected;
    if (size_t at = expected.find("{dir}"); at != std::string::npos) expected.replace(at, 5, c.Dir());
    EXPECT_NE(problems[0].find(expected), std::string::npos) << k.what << "\n" << problems[0];
  }
}

TEST(CatalogueCheckTest, WhatStillServesIsANote) {
  struct Case {
    const char* what;
    std::function<void(Catalogue&)> change;
    std::vector<std::string> expected;  // each part of some note line
  } cases[] = {
      {"no settings file", [](Catalogue& c) { c.settings.reset(); },
       {"Shelfra.ini is missing: the pages show the defaults",
        "note: banner ([Web棚読] メッセージ): not set, so the default: 図書館資料の検索ができます。",
        "9 文学 (all defaults)", "詰め文字: not set, so False (the default)"}},
      {"some class names missing",
       [](Catalogue& c) { c.settings = "[分類表示]\n0=総記\n1=哲学\n2=歴史\n4=自然科学\n5=技術\n6=産業\n7=芸術\n8=言語\n"; },
       {"3 社会科学, 4 自然科学, 5 技術, 6 産業, 7 芸術, 8 言語, 9 文学 (defaults: 3, 9)"}},
      {"padding written in lower case", [](Catalogue& c) { c.numbers = "詰め文字=true\n"; },
       {"詰め文字=true is not True (exactly, case counts), so False"}},
      {"the registration number a character field",
       [](Catalogue& c) { c.Field(c.books, "登録番号") = {"登録番号", 'C', 10, 0}; },
       {"登録番号 (C 10; number lookups, result list, UTF-8 result list, UTF-8 book page) is a character field: a book is found only when"}},
      {"another language byte", [](Catalogue& c) { c.book_language = 0x57; },
       {"language byte 0x57, another code page: the program reads every table as Shift_JIS"}},
      {"an index folder not made yet",
       [](Catalogue& c) { c.config = "[Aliases]\nVadoz={dir}\n[Index]\nDirectory={dir}/cache\n"; },
       {"/cache does not exist yet: the first request makes it"}},
      {"an index folder without indexes",
       [](Catalogue& c) {
         c.config = "[Aliases]\nVadoz={dir}\n[Index]\nDirectory={dir}/cache\n";
         std::filesystem::create_directory(c.Dir() + "/cache");
       },
       {"note: index of 図書.DBF: none yet (", "note: index of 貸出返却.DBF: none yet ("}},
      {"the book table under its UTF-8 name", [](Catalogue& c) { c.utf8_book_name = true; },
       {"図書.DBF is found under its UTF-8 name 図書.DBF"}},
  };
  for (const Case& k : cases) {
    Catalogue c;
    k.change(c);
    const std::vector<Finding> findings = c.Check();
    EXPECT_TRUE(CatalogueServes(findings)) << k.what << "\n" << Lines(findings);
    for (const std::string& piece : k.expected) {
      bool found = false;
      for (const std::string& line : LinesOf(findings, FindingKind::kNote)) found |= line.find(piece) != std::string::npos;
      EXPECT_TRUE(found) << k.what << ": " << piece << "\n" << Lines(findings);
    }
  }
}

TEST(CatalogueCheckTest, IndexIsCurrentOnlyForTheTableFileItWasMadeFrom) {
  Catalogue c;
  c.config = "[Aliases]\nVadoz={dir}\n[Index]\nDirectory={dir}/cache\n";
  c.Write();
  {
    std::unique_ptr<DbfFile> file = testing::OpenTable(c.Dir() + "/" + Sjis("図書.DBF"));
    std::string report;
    ASSERT_TRUE(BuildIndexNow(*file, CatalogueIndexFields(), c.Dir() + "/cache", 0, report).Ok()) << report;
  }
  std::vector<Finding> findings = CheckCatalogue();
  EXPECT_TRUE(HasLineWith(findings, "ok: index folder " + c.Dir() + "/cache: writable")) << Lines(findings);
  EXPECT_TRUE(HasLineWith(findings, "ok: index of 図書.DBF: current (" + c.Dir() + "/cache/")) << Lines(findings);
  EXPECT_TRUE(HasLineWith(findings, "note: index of 貸出返却.DBF: none yet")) << Lines(findings);

  findings = c.Check();  // the same tables written again: another file
  EXPECT_TRUE(HasLineWith(findings, "note: index of 図書.DBF: stale (the table was replaced or changed since)"))
      << Lines(findings);
  EXPECT_TRUE(CatalogueServes(findings));
}

}  // namespace
}  // namespace shelfra
