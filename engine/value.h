// The engine's field types and the raw value of one field, and the day numbers dates are
// counted in.
#pragma once

#include <cstdint>
#include <string_view>

namespace shelfra {

enum class TFieldType { ftUnknown, ftString, ftSmallint, ftInteger, ftFloat, ftDate, ftBoolean, ftMemo, ftDateTime };

// The raw value of one field of a record, as the engine hands it over. `text` points into the
// record's bytes and stays valid as long as they do.
struct TFieldValue {
  bool is_null = true;
  std::string_view text;  // ftString, ftMemo, ftUnknown: the bytes
  double number = 0;      // ftFloat, ftSmallint, ftInteger (not-a-number only from a stored double)
  int32_t date = 0;       // ftDate, ftDateTime: a day number (DayNumber)
  int32_t time = 0;       // ftDateTime: milliseconds since midnight, 0 to 86399999
  bool flag = false;      // ftBoolean
};

// Days since 0001-01-01 of a proleptic Gregorian date, that day counting as 1. Any year,
// month 1 to 12 and day 1 to 31 give a number (a day past the month's end runs on into the
// next month); only real dates come back from DayNumberToDate.
int32_t DayNumber(int year, int month, int day);
// The date of `day_number`: the inverse of DayNumber for every number of the int32 range.
void DayNumberToDate(int32_t day_number, int& year, int& month, int& day);
// Days in `month` (1 to 12) of `year`.
int DaysInMonth(int year, int month);

}  // namespace shelfra
