// XML escaping and RFC 3339 dates.
#include "opac/xml.h"

#include <gtest/gtest.h>

namespace shelfra::opac {
namespace {

TEST(XmlEscapeTest, MarkupIsReferencedAndWhatXmlForbidsBecomesTheReplacementCharacter) {
  struct Case {
    std::string_view input, output;
  } cases[] = {
      {"<a href=\"x\">&'</a>", "&lt;a href=&quot;x&quot;&gt;&amp;&apos;&lt;/a&gt;"},
      {"a\tb\nc\rd", "a&#9;b&#10;c&#13;d"},
      {std::string_view("\x00\x01\x1F\x7F", 4), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      // U+FFFE and U+FFFF are no XML characters; U+FFFD and U+FFFC are.
      {"\xEF\xBF\xBE\xEF\xBF\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xEF\xBF\xBD\xEF\xBF\xBC\xE3\x81\xAD", "\xEF\xBF\xBD\xEF\xBF\xBC\xE3\x81\xAD"},
      {"\xE3\x81\xAD\xF0\x9F\x98\x80", "\xE3\x81\xAD\xF0\x9F\x98\x80"},  // kept
      {std::string_view("n\0l", 3), "n\xEF\xBF\xBDl"},
      {"\xFF\xE3\x81", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // no UTF-8
      {"\xEF\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // a truncated sequence: no UTF-8, each byte replaced
      {"\xC2\x85", "\xEF\xBF\xBD"},                 // U+0085, a control XML readers choke on
  };
  for (const Case& c : cases) EXPECT_EQ(XmlEscape(c.input), c.output) << c.input;
}

TEST(Rfc3339Test, WritesUtcWithPaddedFields) {
  EXPECT_EQ(Rfc3339(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(Rfc3339(784111777), "1994-11-06T08:49:37Z");
  EXPECT_EQ(Rfc3339(253402300799), "9999-12-31T23:59:59Z");
}

}  // namespace
}  // namespace shelfra::opac
