// CRC-32C: the standard check value, continuation, and the processor's instruction against
// the table on the same bytes.
#include "engine/crc32c.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace shelfra {
namespace {

TEST(Crc32cTest, KnownValuesByEitherPath) {
  struct Case {
    std::string input;
    uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"123456789", 0xE3069283u},                  // the standard check value
      {std::string(32, '\0'), 0x8A9136AAu},         // 32 zero bytes (RFC 3720, B.4)
      {std::string(32, '\xFF'), 0x62A8AB43u},       // 32 bytes of 0xFF (RFC 3720, B.4)
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Crc32c(c.input.data(), c.input.size()), c.crc) << c.input;
    EXPECT_EQ(Crc32cPortable(c.input.data(), c.input.size()), c.crc) << c.input;
  }
}

TEST(Crc32cTest, BothPathsAgreeAndContinueAcrossPieces) {
  // Lengths around the eight-byte steps and starts at every alignment, split at every place a
  // builder may split a block.
  std::mt19937 random(7);
  std::string bytes(1100, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  for (size_t start : {0, 1, 3, 7}) {
    for (size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 503, 504, 505, 511, 512, 1024, 1090}) {
      const char* p = bytes.data() + start;
      const uint32_t whole = Crc32cPortable(p, size);
      ASSERT_EQ(Crc32c(p, size), whole) << start << " " << size;
      const size_t half = size / 3;
      ASSERT_EQ(Crc32c(p + half, size - half, Crc32c(p, half)), whole) << start << " " << size;
      ASSERT_EQ(Crc32cPortable(p + half, size - half, Crc32cPortable(p, half)), whole) << start << " " << size;
    }
  }
}

}  // namespace
}  // namespace shelfra
