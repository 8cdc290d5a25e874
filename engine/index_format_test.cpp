// The index file's codings: LEB128 varints at their length boundaries, a truncated or
// overlong varint refused, and the posting cursor over delta-coded record lists.
#include "engine/index_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace shelfra {
namespace {

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(IndexFormatTest, VarintsRoundTripAtTheirLengthBoundaries) {
  struct Case {
    uint32_t value;
    size_t length;
  };
  const Case cases[] = {{0, 1}, {127, 1}, {128, 2}, {16383, 2}, {16384, 3}, {2097151, 3}, {2097152, 4},
                        {268435455, 4}, {268435456, 5}, {0xFFFFFFFFu, 5}};
  for (const Case& c : cases) {
    std::string coded;
    AppendVarint(c.value, coded);
    EXPECT_EQ(coded.size(), c.length) << c.value;
    uint32_t value = 1;
    EXPECT_EQ(DecodeVarint(Bytes(coded), Bytes(coded) + coded.size(), value), Bytes(coded) + coded.size()) << c.value;
    EXPECT_EQ(value, c.value);
    // Every shorter prefix ends inside the value: refused.
    for (size_t cut = 0; cut < coded.size(); ++cut) {
      EXPECT_EQ(DecodeVarint(Bytes(coded), Bytes(coded) + cut, value), nullptr) << c.value << " cut at " << cut;
    }
  }
  const std::string overlong("\x80\x80\x80\x80\x80\x01", 6);  // a sixth byte: no uint32
  uint32_t value = 0;
  EXPECT_EQ(DecodeVarint(Bytes(overlong), Bytes(overlong) + overlong.size(), value), nullptr);
}

// The values a cursor yields over `list` (delta-coded) of `count` records.
std::vector<uint32_t> Walk(const std::string& list, uint32_t count, uint32_t skip_to = 0) {
  std::vector<uint32_t> out;
  PostingCursor cursor(Bytes(list), Bytes(list) + list.size(), count);
  cursor.SkipTo(skip_to);
  for (; !cursor.Done(); cursor.Advance()) out.push_back(cursor.Value());
  return out;
}

TEST(IndexFormatTest, PostingCursorWalksSkipsAndStopsAtACutList) {
  const std::vector<uint32_t> records = {0, 5, 127, 128, 16511, 16512, 0xFFFFFFF0u};
  std::string list;
  for (size_t k = 0; k < records.size(); ++k) AppendVarint(k == 0 ? records[k] : records[k] - records[k - 1], list);
  const uint32_t n = static_cast<uint32_t>(records.size());
  EXPECT_EQ(Walk(list, n), records);
  EXPECT_EQ(Walk(list, 3), std::vector<uint32_t>(records.begin(), records.begin() + 3));  // stops at its count
  EXPECT_EQ(Walk(list, n, 128), std::vector<uint32_t>(records.begin() + 3, records.end()));
  EXPECT_EQ(Walk(list, n, 129), std::vector<uint32_t>(records.begin() + 4, records.end()));
  EXPECT_TRUE(Walk(list, n, 0xFFFFFFFFu).empty());
  EXPECT_TRUE(Walk(list, 0).empty());
  // A list cut inside its last value yields the whole values before it, and nothing made up.
  EXPECT_EQ(Walk(list.substr(0, list.size() - 1), n), std::vector<uint32_t>(records.begin(), records.end() - 1));
}

}  // namespace
}  // namespace shelfra
