// The web module against the catalogue check: the fields the check says the pages read are
// those without which the pages fail, and its reading of the number settings is what the
// detail page does.
#include "app/web_module1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/component.h"
#include "base/exceptions.h"
#include "catalogue/catalogue.h"
#include "catalogue/check_test_support.h"
#include "data/query.h"
#include "data/table.h"

namespace shelfra {
namespace {

using namespace check_testing;
using testing::Sjis;

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
