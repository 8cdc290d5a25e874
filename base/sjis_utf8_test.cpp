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

}  // namespace
}  // namespace shelfra
