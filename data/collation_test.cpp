#include "data/collation.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;

TEST(LikePatternTest, MatchesWholeShiftJisCharacters) {
  struct Case {
    std::string pattern;
    std::string text;
    bool expected;
  } cases[] = {
      // 0x5C is the trail byte of "so" (0x83 0x5C) and of "hyou" (0x95 0x5C).
      {"%\\%", Sjis("ソフト"), false},
      {"%\\%", Sjis("表計算"), false},
      {"%\\%", "C:\\TEMP", true},
      {"%\\%", Sjis("ソ") + "\\", true},
      {"\\%", Sjis("ソ"), false},
      {"%\\", Sjis("ソ"), false},
      {"\\", Sjis("ソ"), false},
      // 0x41 ("A") is the trail byte of 0x83 0x41; 0x83 0x61 differs from it only by ASCII case.
      {"%a%", Sjis("アイ"), false},
      {"%A", Sjis("ア"), false},
      {Sjis("%ア%"), Sjis("ャ"), false},
      {Sjis("ア%"), Sjis("ャ"), false},
      {Sjis("%ア"), Sjis("ャ"), false},
      {Sjis("ア"), Sjis("ャ"), false},
      {Sjis("%ア%"), Sjis("イアウ"), true},
      // A byte hit that straddles two characters does not count; a later one on a boundary does.
      {"%\\" + Sjis("ア") + "%", Sjis("ソア"), false},
      {"%\\" + Sjis("ア") + "%", Sjis("ソア") + "\\" + Sjis("ア"), true},
      // A double-byte character whose trail byte is "_" (0x81 0x5F) is no wildcard.
      {Sjis("＼"), Sjis("＼"), true},
      {Sjis("＼"), Sjis("ア"), false},
      // "_" is one whole character.
      {"_", Sjis("あ"), true},
      {"__", Sjis("あ"), false},
      {"_", "ab", false},
      {Sjis("こ_ろ"), Sjis("こころ"), true},
      {Sjis("こ_ろ"), Sjis("こ") + "x" + Sjis("ろ"), true},
      {Sjis("%こ_"), Sjis("ここ"), true},
      {Sjis("こ_"), Sjis("こ"), false},
      // ASCII letters ignore case.
      {"%data%", "Data Structures", true},
      {"AB%", "abc", true},
      {"%Xc", "abxC", true},
      {"abc", "ABC", true},
      // Blanks, empties and general shapes.
      {"%", "", true},
      {"%%", "", true},
      {"", "", true},
      {"", "a", false},
      {"%%", "x", true},
      {"%ab%cd%", "xxABxxcDxx", true},
      {"%ab%cd%", "xxcdxxab", false},
      {"a%b", "ab", true},
      {"a%b", "acb", true},
      {"a%b", "acbd", false},
      {"%b_", "abcbd", true},
      {Sjis("%猫%"), Sjis("吾輩は猫である"), true},
      {Sjis("吾輩%"), Sjis("吾輩は猫である"), true},
      {"3%", "3", true},
      {"3%", "13", false},
      {" %", " ", true},
      {"% %", "ab", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LikePattern(c.pattern).Matches(c.text), c.expected)
        << testing::Utf8(c.pattern) << " LIKE " << testing::Utf8(c.text);
  }
}

TEST(CollationTest, FieldNamesIgnoreAsciiCaseOfSingleByteCharactersOnly) {
  EXPECT_TRUE(SameFieldName("ISBN", "isbn"));
  EXPECT_TRUE(SameFieldName(Sjis("TRCD分類"), Sjis("trcd分類")));
  EXPECT_TRUE(SameFieldName(Sjis("著者名ｶﾅ"), Sjis("著者名ｶﾅ")));
  EXPECT_FALSE(SameFieldName(Sjis("ア"), Sjis("ャ")));
  EXPECT_FALSE(SameFieldName(Sjis("書名"), Sjis("書名ｶﾅ")));
}

TEST(CollationTest, KeyMatchesWholeCharacters) {
  EXPECT_TRUE(KeyMatches("abc", "abc", false, false));
  EXPECT_FALSE(KeyMatches("abc", "ABC", false, false));
  EXPECT_TRUE(KeyMatches("abc", "ABC", true, false));
  EXPECT_TRUE(KeyMatches("abcd", "ab", false, true));
  EXPECT_FALSE(KeyMatches(Sjis("ャ"), Sjis("ア"), true, false));
  EXPECT_FALSE(KeyMatches(Sjis("ア"), "\x83", false, true));  // never ends inside a character
}

TEST(CollationTest, TextSortsInByteOrder) {
  EXPECT_LT(CompareText("", "a"), 0);
  EXPECT_LT(CompareText("A", "B"), 0);
  EXPECT_LT(CompareText("z", Sjis("ア")), 0);  // 0x7A before 0x83
  EXPECT_LT(CompareText(Sjis("ア"), Sjis("ｱ")), 0);  // 0x83 before 0xB1
  EXPECT_EQ(CompareText("ab", "ab"), 0);
  EXPECT_GT(CompareText("ab", "a"), 0);
}

}  // namespace
}  // namespace shelfra
