// The query is read strictly: escapes and UTF-8 either decode exactly or the request is refused.
#include "opac/request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "opac/html.h"

namespace shelfra::opac {
namespace {

using Parameters = std::vector<std::pair<std::string, std::string>>;

TEST(RequestTest, QueriesDecodeExactlyOrNotAtAll) {
  struct Case {
    std::string query;
    std::optional<Parameters> parameters;
  } cases[] = {
      {"", Parameters{}},
      {"q=a+b&&title=%E3%81%AD%e3%81%93&x", Parameters{{"q", "a b"}, {"title", "ねこ"}, {"x", ""}}},
      {"q=%2B%26%3D", Parameters{{"q", "+&="}}},
      {"q=a=b", Parameters{{"q", "a=b"}}},
      {"q=%", std::nullopt},
      {"q=%4", std::nullopt},
      {"q=%G1", std::nullopt},
      {"q=%82%CB", std::nullopt},       // Shift_JIS, not UTF-8
      {"q=%C0%AF", std::nullopt},       // an overlong "/"
      {"%FF=1", std::nullopt},          // names are checked too
      {"q=ok&t=%E3%81", std::nullopt},  // cut short
  };
  for (const Case& c : cases) EXPECT_EQ(ParseQuery(c.query), c.parameters) << c.query;
  EXPECT_EQ(QueryEscape("ね a-Z_~.&"), "%E3%81%AD%20a-Z_~.%26");
}

TEST(RequestTest, AbsoluteAddressesStartWithAPlainOrigin) {
  struct Case {
    const char *https, *name, *port, *origin;
  } cases[] = {
      {"", "opac.example.org", "80", "http://opac.example.org"},
      {"on", "opac.example.org", "443", "https://opac.example.org"},
      {"1", "opac.example.org", "8443", "https://opac.example.org:8443"},
      {"off", "127.0.0.1", "8080", "http://127.0.0.1:8080"},
      {"", "[::1]", "8080", "http://[::1]:8080"},
      {"", "evil.example/\"><x", "80", "http://localhost"},
      {"", "a@b", "80", "http://localhost"},
      {"", "", "80", "http://localhost"},
      {"", "host", "80x", "http://host"},
  };
  for (const Case& c : cases) EXPECT_EQ(Origin(c.https, c.name, c.port), c.origin) << c.name;
}

TEST(RequestTest, CatalogueTextIsShownAsEscapedUtf8) {
  EXPECT_EQ(Shown("<b>\"&'\x82\xCB"), "&lt;b&gt;&quot;&amp;&#39;ね");
  EXPECT_EQ(Shown("a\x80z"), "a\xEF\xBF\xBDz");  // a byte that starts no character
  EXPECT_EQ(Shown(std::string("a\x00\x1B\x7F\tz", 6)), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\tz");
  EXPECT_EQ(NamedCharacter(0x1F600), "\xF0\x9F\x98\x80 (U+1F600)");
}

}  // namespace
}  // namespace shelfra::opac
