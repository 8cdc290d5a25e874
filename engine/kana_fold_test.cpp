#include "engine/kana_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;
using testing::Utf8;

// The folded codes of Shift_JIS text, and the width of each character.
std::vector<uint16_t> Codes(std::string_view sjis, const KanaFold& fold = KanaFold::IgnoringCase(),
                            std::vector<int>* widths = nullptr) {
  std::vector<uint16_t> codes;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(sjis.data());
  const unsigned char* end = p + sjis.size();
  while (p < end) {
    FoldedChar c = fold.Next(p, end);
    codes.push_back(c.code);
    if (widths != nullptr) widths->push_back(c.width);
    p += c.width;
  }
  return codes;
}

constexpr const char* kKatakana =
    "ァアィイゥウェエォオカガキギクグケゲコゴサザシジスズセゼソゾタダチヂッツヅテデトドナニヌネノハバパヒビピフブプヘベペ"
    "ホボポマミムメモャヤュユョヨラリルレロヮワヰヱヲン";
constexpr const char* kHiragana =
    "ぁあぃいぅうぇえぉおかがきぎくぐけげこごさざしじすずせぜそぞただちぢっつづてでとどなにぬねのはばぱひびぴふぶぷへべぺ"
    "ほぼぽまみむめもゃやゅゆょよらりるれろゎわゐゑをん";

TEST(KanaFoldTest, EveryKanaFoldsToItsFullWidthKatakana) {
  // Full-width katakana are their own codes, 0x8340-0x8393 without 0x837F.
  std::vector<uint16_t> expected;
  for (uint16_t code = 0x8340; code <= 0x8393; ++code) {
    if (code != 0x837F) expected.push_back(code);
  }
  EXPECT_EQ(Codes(Sjis(kKatakana)), expected);
  EXPECT_EQ(Codes(Sjis(kHiragana)), expected);
  // Half-width katakana, a letter and its mark taken as one letter (no half-width small wa, wi, we).
  EXPECT_EQ(Codes(Sjis("ｧｱｨｲｩｳｪｴｫｵｶｶﾞｷｷﾞｸｸﾞｹｹﾞｺｺﾞｻｻﾞｼｼﾞｽｽﾞｾｾﾞｿｿﾞﾀﾀﾞﾁﾁﾞｯﾂﾂﾞﾃﾃﾞﾄﾄﾞﾅﾆﾇﾈﾉﾊﾊﾞﾊﾟﾋﾋﾞﾋﾟﾌﾌﾞﾌﾟﾍﾍﾞﾍﾟ"
                       "ﾎﾎﾞﾎﾟﾏﾐﾑﾒﾓｬﾔｭﾕｮﾖﾗﾘﾙﾚﾛﾜｦﾝｳﾞｰ")),
            Codes(Sjis("ァアィイゥウェエォオカガキギクグケゲコゴサザシジスズセゼソゾタダチヂッツヅテデトドナニヌネノハバパヒビピフブプヘベペ"
                       "ホボポマミムメモャヤュユョヨラリルレロワヲンヴー")));
  EXPECT_EQ(Codes(Sjis("ゝゞ｡｢｣､･")), Codes(Sjis("ヽヾ。「」、・")));
}

TEST(KanaFoldTest, FullWidthAsciiFoldsToAscii) {
  const KanaFold& keep = KanaFold::KeepingCase();
  struct Case {
    const char* full;
    const char* ascii;
  } cases[] = {
      {"ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
      {"ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ", "abcdefghijklmnopqrstuvwxyz"},
      {"０１２３４５６７８９", "0123456789"},
      {"！＃＄％＆（）＊＋，－．／：；＜＝＞？＠［＼］＾＿｀｛｜｝～＂＇　", "!#$%&()*+,-./:;<=>?@[\\]^_`{|}~\"' "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Codes(Sjis(c.full), keep), Codes(c.ascii, keep)) << c.full;
    EXPECT_EQ(Codes(Sjis(c.full)), Codes(c.ascii)) << c.full;
  }
  // The second places of the full-width apostrophe and quotation mark.
  EXPECT_EQ(Codes("\xFA\x56\xFA\x57"), Codes("'\""));
  // Case: one letter when ignoring it, two otherwise; full-width follows its ASCII letter.
  EXPECT_EQ(Codes(Sjis("aＡａ")), (std::vector<uint16_t>{'A', 'A', 'A'}));
  EXPECT_EQ(Codes(Sjis("aＡａ"), keep), (std::vector<uint16_t>{'a', 'A', 'a'}));
}

TEST(KanaFoldTest, CharactersOfTheirOwn) {
  struct Case {
    std::string text;
    std::vector<uint16_t> codes;
    std::vector<int> widths;
  } cases[] = {
      // Small and large, voiced and unvoiced, and the yen sign stay apart.
      {Sjis("ッツカガハバパ猫￥"), {0x8362, 0x8363, 0x834A, 0x834B, 0x836E, 0x836F, 0x8370, 0x944C, 0x818F},
       {2, 2, 2, 2, 2, 2, 2, 2, 2}},
      // A mark after a letter that takes none is a character of its own, the full-width mark.
      {Sjis("ｱﾞﾜﾞﾏﾟｯﾞ"), {0x8341, 0x814A, 0x838F, 0x814A, 0x837D, 0x814B, 0x8362, 0x814A}, {1, 1, 1, 1, 1, 1, 1, 1}},
      {Sjis("ﾞｶ"), {0x814A, 0x834A}, {1, 1}},  // a mark joins the letter before it, never after
      {Sjis("ｶ゛"), {0x834A, 0x814A}, {1, 2}},  // only the half-width mark joins
      {Sjis("ｶﾞﾞ"), {0x834B, 0x814A}, {2, 1}},
      {Sjis("ﾊﾟﾝ"), {0x8370, 0x8393}, {2, 1}},
      {Sjis("ｶ"), {0x834A}, {1}},  // a letter at the very end
      // A lone lead byte at the end is itself; one followed by any byte takes it.
      {"\x83", {0x83}, {1}},
      {Sjis("ｶ") + "\x83", {0x834A, 0x83}, {1, 1}},
      {"\x83 ", {0x8320}, {2}},
      {"\x80\xA0\xFD", {0x80, 0xA0, 0xFD}, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    std::vector<int> widths;
    EXPECT_EQ(Codes(c.text, KanaFold::IgnoringCase(), &widths), c.codes) << Utf8(c.text);
    EXPECT_EQ(widths, c.widths) << Utf8(c.text);
  }
}

TEST(KanaFoldTest, SoleFormsAndSignatureBytes) {
  const KanaFold& fold = KanaFold::IgnoringCase();
  EXPECT_TRUE(fold.IsSoleForm(0x944C));   // a kanji
  EXPECT_TRUE(fold.IsSoleForm(0x819B));   // a symbol without another form
  EXPECT_FALSE(fold.IsSoleForm(0x8341));  // katakana: also hiragana and half-width
  EXPECT_FALSE(fold.IsSoleForm(0x815B));  // the long vowel mark: also half-width
  EXPECT_FALSE(fold.IsSoleForm('1'));
  EXPECT_FALSE(fold.IsSoleForm('A'));
  EXPECT_TRUE(KanaFold::KeepingCase().IsSoleForm(0x80));

  auto signature = [&fold](uint16_t code) {
    unsigned char bytes[8];
    size_t n = fold.SignatureBytes(code, bytes, sizeof bytes);
    return std::string(reinterpret_cast<char*>(bytes), n);
  };
  // The voiced ka: hiragana 0x82AA, katakana 0x834B, half-width 0xB6 0xDE.
  EXPECT_EQ(signature(0x834B), "\xAA\x4B\xB6");
  EXPECT_EQ(signature('A'), "Aa\x60\x81");
  EXPECT_EQ(signature(' '), std::string(" \x40"));
  EXPECT_EQ(signature('"'), "\"\xFC\x57");  // the extension forms 0xEEFC and 0xFA57
}

TEST(KanaFoldTest, SortWeightsFollowTheSyllabary) {
  // Small before large, voiced after unvoiced; the voiced u after u, the small ka and ke
  // before their large letters.
  std::vector<uint16_t> codes = Codes(Sjis("ァアィイゥウヴェエォオヵカガキギクグヶケゲコゴ"));
  for (size_t i = 1; i < codes.size(); ++i) {
    EXPECT_LT(SortWeight(codes[i - 1]), SortWeight(codes[i])) << i;
  }
  // Other characters keep Shift_JIS byte order, single bytes beside their lead byte.
  const uint16_t bytes_order[] = {' ', '0', 'A', 0x8140, 0x815B, 0x8340, 0x8393, 0x889F, 0xA0, 0xE040};
  for (size_t i = 1; i < std::size(bytes_order); ++i) {
    EXPECT_LT(SortWeight(bytes_order[i - 1]), SortWeight(bytes_order[i])) << i;
  }
}

}  // namespace
}  // namespace shelfra
