// What the program knows about the catalogue, checked against what it stands for: the search
// statement finds what the search page asks for, with and without the search index, and the
// stored field definitions are what the reader makes of the catalogue writer's schema.
#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/component.h"
#include "catalogue/catalogue_service.h"
#include "data/query.h"
#include "data/table.h"
#include "engine/engine_test_support.h"
#include "engine/index_keeper.h"
#include "tests/support/book_tables.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;
using testing::Utf8;
using Numbers = std::vector<std::string>;

using Service = CatalogueDatasets;

SearchCriteria InSjis(SearchCriteria c) {
  for (std::string* s : {&c.title1, &c.title2, &c.title3, &c.author, &c.keyword1, &c.keyword2, &c.keyword3, &c.bunrui}) {
    *s = Sjis(*s);
  }
  return c;
}

// The statement for a search (words in UTF-8), its lines joined as a query joins them.
std::string Search(const std::vector<std::string>& titles, const std::string& author,
                   const std::optional<std::string>& bunrui, const std::vector<std::string>& keywords) {
  SearchCriteria c;
  std::string* title_fields[] = {&c.title1, &c.title2, &c.title3};
  for (size_t i = 0; i < titles.size() && i < 3; ++i) *title_fields[i] = titles[i];
  c.author = author;
  c.bunrui = bunrui.value_or("");
  std::string* keyword_fields[] = {&c.keyword1, &c.keyword2, &c.keyword3};
  for (size_t i = 0; i < keywords.size() && i < 3; ++i) *keyword_fields[i] = keywords[i];
  std::string statement;
  for (const std::string& line : SearchStatementLines(InSjis(c))) statement += line + "\r\n";
  return statement;
}

TEST(CatalogueTest, SearchStatementsFindWhatTheSearchPageAsksFor) {
  struct Case {
    const char* what;
    SearchCriteria criteria;
    Numbers expected;
  } cases[] = {
      {"class 3 alone: empty title pattern matches everything", {"", "", "", "", "", "", "", "3"}, {"10"}},
      {"class 1 takes 10, 100 and 19", {"", "", "", "", "", "", "", "1"}, {"4", "8", "7"}},
      {"no class field: an empty prefix also matches blank codes", {"番号", "", "", "", "", "", "", ""}, {"11"}},
      {"deleted records never appear", {"吾輩", "", "", "", "", "", "", "10"}, {"1"}},
      {"author in kanji", {"", "", "", "漱石", "", "", "", "10"}, {"2", "1"}},
      {"author in half-width kana", {"", "", "", "ﾅﾂﾒ", "", "", "", "10"}, {"2", "1"}},
      {"keyword2 alone, ASCII case ignored", {"", "", "", "", "", "sql", "", "10"}, {"3"}},
      {"series and its reading", {"ｲﾜﾅﾐ", "", "", "", "", "", "", "10"}, {"7"}},
      {"a colon inside the quoted pattern is no parameter", {"12:30", "", "", "", "", "", "", "10"}, {"10"}},
      {"one space is a criterion", {" ", "", "", "", "", "", "", "10"}, {"6", "10", "9"}},
      {"a backslash never matches a trail byte", {"\\", "", "", "", "", "", "", "10"}, {"9"}},
      {"a percent sign in a criterion is a wildcard", {"入%門", "", "", "", "", "", "", "10"}, {"3", "7"}},
      {"an underscore is one whole character", {"こ_ろ", "", "", "", "", "", "", "10"}, {"2", "8"}},
      {"every line", {"吾輩", "猫", "ﾈｺ", "漱石", "小説", "夏目", "ﾜｶﾞﾊｲ", "9"}, {"1"}},
      {"no match", {"存在しない", "", "", "", "", "", "", "10"}, {}},
  };
  testing::TempCatalogue catalogue;
  catalogue.Write(Sjis("図書.DBF"), testing::SmallBookTable());
  Service service;
  for (const Case& c : cases) {
    const int found = service.catalogue.Search(InSjis(c.criteria));
    Numbers numbers;
    for (const auto& row : service.catalogue.Window(0, 100, {RegistrationNumberField()})) numbers.push_back(row[0]);
    EXPECT_EQ(numbers, c.expected) << c.what;
    EXPECT_EQ(found, static_cast<int>(c.expected.size())) << c.what;
  }
}

TEST(CatalogueTest, ServiceWindowsAreSlicesOfTheWholeAnswer) {
  testing::TempCatalogue catalogue;
  catalogue.Write(Sjis("図書.DBF"), testing::SmallBookTable());
  Service service;
  ASSERT_EQ(service.catalogue.Search(SearchCriteria{}), 10);  // every book but the deleted one
  auto numbers = [&](int first, int count) {
    Numbers out;
    for (const auto& row : service.catalogue.Window(first, count, {RegistrationNumberField()})) out.push_back(row[0]);
    return out;
  };
  const Numbers all = numbers(0, 100);
  ASSERT_EQ(all.size(), 10u);
  struct Case {
    int first, count;
  } windows[] = {{0, 3}, {3, 3}, {8, 5}, {10, 2}, {50, 1}, {4, 0}};
  for (const Case& w : windows) {
    const size_t from = std::min<size_t>(w.first, all.size());
    const size_t to = std::min<size_t>(w.first + w.count, all.size());
    EXPECT_EQ(numbers(w.first, w.count), Numbers(all.begin() + from, all.begin() + to)) << w.first << "+" << w.count;
  }
}

TEST(CatalogueTest, SearchedFieldsAreTheStatementsInTheIndexFilesSlotOrder) {
  std::vector<std::string> fields;
  for (std::string_view f : SearchedFields()) fields.push_back(Utf8(f));
  EXPECT_EQ(fields, (std::vector<std::string>{"書名", "書名ｶﾅ", "叢書名", "叢書名ｶﾅ", "注記", "著者名", "著者名ｶﾅ",
                                              "件名", "内容紹介", "分類記号"}));
}

TEST(CatalogueTest, EverySearchShapeGivesTheScansAnswerThroughTheIndex) {
  testing::TempCatalogue catalogue;
  const std::string table = catalogue.Dir() + "/books.dbf";
  testing::RandomBookTable(1).WriteTo(table);
  std::unique_ptr<DbfFile> file = testing::OpenTable(table);
  std::string report;
  ASSERT_TRUE(BuildIndexNow(*file, CatalogueIndexFields(), catalogue.Dir() + "/cache", 0, report).Ok()) << report;
  std::unique_ptr<SearchIndex> index;
  ASSERT_TRUE(SearchIndex::Open(*file, SearchIndex::PathFor(*file, catalogue.Dir() + "/cache"), index).Ok());
  ASSERT_NE(index, nullptr);

  std::vector<std::string> statements;
  const std::vector<std::string> words = {"", "ねこ", "ﾈｺ", "ガ", "ﾊﾟ", "ﾊ", "麒麟", "SQL", "ｓｑ", " ", "　", "ｰ",
                                          "％", "%", "_", "ﾈ_", "ね%こ", "國", "の", "ヴ", "ﾞ", "鉄道", "こ"};
  for (const std::string& w : words) {
    statements.push_back(Search({w}, "", std::nullopt, {}));         // a title word, no class field
    statements.push_back(Search({w}, w, "10", {}));                   // title and author
    statements.push_back(Search({""}, "", "10", {w}));                // one keyword
    statements.push_back(Search({w, "ね"}, "", "9", {"ｺ", w}));      // the lines combined
  }
  for (const char* bunrui : {"", "1", "3", "9", "91", "x"}) statements.push_back(Search({""}, "", bunrui, {}));
  statements.push_back(Search({"ねこ", "ﾊﾟﾝ", "SQL"}, "ヴ", "1", {"鉄道", "温泉", "ー"}));
  size_t answered = 0;
  for (const std::string& statement : statements) {
    bool from_index = false;
    std::vector<uint32_t> via_index = testing::RunStatement(statement, *file, index.get(), &from_index);
    EXPECT_TRUE(from_index) << Utf8(statement);
    EXPECT_EQ(via_index, testing::RunStatement(statement, *file)) << Utf8(statement);
    answered += via_index.size() > 1;
  }
  EXPECT_GT(answered, statements.size() / 2);  // the cases are not all empty answers
}

TEST(CatalogueTest, StoredFieldDefinitionsAreWhatTheReaderMakesOfTheWritersSchema) {
  // The catalogue writer's schema of the book table.
  testing::DbfBuilder b;
  const std::vector<testing::SchemaField> schema = testing::WriterSchema("books.csv");
  ASSERT_FALSE(schema.empty());
  for (const testing::SchemaField& f : schema) b.AddField(Sjis(f.name), f.type, f.length, f.decimals);
  testing::TempCatalogue catalogue;
  catalogue.Write(std::string(BookTableName()), b);
  TComponent owner(nullptr);
  TTable& table = owner.Create<TTable>("ZoshoTable");
  table.SetDatabaseName(std::string(CatalogueAlias()));
  table.SetTableName(std::string(BookTableName()));
  table.Open();
  std::vector<TFieldDef> read;
  for (int i = 0; i < table.FieldCount(); ++i) {
    const TField& f = table.FieldAt(i);
    read.push_back(TFieldDef{f.FieldName(), f.DataType(), f.DataType() == TFieldType::ftString ? f.Size() : 0});
  }
  const std::vector<TFieldDef> stored = BookTableFieldDefs();
  ASSERT_EQ(read.size(), stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    EXPECT_EQ(read[i], stored[i]) << i << " " << Utf8(stored[i].name);
  }
  EXPECT_EQ(BookTableName(), "\220\175\217\221.DBF");  // the bytes of the name on disk
}

}  // namespace
}  // namespace shelfra
