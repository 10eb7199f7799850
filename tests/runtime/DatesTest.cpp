#include "runtime/Dates.h"

#include <gtest/gtest.h>

TEST(Dates, CivilDatesAndDayCountsAgreeBothWays) {
  const struct {
    int64_t year;
    unsigned month, day;
    int64_t days;  // since 1970-01-01
  } kCases[] = {
      {1970, 1, 1, 0},     {1969, 12, 31, -1},   {1899, 12, 30, -25569}, {2000, 2, 29, 11016},
      {2000, 3, 1, 11017}, {1900, 3, 1, -25508}, {1600, 1, 1, -135140},  {2024, 12, 31, 20088},
      {1, 1, 1, -719162},  {0, 3, 1, -719468},   {-1, 12, 31, -719529},  {9999, 12, 31, 2932896},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.days, DaysFromCivil(c.year, c.month, c.day))
        << c.year << "-" << c.month << "-" << c.day;
    const TCivilDate date = CivilFromDays(c.days);
    EXPECT_EQ(c.year, date.Year) << c.days;
    EXPECT_EQ(c.month, date.Month) << c.days;
    EXPECT_EQ(c.day, date.Day) << c.days;
  }
}

TEST(Dates, DayNumbersCountFrom18991230) {
  EXPECT_EQ(0, DayNumberFromUnixDays(DaysFromCivil(1899, 12, 30)));
  EXPECT_EQ(2, DayNumberFromUnixDays(DaysFromCivil(1900, 1, 1)));
  EXPECT_EQ(25569, DayNumberFromUnixDays(0));
  EXPECT_EQ(0, UnixDaysFromDayNumber(25569));
  EXPECT_EQ(-25569, UnixDaysFromDayNumber(0));
}

TEST(Dates, ValidCivilDatesHaveTheMonthsOwnDays) {
  const struct {
    int64_t year, month, day;
    bool valid;
  } kCases[] = {
      {2026, 1, 31, true},  {2026, 2, 28, true},  {2026, 2, 29, false}, {2026, 2, 31, false},
      {2024, 2, 29, true},  {2000, 2, 29, true},  {1900, 2, 29, false}, {2026, 4, 30, true},
      {2026, 4, 31, false}, {2026, 12, 31, true}, {2026, 13, 1, false}, {2026, 0, 1, false},
      {2026, 1, 0, false},  {2026, 1, -1, false}, {-4, 2, 29, true},    {-1, 2, 29, false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.valid, IsValidCivilDate(c.year, c.month, c.day))
        << c.year << "-" << c.month << "-" << c.day;
}
