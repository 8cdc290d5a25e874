#include "base/strings.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

TEST(TStringsTest, ValueLookupTakesFirstNameIgnoringAsciiCase) {
  TStrings list{"title1=", "title2=abc", "a=1", "A=2", "b=c=d", "plain", "KeyWord1=x"};
  struct Case {
    const char* name;
    const char* value;
  } cases[] = {
      {"title1", ""}, {"title2", "abc"}, {"a", "1"},  {"b", "c=d"},
      {"plain", ""},  {"missing", ""},   {"keyword1", "x"}, {"KEYWORD1", "x"},
  };
  for (const Case& c : cases) EXPECT_EQ(list.Values(c.name), c.value) << c.name;
  EXPECT_EQ(list.IndexOfName("plain"), -1);
  EXPECT_EQ(list.IndexOfName("A"), 2);
}

TEST(TStringsTest, TextEndsEveryLineWithCrLf) {
  EXPECT_EQ(TStrings({"a", "b"}).Text(), "a\r\nb\r\n");
  EXPECT_EQ(TStrings().Text(), "");
}

TEST(TStringsTest, IndexOutOfRangeRaisesEListError) {
  TStrings empty;
  try {
    empty.Strings(0);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), testing::Sjis("リストのインデックスが範囲を超えています (0)"));
  }
}

}  // namespace
}  // namespace shelfra
