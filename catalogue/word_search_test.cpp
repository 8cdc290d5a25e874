// The word search answers as the search form does: over a random catalogue, with and without
// the search index, each word search gives the books, in order, of the form's search it stands
// for; and boxes split into words where a visitor sees blanks, and nowhere else.
#include "catalogue/word_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/component.h"
#include "catalogue/catalogue_service.h"
#include "data/query.h"
#include "data/session.h"
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

TEST(WordSearchTest, BoxesSplitAtBlanksOnly) {
  struct Case {
    std::string box;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {" 　 ", {}},
      {"ねこ", {"ねこ"}},
      {"  日本 歴史　近代　", {"日本", "歴史", "近代"}},
      {"ﾈｺ\tｲﾇ", {"ﾈｺ\tｲﾇ"}},   // only the two blanks separate
      {"＝@ソ表", {"＝@ソ表"}},  // 81 81 40: the trail byte 81 and "@" are no full-width blank
      {"a\"b %_", {"a\"b", "%_"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words;
    for (const std::string& w : SplitWords(Sjis(c.box))) words.push_back(Utf8(w));
    EXPECT_EQ(words, c.words) << c.box;
  }
  EXPECT_EQ(SplitWords("\x90"), std::vector<std::string>{"\x90"});  // a lone lead byte stays
}

// The criteria of the tests (UTF-8), every text empty unless named.
struct Words {
  std::string q = "", title = "", author = "", keyword = "", class_prefix = "";
  WordCriteria InSjis() const { return WordCriteria{Sjis(q), Sjis(title), Sjis(author), Sjis(keyword), Sjis(class_prefix)}; }
};
struct Form {
  std::string title1 = "", title2 = "", title3 = "", author = "", keyword1 = "", keyword2 = "", keyword3 = "",
              bunrui = "";
  SearchCriteria InSjis() const {
    return SearchCriteria{Sjis(title1),   Sjis(title2),   Sjis(title3),   Sjis(author),
                          Sjis(keyword1), Sjis(keyword2), Sjis(keyword3), Sjis(bunrui)};
  }
};

TEST(WordSearchTest, BoxesOverTheCapAreNamedAndEveryAuthorWordIsALine) {
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += "w" + std::to_string(i) + " ";
  const std::string eleven = ten + "x";
  EXPECT_EQ((Words{.q = ten, .title = ten, .author = ten, .keyword = ten}.InSjis().OverfullBox()), std::nullopt);
  EXPECT_EQ((Words{.title = ten, .keyword = eleven}.InSjis().OverfullBox()), "keyword");
  EXPECT_EQ((Words{.q = eleven, .title = eleven}.InSjis().OverfullBox()), "q");
  EXPECT_TRUE((Words{.q = "  ", .title = "　"}.InSjis().Empty()));
  EXPECT_FALSE((Words{.class_prefix = "9"}.InSjis().Empty()));
  // select, title, two author lines, class, order
  EXPECT_EQ(WordSearchStatementLines(Words{.author = "夏目　漱石"}.InSjis()).size(), 6u);
}

// The catalogue's datasets, and the registration numbers of an answer.
struct Service : CatalogueDatasets {
  Numbers Answer(int count) {
    Numbers out;
    for (const auto& row : catalogue.Window(0, count, {RegistrationNumberField()})) out.push_back(row[0]);
    return out;
  }
};

// A word search (UTF-8) and the form's search that must answer the same (UTF-8; the form's
// class "10" is every class, "" too).
struct Pair {
  Words words;
  Form form;
};

Numbers WordAnswer(const Words& words) {
  const WordCriteria c = words.InSjis();
  EXPECT_FALSE(c.OverfullBox());
  Service service;
  return service.Answer(service.catalogue.WordSearch(c));
}

// The class counts beside the word search's list, its count, and its places in the title's
// and the author's orders (the fixture has no year or registration date).
struct Outlined {
  std::array<int, 10> classes;
  int count;
  std::vector<int> by_title, by_author;
  bool operator==(const Outlined&) const = default;
};
Outlined Outline(const Words& words) {
  Service service;
  service.catalogue.WordSearch(words.InSjis());
  const AnswerOutline outline = service.catalogue.Outline(AnswerOrder::kReading, {});
  return {outline.classes, outline.count, service.catalogue.Outline(AnswerOrder::kTitle, {}).positions,
          service.catalogue.Outline(AnswerOrder::kAuthor, {}).positions};
}

Numbers FormAnswer(const Form& form) {
  Service service;
  return service.Answer(service.catalogue.Search(form.InSjis()));
}

// The registration numbers a word identifies (IdentifiedBooks), in class `class_prefix`.
std::vector<int32_t> Identified(const std::string& word, const std::string& class_prefix = "") {
  Service service;
  service.books.SetActive(true);
  return service.catalogue.IdentifiedBooks(word, class_prefix);
}

const std::vector<Pair>& Pairs() {
  static const std::vector<Pair> kPairs = {
      {{.title = "ねこ"}, {.title1 = "ねこ"}},
      {{.title = "ﾈｺ"}, {.title1 = "ﾈｺ"}},
      {{.title = "ネコ"}, {.title1 = "ネコ", .bunrui = "10"}},
      {{.title = "  ねこ  "}, {.title1 = "ねこ"}},
      {{.title = "ねこ 麒麟"}, {.title1 = "ねこ", .title2 = "麒麟"}},
      {{.title = "ねこ　パン　SQL"}, {.title1 = "ねこ", .title2 = "パン", .title3 = "SQL"}},
      {{.title = "ガ ﾊﾟﾝ"}, {.title1 = "ガ", .title2 = "ﾊﾟﾝ"}},
      {{.title = "ｓｑｌ"}, {.title1 = "ｓｑｌ"}},
      {{.title = "ﾊ"}, {.title1 = "ﾊ"}},
      {{.title = "ｰ"}, {.title1 = "ｰ"}},
      {{.title = "國"}, {.title1 = "國"}},
      {{.title = "ﾉ　ﾞ"}, {.title1 = "ﾉ", .title2 = "ﾞ"}},
      {{.title = "%"}, {.title1 = "%"}},
      {{.title = "ね_"}, {.title1 = "ね_"}},
      {{.title = "a\"b"}, {.title1 = "a\"b"}},
      {{.author = "ヴ"}, {.author = "ヴ"}},
      {{.author = "ｳﾞ"}, {.author = "ｳﾞ"}},
      {{.author = "　冒険　"}, {.author = "冒険"}},
      {{.author = "ﾊﾝ", .class_prefix = "9"}, {.author = "ﾊﾝ", .bunrui = "9"}},
      {{.keyword = "鉄道 温泉"}, {.keyword1 = "鉄道", .keyword2 = "温泉"}},
      {{.keyword = "国　入門 の"}, {.keyword1 = "国", .keyword2 = "入門", .keyword3 = "の"}},
      {{.keyword = "SQL sql Sql"}, {.keyword1 = "SQL", .keyword2 = "sql", .keyword3 = "Sql"}},
      {{.keyword = "％"}, {.keyword1 = "％"}},
      {{.q = "ねこ"}, {.keyword1 = "ねこ"}},
      {{.q = "鉄道　ｺｰﾋｰ"}, {.keyword1 = "鉄道", .keyword2 = "ｺｰﾋｰ"}},
      {{.q = "A1 の ｺｰﾋｰ"}, {.keyword1 = "A1", .keyword2 = "の", .keyword3 = "ｺｰﾋｰ"}},
      {{.q = "ねこ", .keyword = "鉄道"}, {.keyword1 = "鉄道", .keyword2 = "ねこ"}},
      {{.class_prefix = "1"}, {.bunrui = "1"}},
      {{.class_prefix = "3"}, {.bunrui = "3"}},
      {{.class_prefix = "9"}, {.bunrui = "9"}},
      {{.class_prefix = "91"}, {.bunrui = "91"}},
      {{.title = "ねこ", .class_prefix = "9"}, {.title1 = "ねこ", .bunrui = "9"}},
      {{.q = "温泉", .title = "の", .author = "ガ", .keyword = "ﾈｺ", .class_prefix = "1"},
       {.title1 = "の", .author = "ガ", .keyword1 = "ﾈｺ", .keyword2 = "温泉", .bunrui = "1"}},
      {{.q = "冒険", .title = "ﾈｺ ﾉ"}, {.title1 = "ﾈｺ", .title2 = "ﾉ", .keyword1 = "冒険"}},
  };
  return kPairs;
}

TEST(WordSearchTest, AnswersAreTheFormsWithAndWithoutTheIndex) {
  testing::TempCatalogue catalogue;
  catalogue.Write(Sjis("図書.DBF"), testing::RandomBookTable(20, 600));
  size_t answered = 0;
  std::vector<Numbers> scanned;
  std::vector<Outlined> outlines;
  for (const Pair& p : Pairs()) {
    outlines.push_back(Outline(p.words));
    const Numbers& form = scanned.emplace_back(FormAnswer(p.form));
    EXPECT_EQ(outlines.back().count, static_cast<int>(form.size()));
    EXPECT_EQ(WordAnswer(p.words), form) << p.words.q << "|" << p.words.title << "|" << p.words.author << "|"
                                         << p.words.keyword << "|" << p.words.class_prefix;
    answered += form.size() > 1;
  }
  EXPECT_GT(answered, Pairs().size() / 2);  // the cases are not all empty answers
  // Registration numbers: every live book by its number, none of the deleted ones, zeros in
  // front ignored; the class narrows. The same with the index's number lookup below.
  std::vector<std::vector<int32_t>> identified;
  size_t in_class = 0;
  for (int n = 1; n <= 200; ++n) {
    identified.push_back(Identified(std::to_string(n)));
    EXPECT_TRUE(identified.back().empty() || identified.back() == std::vector<int32_t>{n}) << n;
    const std::vector<int32_t> narrowed = Identified(std::to_string(n), "9");
    EXPECT_TRUE(narrowed.empty() || narrowed == identified.back()) << n;
    in_class += !narrowed.empty();
  }
  EXPECT_GT(std::count(identified.begin(), identified.end(), std::vector<int32_t>{}), 5);  // deleted
  EXPECT_GT(in_class, 20u);
  EXPECT_LT(in_class, 150u);
  EXPECT_EQ(Identified("0007"), identified[6]);
  EXPECT_EQ(Identified("601"), std::vector<int32_t>{});

  const SearchIndexFields saved = Session().IndexFields();
  Session().SetIndexFields(CatalogueIndexFields());
  SetIndexBuildsInlineForTesting(true);
  std::ofstream(catalogue.Dir() + "/shelfra.conf", std::ios::app) << "[Index]\nDirectory=cache\n";
  FormAnswer({});  // builds the index
  size_t indexes = 0;
  for (const auto& e : std::filesystem::directory_iterator(catalogue.Dir() + "/cache")) {
    indexes += e.path().extension() == ".idx";
  }
  EXPECT_EQ(indexes, 1u);
  for (size_t i = 0; i < Pairs().size(); ++i) {
    const Pair& p = Pairs()[i];
    EXPECT_EQ(FormAnswer(p.form), scanned[i]) << "form, with the index: " << i;
    EXPECT_EQ(WordAnswer(p.words), scanned[i]) << "words, with the index: " << i;
    EXPECT_TRUE(Outline(p.words) == outlines[i]) << "classes and orders, with the index: " << i;
  }
  for (int n = 1; n <= 200; ++n) EXPECT_EQ(Identified(std::to_string(n)), identified[n - 1]) << n;
  SetIndexBuildsInlineForTesting(false);
  Session().SetIndexFields(saved);
}

}  // namespace
}  // namespace shelfra
