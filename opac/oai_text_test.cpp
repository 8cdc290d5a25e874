// The harvesting interface's texts: datestamp arguments are read exactly, tokens read back
// only what was written (the escaping is opac/xml's, tested there).
#include "opac/oai_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace shelfra::opac {
namespace {

TEST(OaiTextTest, DatestampArgumentsAreADayOrASecondAndNothingElse) {
  struct Case {
    std::string text;
    std::optional<std::time_t> first, last;
  } cases[] = {
      {"2026-12-01", 1796083200, 1796169599},
      {"2026-12-01T09:30:05Z", 1796117405, 1796117405},
      {"2024-02-29", 1709164800, 1709251199},  // a leap day
      {"1969-12-31T23:59:59Z", -1, -1},
      {"2023-02-29", std::nullopt, std::nullopt},
      {"2026-13-01", std::nullopt, std::nullopt},
      {"2026-12-01T24:00:00Z", std::nullopt, std::nullopt},
      {"2026-12-01T09:30:60Z", std::nullopt, std::nullopt},
      {"2026-12-01T09:30:05", std::nullopt, std::nullopt},  // no Z
      {"2026-12-01T09:30Z", std::nullopt, std::nullopt},    // minutes granularity
      {"2026-12-1", std::nullopt, std::nullopt},
      {"+026-12-01", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<UtcArgument> argument = ParseUtcArgument(c.text);
    ASSERT_EQ(argument.has_value(), c.first.has_value()) << c.text;
    if (!argument) continue;
    EXPECT_EQ(argument->first, *c.first) << c.text;
    EXPECT_EQ(argument->last, *c.last) << c.text;
    EXPECT_EQ(argument->day, c.text.size() == 10) << c.text;
  }
  EXPECT_EQ(UtcDatestamp(1796117405), "2026-12-01T09:30:05Z");
}

TEST(OaiTextTest, TokensReadBackAsWrittenAndNothingElseReads) {
  ListToken token;
  token.tag = "0123456789abcdef";
  token.prefix = "oai_dc";
  token.set = 9;
  token.until = -86400;
  token.record = 1234;
  token.cursor = 100;
  token.size = 5000;
  const std::string text = TokenText(token);
  EXPECT_EQ(text, "0123456789abcdef.oai_dc.class9..-86400.1234.100.5000");
  const std::optional<ListToken> read = ParseToken(text);
  ASSERT_TRUE(read);
  EXPECT_EQ(TokenText(*read), text);
  EXPECT_EQ(read->set, 9);
  EXPECT_FALSE(read->from);
  for (const char* bad : {"", "0123456789abcdef.oai_dc.class9..-86400.1234.100",
                          "0123456789abcdef.oai_dc.class9..-86400.1234.100.5000.1",
                          "0123456789ABCDEF.oai_dc...1.0.1", "0123456789abcde.oai_dc...1.0.1",
                          "0123456789abcdef.oai_dc.class10...1.0.1", "0123456789abcdef.oai_dc.set9...1.0.1",
                          "0123456789abcdef.oai_dc...01.0.1", "0123456789abcdef.oai_dc...-1.0.1",
                          "0123456789abcdef.oai_dc...+1.0.1", "0123456789abcdef.oai_dc...1.0.99999999999999999999",
                          "0123456789abcdef.oai<dc...1.0.1", "0123456789abcdef....1.0.1"}) {
    EXPECT_FALSE(ParseToken(bad)) << bad;
  }
}

TEST(OaiTextTest, IdentifiersSetsAndHeadingsHaveOneSpellingEach) {
  EXPECT_EQ(ItemIdentifier("lib.example.jp", 42), "oai:lib.example.jp:42");
  struct Case {
    std::string identifier;
    std::optional<int32_t> number;
  } cases[] = {
      {"oai:lib.example.jp:42", 42},       {"oai:lib.example.jp:2147483647", 2147483647},
      {"oai:lib.example.jp:042", {}},      {"oai:lib.example.jp:0", {}},
      {"oai:lib.example.jp:2147483648", {}}, {"oai:lib.example.jp:4x", {}},
      {"oai:lib.example.jp:-4", {}},
      {"oai:lib.example.jp:", {}},         {"oai:lib.example.jpx:42", {}},
      {"oai:other.jp:42", {}},             {"OAI:lib.example.jp:42", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberOfIdentifier(c.identifier, "lib.example.jp"), c.number) << c.identifier;
  EXPECT_EQ(ClassOfSet("class0"), 0);
  EXPECT_FALSE(ClassOfSet("class"));
  EXPECT_FALSE(ClassOfSet("class01"));
  EXPECT_EQ(ClassDigit("913.6"), 9);
  EXPECT_FALSE(ClassDigit("\xEF\xBC\x99"));  // a full-width 9 is no class digit, as in the list's counts
  for (const char* name : {"lib.example.jp", "a1.b-c.jp"}) EXPECT_TRUE(DomainIdentifier(name)) << name;
  for (const char* name : {"localhost", "127.0.0.1", "lib..jp", "1lib.jp", "lib.jp.", "lib_x.jp"}) {
    EXPECT_FALSE(DomainIdentifier(name)) << name;
  }
  EXPECT_EQ(SubjectHeadings(" 素粒子;宇宙 \xEF\xBC\x9B\xE3\x80\x80日本-歴史 ;; "),
            (std::vector<std::string>{"素粒子", "宇宙", "日本-歴史"}));
}

}  // namespace
}  // namespace shelfra::opac
