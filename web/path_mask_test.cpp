#include "web/path_mask.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"

namespace shelfra {
namespace {

TEST(PathMaskTest, MatchesTheWholePath) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  } cases[] = {
      {"/list", "/list", true},      {"/list", "/LIST", true},    {"/list", "/list/", false},
      {"/Detail", "/detail", true},  {"/Detail", "/Detail/x", false}, {"", "", true},
      {"", "/", false},              {"/a*", "/a", true},         {"/a*", "/abc/d", true},
      {"*/x", "/a/b/x", true},       {"/a?c", "/abc", true},      {"/a?c", "/ac", false},
      {"/a*?", "/a", true},          {"/[a-c]x", "/Bx", true},    {"/[a-c]x", "/dx", false},
      {"/[!a-c]x", "/dx", true},     {"/[!a-c]x", "/ax", false},  {"/*.gif", "/img/a.GIF", true},
      // A double-byte character matches its two bytes exactly: no case folding of the second.
      {"/\x83\x61", "/\x83\x61", true}, {"/\x83\x61", "/\x83\x41", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathMask(c.pattern).Matches(c.path), c.matches) << c.pattern << " vs " << c.path;
  }
}

TEST(PathMaskTest, MalformedSetsRaise) {
  EXPECT_THROW(PathMask("/[abc"), Exception);
  EXPECT_THROW(PathMask("/[-z]"), Exception);
}

}  // namespace
}  // namespace shelfra
