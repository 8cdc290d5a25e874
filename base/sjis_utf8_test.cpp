#include "base/sjis_utf8.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::Sjis;

TEST(SjisToUtf8Test, ConvertsWholeTextsOrRefusesThem) {
  struct Case {
    std::string sjis;
    std::optional<std::string> utf8;  // nothing: refused
  } cases[] = {
      {"", ""},
      {"Shelfra.ini", "Shelfra.ini"},
      {"\x90\x7D\x8F\x91.DBF", "図書.DBF"},  // the bytes the program names the book table with
      {Sjis("貸出返却.dbf"), "貸出返却.dbf"},
      {Sjis("表示"), "表示"},                  // a trail byte 0x5C is no backslash
      {Sjis("ｶﾞｯｺｳ"), "ｶﾞｯｺｳ"},
      {"\x81\x60", "\xEF\xBD\x9E"},            // cp932's wave dash is U+FF5E
      {"\xF0\x40", "\xEE\x80\x80"},            // user-defined area
      {"a\x90", std::nullopt},                 // lead byte at the end
      {"\x90.", std::nullopt},                 // lead byte before no trail byte
      {"\x80", std::nullopt},
      {"\xA0", std::nullopt},
      {"\xFD", std::nullopt},
      {"\x85\x40", std::nullopt},              // a row without characters
      {std::string("a\0b", 3), std::nullopt},
  };
  for (const Case& c : cases) {
    std::string out;
    const bool converted = SjisToUtf8(c.sjis, out);
    EXPECT_EQ(converted, c.utf8.has_value()) << ::testing::PrintToString(c.sjis);
    if (converted && c.utf8) {
      EXPECT_EQ(out, *c.utf8) << ::testing::PrintToString(c.sjis);
    }
  }
}

TEST(Utf8ToSjisTest, ConvertsWholeTextsOrSaysWhatStoppedIt) {
  struct Case {
    std::string utf8;
    Utf8ToSjisResult result;
    std::string sjis;       // on kOk
    uint32_t missing = 0;   // on kNoSjisForm
  } cases[] = {
      {"", Utf8ToSjisResult::kOk, ""},
      {"図書.DBF", Utf8ToSjisResult::kOk, "\x90\x7D\x8F\x91.DBF"},
      {"ｶﾞ表", Utf8ToSjisResult::kOk, "\xB6\xDE\x95\x5C"},
      {"\xEF\xBD\x9E", Utf8ToSjisResult::kOk, "\x81\x60"},  // U+FF5E, cp932's wave dash
      {"№∵", Utf8ToSjisResult::kOk, "\x87\x82\x81\xE6"},   // of two pairs, the encoder's choice
      {"ね\xE3\x80\x9C", Utf8ToSjisResult::kNoSjisForm, "", 0x301C},  // U+301C is not cp932's
      {"a\xF0\x9F\x98\x80", Utf8ToSjisResult::kNoSjisForm, "", 0x1F600},
      {std::string("a\0b", 3), Utf8ToSjisResult::kNoSjisForm, "", 0},
      {"\x80", Utf8ToSjisResult::kInvalidUtf8, ""},
      {"\xC0\xAF", Utf8ToSjisResult::kInvalidUtf8, ""},           // overlong "/"
      {"\xE0\x80\xAF", Utf8ToSjisResult::kInvalidUtf8, ""},
      {"\xED\xA0\x80", Utf8ToSjisResult::kInvalidUtf8, ""},      // a surrogate
      {"\xF4\x90\x80\x80", Utf8ToSjisResult::kInvalidUtf8, ""}, // above U+10FFFF
      {"ね\xE3\x81", Utf8ToSjisResult::kInvalidUtf8, ""},         // cut short
      {"\xE3\x81\x41", Utf8ToSjisResult::kInvalidUtf8, ""},
  };
  for (const Case& c : cases) {
    std::string sjis;
    uint32_t missing = 0xFFFFFFFF;
    const Utf8ToSjisResult result = Utf8ToSjis(c.utf8, sjis, missing);
    EXPECT_EQ(result, c.result) << ::testing::PrintToString(c.utf8);
    if (result == Utf8ToSjisResult::kOk) {
      EXPECT_EQ(sjis, c.sjis) << ::testing::PrintToString(c.utf8);
    }
    if (result == Utf8ToSjisResult::kNoSjisForm) {
      EXPECT_EQ(missing, c.missing) << ::testing::PrintToString(c.utf8);
    }
  }
}

TEST(Utf8ToSjisTest, EveryShiftJisCharacterComesBackAsItReads) {
  for (int first = 1; first < 0x100; ++first) {
    for (int second = 0x40; second < 0x100; ++second) {
      const std::string sjis = first < 0x81 || (first >= 0xA1 && first < 0xE0)
                                   ? std::string(1, static_cast<char>(first))
                                   : std::string{static_cast<char>(first), static_cast<char>(second)};
      std::string utf8, back, again;
      if (!SjisToUtf8(sjis, utf8)) continue;
      uint32_t missing = 0;
      ASSERT_EQ(Utf8ToSjis(utf8, back, missing), Utf8ToSjisResult::kOk) << ::testing::PrintToString(sjis);
      ASSERT_TRUE(SjisToUtf8(back, again));
      EXPECT_EQ(again, utf8) << ::testing::PrintToString(sjis);
    }
  }
}

}  // namespace
}  // namespace shelfra
