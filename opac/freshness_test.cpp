// The 304 rule and HTTP dates.
#include "opac/freshness.h"

#include <gtest/gtest.h>

namespace shelfra::opac {
namespace {

TEST(FreshnessTest, NotModifiedWhenTheRequestNamesTheTagOrADateNotBeforeTheChange) {
  const Validators v{"\"00ab\"", 784111777};  // Sun, 06 Nov 1994 08:49:37 GMT
  struct Case {
    std::string_view if_none_match, if_modified_since;
    bool not_modified;
  } cases[] = {
      {"\"00ab\"", "", true},
      {"W/\"00ab\"", "", true},
      {"\"x\", \"00ab\"", "", true},
      {"*", "", true},
      {"\"00ac\"", "", false},
      {"00ab", "", false},
      // A tag that does not match wins over a date that would.
      {"\"00ac\"", "Sun, 06 Nov 1994 08:49:37 GMT", false},
      {"", "Sun, 06 Nov 1994 08:49:37 GMT", true},
      {"", "Sun, 06 Nov 1994 08:49:38 GMT", true},
      {"", "Sun, 06 Nov 1994 08:49:36 GMT", false},
      {"", "Sunday, 06-Nov-94 08:49:37 GMT", false},
      {"", "Sun, 06 Nov 1994 08:49:37 UTC", false},
      {"", "Sun, 06 Xyz 1994 08:49:37 GMT", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NotModified(v, c.if_none_match, c.if_modified_since), c.not_modified)
        << c.if_none_match << " | " << c.if_modified_since;
  }
}

TEST(FreshnessTest, HttpDateReadsBackWhatItWrites) {
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseHttpDate(HttpDate(1798761600)), 1798761600);
}

}  // namespace
}  // namespace shelfra::opac
