// Test helper: byte-exact comparison with a readable report of the first difference.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

namespace shelfra::testing {

// Passes when the two byte strings are equal; otherwise reports the offset of the first
// difference, the line it falls on, and both sides around it, with CR and LF made visible
// and Shift_JIS shown as UTF-8.
::testing::AssertionResult BytesEqual(std::string_view expected, std::string_view actual);

}  // namespace shelfra::testing

#define EXPECT_BYTES_EQ(expected, actual) EXPECT_TRUE(::shelfra::testing::BytesEqual((expected), (actual)))
#define ASSERT_BYTES_EQ(expected, actual) ASSERT_TRUE(::shelfra::testing::BytesEqual((expected), (actual)))
