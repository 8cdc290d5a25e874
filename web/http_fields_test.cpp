#include "web/http_fields.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/exceptions.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

std::vector<std::string> Split(std::string_view seps, std::string_view white, std::string_view text, bool decode,
                               bool remove_quotes) {
  TStrings list;
  SplitFields(seps, white, text, list, decode, remove_quotes);
  return std::vector<std::string>(list.begin(), list.end());
}

using V = std::vector<std::string>;

TEST(SplitFieldsTest, QueryStringEntries) {
  struct Case {
    std::string text;
    V expected;
  } cases[] = {
      {"title1=&title2=abc", {"title1=", "title2=abc"}},
      {"a=1&&a=2&", {"a=1", "a=2"}},
      {"\"a&b\"&c=1", {"a&b", "c=1"}},  // a leading quote groups and is dropped
      {"x=\"a&b\"&c", {"x=\"a&b\"", "c"}},  // a later quote stays; the byte after it ends the entry
      {"x=\"a&b\"zc=1", {"x=\"a&b\"", "c=1"}},
      {"a\r\nb", {"a", "b"}},
      {"x=\"open", {"x=\"open"}},  // an unclosed quote takes the rest
      {std::string("a=1\0b=2", 7), {"a=1"}},  // a zero byte ends the text
      {"", {}},
      {"x=%2B+y&y=100%25&z=%%41", {"x=+ y", "y=100%", "z=%41"}},
      {"%3D=v", {"==v"}},  // decoding comes before any name/value split
  };
  for (const Case& c : cases) EXPECT_EQ(Split("&", "", c.text, true, false), c.expected) << c.text;
}

TEST(SplitFieldsTest, TagParameterEntries) {
  struct Case {
    std::string text;
    bool strip;
    V expected;
  } cases[] = {
      {"src=\"a b.gif\" alt=x", true, {"src=a b.gif", "alt=x"}},
      {"src=\"a b.gif\" alt=x", false, {"src=\"a b.gif\"", "alt=x"}},
      {"a='x y'", true, {"a=x", "y"}},
      {"q=a+b%21", true, {"q=a b!"}},
      {"a=\"b\"c d", true, {"a=b", "d"}},
      {"a\tb c", true, {"a\tb", "c"}},  // a tab does not separate
  };
  for (const Case& c : cases) EXPECT_EQ(Split(" ", " ", c.text, true, c.strip), c.expected) << c.text;
}

TEST(DecodeEscapesTest, DecodesBytesAndRejectsMalformedEscapes) {
  EXPECT_EQ(DecodeEscapes("%e6%96%87"), "\xE6\x96\x87");
  EXPECT_EQ(DecodeEscapes("%82%C1"), "\x82\xC1");
  EXPECT_EQ(DecodeEscapes("a+b"), "a b");
  struct Case {
    const char* text;
    const char* shown;
  } bad[] = {{"x=%4G", "$4G"}, {"%", "$"}, {"%4", "$4"}, {"%G1", "$G1"}};
  for (const Case& c : bad) {
    try {
      DecodeEscapes(c.text);
      ADD_FAILURE() << c.text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), testing::Sjis(std::string("'") + c.shown + "' は整数ではありません")) << c.text;
    }
  }
}

}  // namespace
}  // namespace shelfra
