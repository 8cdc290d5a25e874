// The catalogue check over catalogues with one mistake each: it finds the mistake, says what
// to do and fails the catalogue, while what still serves is a note. Its list of the fields the
// pages read, and its reading of the number settings, are checked against the pages themselves.
#include "app/catalogue_check.h"

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

#include "app/catalogue.h"
#include "app/web_module1.h"
#include "base/component.h"
#include "base/exceptions.h"
#include "data/query.h"
#include "data/table.h"
#include "engine/engine_test_support.h"
#include "engine/index_keeper.h"
#include "tests/support/book_tables.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;

using testing::SchemaField;

std::vector<SchemaField> Schema(const std::string& file) {
  std::vector<SchemaField> fields = testing::WriterSchema(file);
  EXPECT_FALSE(fields.empty()) << file;
  return fields;
}

// A record: field name to value, both UTF-8; fields not named are blank.
struct Row {
  std::map<std::string, std::string> values;
  bool deleted = false;
};

// Book 7 is on loan; book 8 is deleted.
const std::vector<Row> kBooks = {
    {{{"登録日", "20240105"}, {"登録番号", "7"}, {"著者名", "夏目漱石"}, {"著者名ｶﾅ", "ﾅﾂﾒ ｿｳｾｷ"},
      {"書名", "こころ"}, {"書名ｶﾅ", "ｺｺﾛ"}, {"分類記号", "913.6"}, {"図書記号", "ナツ"}, {"出版者", "岩波書店"},
      {"保管場所", "開架"}, {"内容紹介", "先生と私"}, {"件名", "小説"}}},
    {{{"登録番号", "8"}, {"書名", "坊っちゃん"}}, true},
};
const std::vector<Row> kLoans = {
    {{{"貸出番号", "1"}, {"登録番号", "7"}, {"貸出日", "20261201"}, {"返却予定日", "20261215"}, {"返却済", "F"}}},
};

// The settings file in UTF-8 without its number section.
constexpr const char* kSettings =
    "[Web棚読]\nメッセージ=本町図書館へようこそ\n"
    "[分類表示]\n0=総記\n1=哲学\n2=歴史\n3=社会科学\n4=自然科学\n5=技術\n6=産業\n7=芸術\n8=言語\n9=文学\n";

// A catalogue in a temporary folder (SHELFRA_CONFIG names its configuration while it lives):
// the full tables of the catalogue writer's schemas, the settings, and a configuration naming
// the folder as Vadoz. Each part may be changed before Check().
struct Catalogue {
  testing::TempCatalogue folder;
  std::vector<SchemaField> books = Schema("books.csv");
  std::vector<SchemaField> loans = Schema("loans.csv");
  uint8_t book_language = 0x13;
  std::string book_file = "図書.DBF";  // UTF-8; the file is named in Shift_JIS unless utf8_book_name
  bool utf8_book_name = false;
  bool write_loans = true;
  std::optional<std::string> settings = std::string(kSettings);  // UTF-8; nullopt: no file
  std::string numbers = "詰め文字=True\n標準=True\n桁=6\n";         // the [番号設定] section
  bool settings_in_utf8 = false;
  // The configuration; "{dir}" stands for the folder. nullopt: no file.
  std::optional<std::string> config = std::string("[Aliases]\nVadoz={dir}\n");

  std::string Dir() const { return folder.Dir(); }
  SchemaField& Field(std::vector<SchemaField>& fields, const std::string& name) {
    for (SchemaField& f : fields) {
      if (f.name == name) return f;
    }
    ADD_FAILURE() << "no field " << name;
    return fields.front();
  }
  void Remove(std::vector<SchemaField>& fields, const std::string& name) {
    std::erase_if(fields, [&](const SchemaField& f) { return f.name == name; });
  }

  static testing::DbfBuilder Table(const std::vector<SchemaField>& fields, const std::vector<Row>& rows) {
    testing::DbfBuilder b;
    for (const SchemaField& f : fields) b.AddField(Sjis(f.name), f.type, f.length, f.decimals);
    for (const Row& row : rows) {
      std::vector<std::string> values;
      for (const SchemaField& f : fields) {
        auto it = row.values.find(f.name);
        values.push_back(it == row.values.end() ? "" : Sjis(it->second));
      }
      b.AddRecord(values, row.deleted);
    }
    return b;
  }

  void Write() {
    Table(books, kBooks).SetLanguageDriver(book_language).WriteTo(Dir() + "/" +
                                                                  (utf8_book_name ? book_file : Sjis(book_file)));
    if (write_loans) Table(loans, kLoans).SetLanguageDriver(0x13).WriteTo(Dir() + "/" + Sjis("貸出返却.DBF"));
    if (settings) {
      std::string text = *settings + "[番号設定]\n" + numbers;
      std::string crlf;
      for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      WriteFile(Dir() + "/Shelfra.ini", settings_in_utf8 ? crlf : Sjis(crlf));
    }
    const std::string config_path = Dir() + "/shelfra.conf";
    if (config) {
      std::string text = *config;
      for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, Dir());
      WriteFile(config_path, text);
    } else {
      std::remove(config_path.c_str());
    }
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<Finding> Check() {
    Write();
    return CheckCatalogue();
  }
};

std::string Lines(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& f : findings) text += FindingLine(f) + "\n";
  return text;
}

std::vector<std::string> LinesOf(const std::vector<Finding>& findings, FindingKind kind) {
  std::vector<std::string> lines;
  for (const Finding& f : findings) {
    if (f.kind == kind) lines.push_back(FindingLine(f));
  }
  return lines;
}

bool HasLineWith(const std::vector<Finding>& findings, const std::string& piece) {
  for (const Finding& f : findings) {
    if (FindingLine(f).find(piece) != std::string::npos) return true;
  }
  return false;
}

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
           std::string("ok: 図書.DBF: 書名 (C 254; searched, result list, detail page)"),
           std::string("ok: 図書.DBF: 登録番号 is the second field, where the detail page reads the number it shows"),
           std::string("ok: 貸出返却.DBF: 返却予定日 (D 8; detail page of a book on loan)"),
           std::string("ok: banner ([Web棚読] メッセージ): 本町図書館へようこそ"),
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
       "problem: 図書.DBF: 件名 is missing: every search that tests it is an error page; add the field 件名 as a "
       "character field (C)"},
      {"a reading in full-width katakana", [](Catalogue& c) { c.Field(c.books, "書名ｶﾅ").name = "書名カナ"; },
       "書名ｶﾅ is missing: every search that tests it is an error page; rename the field 書名カナ to 書名ｶﾅ"},
      {"the registration number third",
       [](Catalogue& c) { std::swap(c.books[1], c.books[2]); },
       "登録番号 is field 3, but the detail page reads the number it shows from the second field, here 著者名: "},
      {"another alias", [](Catalogue& c) { c.config = "[Aliases]\nVadozz={dir}\n"; },
       "alias Vadoz is not set in [Aliases] of "},
      {"an alias folder that does not exist", [](Catalogue& c) { c.config = "[Aliases]\nVadoz={dir}/gone\n"; },
       "/gone does not exist: every page is an error page"},
      {"no configuration file", [](Catalogue& c) { c.config.reset(); },
       "cannot be read: No such file or directory; correct SHELFRA_CONFIG"},
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
      {"the loan flag a character field", [](Catalogue& c) { c.Field(c.loans, "返却済").type = 'C'; },
       "貸出返却.DBF: 返却済 (C 1; lending filter) is no logical field"},
      {"the due date missing", [](Catalogue& c) { c.Remove(c.loans, "返却予定日"); },
       "返却予定日 is missing: the detail page of a book on loan is an error page; add the field 返却予定日 as a "
       "date field (D)"},
      {"the title a number field", [](Catalogue& c) { c.Field(c.books, "書名") = {"書名", 'N', 10, 0}; },
       "書名 (N 10; searched, result list, detail page) is no character field: every search that tests it is an "
       "error page; export 書名 as a character field (C)"},
      {"the contents a memo field", [](Catalogue& c) { c.Field(c.books, "内容紹介") = {"内容紹介", 'M', 10, 0}; },
       "内容紹介 (M 10; searched, detail page) is read as its raw bytes"},
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
       {"登録番号 (C 10; number lookups, result list) is a character field: a book is found only when"}},
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

TEST(CatalogueCheckTest, NumberPaddingIsWhatTheDetailPageDoes) {
  const char* cases[] = {
      "",                                          // nothing set: shown as stored
      "詰め文字=True\n",                           // the standard 6
      "詰め文字=True\n桁=9\n",                    // still the standard 6
      "詰め文字=True\n標準=True\n桁=9\n",
      "詰め文字=True\n標準=False\n桁=9\n",
      "詰め文字=True\n標準=No\n桁=0x0A\n",
      "詰め文字=True\n標準=False\n桁=$10\n",
      "詰め文字=True\n標準=False\n桁=x11\n",       // 17: above 16
      "詰め文字=True\n標準=False\n桁=0\n",
      "詰め文字=True\n標準=False\n桁=-1\n",
      "詰め文字=True\n標準=False\n桁=0xFFFFFFFF\n",  // -1 as a 32-bit pattern
      "詰め文字=True\n標準=False\n桁= 8 \n",
      "詰め文字=True\n標準=False\n桁=8x\n",        // no number: 6
      "詰め文字=True\n標準=False\n",               // missing: 6
      "詰め文字=TRUE\n標準=False\n桁=8\n",         // not padded
  };
  for (const char* numbers : cases) {
    Catalogue c;
    c.numbers = numbers;
    const std::vector<Finding> findings = c.Check();
    TWebModule1 module(nullptr);
    std::string expected;
    if (!module.TumeMoji()) {
      expected = "): the detail page shows registration numbers as stored";
    } else if (module.Keta() < 0) {
      expected = "is negative: every detail page is an error page";
    } else if (module.Keta() > 16) {
      expected = "): registration numbers are not padded (above 16 digits)";
    } else {
      expected = "): the detail page zero-pads registration numbers to " + std::to_string(module.Keta()) + " digits";
    }
    EXPECT_TRUE(HasLineWith(findings, expected)) << numbers << "\n" << expected << "\n" << Lines(findings);
  }
}

// Whether the search statement with every criterion fails over the catalogue.
bool SearchFails() {
  SearchCriteria criteria{"a", "b", "c", "d", "e", "f", "g", "1"};
  TComponent owner(nullptr);
  TQuery& query = owner.Create<TQuery>("QueryZosho");
  query.SetDatabaseName(std::string(CatalogueAlias()));
  for (std::string& line : SearchStatementLines(criteria)) query.AddSQL(std::move(line));
  try {
    query.Open();
  } catch (const Exception&) {
    return true;
  }
  return false;
}

// Whether the module cannot show the detail page of book 7, which is on loan.
bool DetailPageFails() {
  try {
    TWebModule1 module(nullptr);
    if (!module.ZoshoTable->SeekEqual(Sjis("登録番号"), {TSeekValue(7)})) return true;
    module.DataSetPageProducer1->ProduceContent();
  } catch (const Exception&) {
    return true;
  }
  return false;
}

TEST(CatalogueCheckTest, FieldsInUseAreThoseWithoutWhichThePagesFail) {
  auto uses_of = [](const std::vector<UsedField>& used, const std::string& name) {
    for (const UsedField& u : used) {
      if (u.name == name) return u.uses;
    }
    return 0u;
  };
  const std::vector<std::string_view> listed = ResultListFields();
  // Each field in turn is renamed, so that every other field keeps its position.
  for (const SchemaField& field : Schema("books.csv")) {
    Catalogue c;
    c.Field(c.books, field.name).name = "RENAMED";
    c.Write();
    const unsigned uses = uses_of(BookFieldsInUse(), Sjis(field.name));
    EXPECT_EQ(SearchFails(), (uses & kFieldSearched) != 0) << field.name;
    EXPECT_EQ(DetailPageFails(), (uses & (kFieldShown | kFieldNumberKey)) != 0) << field.name;
    EXPECT_EQ(std::find(listed.begin(), listed.end(), Sjis(field.name)) != listed.end(), (uses & kFieldListed) != 0)
        << field.name;
  }
  for (const SchemaField& field : Schema("loans.csv")) {
    Catalogue c;
    c.Field(c.loans, field.name).name = "RENAMED";
    c.Write();
    EXPECT_EQ(DetailPageFails(), uses_of(LendingFieldsInUse(), Sjis(field.name)) != 0) << field.name;
  }
}

}  // namespace
}  // namespace shelfra
