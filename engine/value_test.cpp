#include "engine/value.h"

#include <gtest/gtest.h>

#include <tuple>

namespace shelfra {
namespace {

TEST(DayNumberTest, KnownDaysAndRoundTrips) {
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayNumber(1899, 12, 30), 693594);  // 0.0 of the usual date-time count
  EXPECT_EQ(DayNumber(2004, 3, 15), 693594 + 38061);
  EXPECT_EQ(DayNumber(2000, 3, 1) - DayNumber(2000, 2, 28), 2);
  EXPECT_EQ(DayNumber(1900, 3, 1) - DayNumber(1900, 2, 28), 1);  // 1900 is no leap year
  for (auto [y, m, d] : {std::tuple{2004, 3, 15}, {2000, 2, 29}, {1900, 3, 1}, {9999, 12, 31}, {1, 12, 31}}) {
    int yy = 0, mm = 0, dd = 0;
    DayNumberToDate(DayNumber(y, m, d), yy, mm, dd);
    EXPECT_EQ(std::tuple(yy, mm, dd), std::tuple(y, m, d)) << y << "-" << m << "-" << d;
  }
}

}  // namespace
}  // namespace shelfra
