#include "engine/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;
using testing::Utf8;

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

TEST(LikePatternTest, FoldsKanaWidthAndCase) {
  struct Case {
    std::string pattern;
    std::string text;
    bool expected;
  } cases[] = {
      // Hiragana, katakana and half-width katakana are one, in the pattern and in the text.
      {Sjis("%ねこ%"), Sjis("ﾈｺ ﾉ ﾚｷｼ"), true},
      {Sjis("%ネコ%"), Sjis("こねこ"), true},
      {Sjis("%ﾈｺ%"), Sjis("黒ネコ"), true},
      {Sjis("%ゐ%"), Sjis("ヰ"), true},
      {Sjis("%が%"), Sjis("ｶﾞｲﾄﾞ"), true},
      {Sjis("%ｶﾞ%"), Sjis("ながい"), true},
      {Sjis("%ヴ%"), Sjis("ｳﾞｫﾈｶﾞｯﾄ"), true},
      {Sjis("%ー%"), Sjis("ｶｰﾄ"), true},
      {Sjis("%ｰ%"), Sjis("カート"), true},
      // A letter and its mark are one character: ha does not find pa, pa finds pa.
      {Sjis("%ﾊ%"), Sjis("ﾊﾟﾝ"), false},
      {Sjis("ﾊ%"), Sjis("ﾊﾟﾝ"), false},
      {Sjis("%は%"), Sjis("ﾊﾟﾝ"), false},
      {Sjis("%ﾊﾟ%"), Sjis("ぱん"), true},
      {Sjis("%ぱ%"), Sjis("ﾊﾟﾝ"), true},
      {Sjis("%ウ%"), Sjis("ｳﾞｫ"), false},
      {Sjis("%ﾟﾝ%"), Sjis("ﾊﾟﾝ"), false},
      // A mark at the very end of the value.
      {Sjis("%ｶ"), Sjis("ﾊﾝｶﾞ"), false},
      {Sjis("%ガ"), Sjis("ﾊﾝｶﾞ"), true},
      {Sjis("%ｶﾞ"), Sjis("はんが"), true},
      {Sjis("%ﾞ"), Sjis("ﾊﾝｶﾞ"), false},
      {Sjis("ﾊﾝ_"), Sjis("ﾊﾝｶﾞ"), true},
      {Sjis("ﾊﾝｶ_"), Sjis("ﾊﾝｶﾞ"), false},
      // A mark after a letter that takes none stays a character of its own.
      {"_", Sjis("ｱﾞ"), false},
      {"__", Sjis("ｱﾞ"), true},
      {Sjis("%ア%"), Sjis("ｱﾞ"), true},
      {Sjis("%゛"), Sjis("ｱﾞ"), true},
      {Sjis("ア゛"), Sjis("ｱﾞ"), true},
      {Sjis("%ﾜﾞ%"), Sjis("わ゛"), true},
      // A lone lead byte at the end of the value is one character.
      {Sjis("%あい%"), Sjis("ｱｲ") + "\x83", true},
      {Sjis("あい_"), Sjis("ｱｲ") + "\x83", true},
      {"%\x83", Sjis("ｱｲ") + "\x83", true},
      {Sjis("%い"), Sjis("ｱｲ") + "\x83", false},
      {Sjis("%ア%"), "\x83", false},
      // Full-width ASCII is ASCII; letters ignore case.
      {Sjis("%ＳＱＬ%"), "C++ and SQL", true},
      {"%sql%", Sjis("ＳＱＬ入門"), true},
      {Sjis("%ｓｑｌ%"), "Sql", true},
      {Sjis("%１%"), Sjis("第1巻"), true},
      {Sjis("%C＋＋%"), "c++", true},
      {Sjis("%　%"), "a b", true},
      {"% %", Sjis("a　b"), true},
      {"%\\%", Sjis("＼"), true},
      // Only the ASCII "%" and "_" are wildcards.
      {Sjis("１００％"), "100%", true},
      {Sjis("１００％"), Sjis("100％"), true},
      {Sjis("１００％"), "1000", false},
      {Sjis("＿"), "a", false},
      {Sjis("＿"), "_", true},
      // Nothing else folds.
      {Sjis("%ツ%"), Sjis("ｯ"), false},
      {Sjis("%ｶ%"), Sjis("ガ"), false},
      {Sjis("%カ%"), Sjis("ｶﾞ"), false},
      {Sjis("%猫%"), Sjis("ネコ"), false},
      {Sjis("%￥%"), "\\", false},
      // Kanji found by their bytes, with folded kana around them; wildcards between.
      {Sjis("%猫ね%"), Sjis("黒猫ﾈ"), true},
      {Sjis("%猫ね%"), Sjis("黒猫ﾈ猫"), true},
      {Sjis("%猫ね%"), Sjis("猫の猫"), false},
      {Sjis("%ﾈ_ﾉ%"), Sjis("ねこの"), true},
      {Sjis("%ね%の%"), Sjis("ﾈｺ ﾉ"), true},
      {Sjis("%ね%の%"), Sjis("ﾉﾈ"), false},
      // Bytes of the pattern's characters in other places do not make a match.
      {Sjis("%ねこ%"), Sjis("ﾋｺ"), false},
      {Sjis("%ねこ%"), Sjis("lｺ"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LikePattern(c.pattern).Matches(c.text), c.expected) << Utf8(c.pattern) << " LIKE " << Utf8(c.text);
  }
}

// The UTF-8 characters of `text`, or its words when `by_blank`.
std::vector<std::string> Split(const std::string& text, bool by_blank = false) {
  std::vector<std::string> parts;
  for (size_t i = 0; i < text.size();) {
    size_t j = i + 1;
    if (by_blank) {
      j = std::min(text.find(' ', i), text.size());
    } else {
      while (j < text.size() && (static_cast<unsigned char>(text[j]) & 0xC0) == 0x80) ++j;
    }
    parts.push_back(text.substr(i, j - i));
    i = by_blank ? j + 1 : j;
  }
  return parts;
}

TEST(LikePatternTest, EveryFormOfALetterFindsEveryOtherAndNoOtherLetter) {
  std::vector<std::string> katakana = Split(
      "ァアィイゥウェエォオカガキギクグケゲコゴサザシジスズセゼソゾタダチヂッツヅテデトドナニヌネノハバパヒビピフブプヘベペ"
      "ホボポマミムメモャヤュユョヨラリルレロヮワヰヱヲンヴ");
  std::vector<std::string> hiragana = Split(
      "ぁあぃいぅうぇえぉおかがきぎくぐけげこごさざしじすずせぜそぞただちぢっつづてでとどなにぬねのはばぱひびぴふぶぷへべぺ"
      "ほぼぽまみむめもゃやゅゆょよらりるれろゎわゐゑをん-");
  std::vector<std::string> half = Split(
      "ｧ ｱ ｨ ｲ ｩ ｳ ｪ ｴ ｫ ｵ ｶ ｶﾞ ｷ ｷﾞ ｸ ｸﾞ ｹ ｹﾞ ｺ ｺﾞ ｻ ｻﾞ ｼ ｼﾞ ｽ ｽﾞ ｾ ｾﾞ ｿ ｿﾞ ﾀ ﾀﾞ ﾁ ﾁﾞ ｯ ﾂ ﾂﾞ ﾃ ﾃﾞ ﾄ ﾄﾞ ﾅ ﾆ ﾇ "
      "ﾈ ﾉ ﾊ ﾊﾞ ﾊﾟ ﾋ ﾋﾞ ﾋﾟ ﾌ ﾌﾞ ﾌﾟ ﾍ ﾍﾞ ﾍﾟ ﾎ ﾎﾞ ﾎﾟ ﾏ ﾐ ﾑ ﾒ ﾓ ｬ ﾔ ｭ ﾕ ｮ ﾖ ﾗ ﾘ ﾙ ﾚ ﾛ - ﾜ - - ｦ ﾝ ｳﾞ",
      true);
  std::vector<std::string> ascii = Split("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !#$&()*+,-./:;<=>?@[\\]^`{|}~\"'");
  std::vector<std::string> full = Split("ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ０１２３４５６７８９　！＃＄＆（）＊＋，－．／：；＜＝＞？＠［＼］＾｀｛｜｝～＂＇");
  std::vector<std::string> lower = Split("abcdefghijklmnopqrstuvwxyzａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ");
  ASSERT_EQ(katakana.size(), hiragana.size());
  ASSERT_EQ(katakana.size(), half.size());
  ASSERT_EQ(ascii.size(), full.size());
  // Each letter with all its forms.
  std::vector<std::vector<std::string>> letters;
  for (size_t i = 0; i < katakana.size(); ++i) {
    letters.push_back({katakana[i]});
    for (const std::string& form : {hiragana[i], half[i]}) {
      if (form != "-") letters.back().push_back(form);
    }
  }
  for (size_t i = 0; i < ascii.size(); ++i) {
    letters.push_back({ascii[i], full[i]});
    if (i < 26) {
      letters.back().push_back(lower[i]);
      letters.back().push_back(lower[i + 26]);
    }
  }
  for (size_t i = 0; i < letters.size(); ++i) {
    for (size_t j = 0; j < letters.size(); ++j) {
      for (const std::string& a : letters[i]) {
        LikePattern pattern(Sjis("%" + a + "%"));
        for (const std::string& b : letters[j]) {
          // Kanji on both sides: the character can join no neighbour.
          EXPECT_EQ(pattern.Matches(Sjis("亜" + b + "亜")), i == j) << a << " in " << b;
        }
      }
    }
  }
}

TEST(CollationTest, FieldNamesIgnoreAsciiCaseOfSingleByteCharactersOnly) {
  EXPECT_TRUE(SameFieldName("ISBN", "isbn"));
  EXPECT_TRUE(SameFieldName(Sjis("TRCD分類"), Sjis("trcd分類")));
  EXPECT_TRUE(SameFieldName(Sjis("著者名ｶﾅ"), Sjis("著者名ｶﾅ")));
  EXPECT_FALSE(SameFieldName(Sjis("ア"), Sjis("ャ")));
  EXPECT_FALSE(SameFieldName(Sjis("書名"), Sjis("書名ｶﾅ")));
}

TEST(CollationTest, KeyMatchesWholeFoldedCharacters) {
  struct Case {
    std::string text, key;
    bool ignore_case, partial, expected;
  } cases[] = {
      {"abc", "abc", false, false, true},
      {"abc", "ABC", false, false, false},
      {"abc", "ABC", true, false, true},
      {"abcd", "ab", false, true, true},
      {"abcd", "ab", false, false, false},
      {Sjis("ャ"), Sjis("ア"), true, false, false},
      {Sjis("ア"), "\x83", false, true, false},  // never ends inside a character
      // Kana and width fold also when case is kept; case then stays.
      {Sjis("ﾈｺ"), Sjis("ねこ"), false, false, true},
      {"ABC", Sjis("ＡＢＣ"), false, false, true},
      {"abc", Sjis("ＡＢＣ"), false, false, false},
      {"abc", Sjis("ＡＢＣ"), true, false, true},
      {Sjis("ﾊﾟﾝ"), Sjis("ﾊ"), true, true, false},  // the first character is pa, not ha
      {Sjis("ﾊﾟﾝ"), Sjis("ぱ"), true, true, true},
      {Sjis("ｶﾞｲﾄﾞ"), Sjis("ガイド"), false, false, true},  // text longer in bytes than the key
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyMatches(c.text, c.key, c.ignore_case, c.partial), c.expected)
        << Utf8(c.text) << " / " << Utf8(c.key) << " case " << !c.ignore_case << " partial " << c.partial;
  }
}

TEST(CollationTest, TextSortsInReadingOrder) {
  // Groups in ascending order; the texts of one group are equal.
  const std::vector<std::vector<std::string>> groups = {
      {""},
      {" "},
      {"1", Sjis("１")},
      {"ABC", "abc", Sjis("ＡＢＣ")},
      {"ABCD"},  // a text sorts after its own beginning
      {Sjis("ｱｲ"), Sjis("アイ"), Sjis("あい")},
      {Sjis("ｱｵ"), Sjis("アオ")},
      {Sjis("あか")},
      {Sjis("ｳ")},
      {Sjis("ｳﾞ"), Sjis("ヴ")},  // voiced u right after u
      {Sjis("ｴ")},
      {Sjis("ヵ")},  // small ka right before ka
      {Sjis("ｶ"), Sjis("か")},
      {Sjis("ｶｰﾄﾞ"), Sjis("カード")},  // the long vowel mark sorts before every kana
      {Sjis("カア")},
      {Sjis("ｶﾞ"), Sjis("が")},
      {Sjis("ｷ")},
      {Sjis("ﾈｺ ﾄ")},  // a blank sorts before every kana
      {Sjis("ﾈｺ ﾉ")},
      {Sjis("ﾈｺｱ")},
      {Sjis("ﾊ")},
      {Sjis("ﾊﾞ")},
      {Sjis("ﾊﾟ")},
      {Sjis("ﾋ")},
      {Sjis("ﾝ")},
      {Sjis("亜")},  // kanji after kana, in Shift_JIS order
      {Sjis("猫")},
  };
  auto key = [](const std::string& text) {
    std::string out;
    AppendSortKey(text, out);
    return out;
  };
  auto sign = [](int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); };
  for (size_t i = 0; i < groups.size(); ++i) {
    for (size_t j = 0; j < groups.size(); ++j) {
      for (const std::string& a : groups[i]) {
        for (const std::string& b : groups[j]) {
          int expected = i < j ? -1 : (i > j ? 1 : 0);
          EXPECT_EQ(CompareText(a, b), expected) << Utf8(a) << " vs " << Utf8(b);
          EXPECT_EQ(sign(key(a).compare(key(b))), expected) << "keys of " << Utf8(a) << " vs " << Utf8(b);
        }
      }
    }
  }
}

// Runs `statement` over a table of one text field K holding `values` (UTF-8) and returns the
// values of the records in answer order.
std::vector<std::string> Answer(const std::string& statement, const std::vector<std::string>& values) {
  testing::DbfBuilder b;
  b.AddField("K", 'C', 20);
  for (const std::string& v : values) b.AddRecord({Sjis(v)});
  std::string path = ::testing::TempDir() + "collation_answer.dbf";
  b.WriteTo(path);
  std::unique_ptr<DbfFile> file = testing::OpenTable(path);
  std::vector<std::string> out;
  for (uint32_t r : testing::RunStatement(Sjis(statement), *file)) out.push_back(values[r]);
  std::remove(path.c_str());
  return out;
}

TEST(CollationTest, StatementsCompareAndSortFoldedText) {
  using V = std::vector<std::string>;
  const V values = {"ﾈｺ", "ねこ", "ネコ", "ねこ ", "ﾈｺﾞ", "ＳＱＬ", "sql", "", "ｱｵ", "アイ", "あか", "猫"};
  EXPECT_EQ(Answer("select * from t where K = 'ねこ'", values), (V{"ﾈｺ", "ねこ", "ネコ", "ねこ "}));
  EXPECT_EQ(Answer("select * from t where K = 'SQL'", values), (V{"ＳＱＬ", "sql"}));
  EXPECT_EQ(Answer("select * from t where K <> 'ﾈｺ' and K like '%ｺ%'", values), V{});
  EXPECT_EQ(Answer("select * from t where K like '%ゴ'", values), V{"ﾈｺﾞ"});
  // Equal keys keep table order, blanks first, and the three scripts sort together.
  EXPECT_EQ(Answer("select * from t order by K", values),
            (V{"", "ＳＱＬ", "sql", "アイ", "ｱｵ", "あか", "ﾈｺ", "ねこ", "ネコ", "ねこ ", "ﾈｺﾞ", "猫"}));
  EXPECT_EQ(Answer("select * from t where K like '%' order by K desc", values),
            (V{"猫", "ﾈｺﾞ", "ﾈｺ", "ねこ", "ネコ", "ねこ ", "あか", "ｱｵ", "アイ", "ＳＱＬ", "sql", ""}));
}

}  // namespace
}  // namespace shelfra
