// Civil-date arithmetic by the proleptic Gregorian calendar, and the day numbers
// that date-time values count: whole days since 1899-12-30, the time of day as
// the fraction.
#pragma once

#include <cstdint>

struct TCivilDate {
  int64_t Year;
  unsigned Month;  // 1..12
  unsigned Day;    // 1..31
};

// Days from 1970-01-01 to the civil date (negative before it).
constexpr int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// True for a date of the calendar: month 1 to 12 and a day the month has (29
// February only in a leap year; 31 February never). Every date read from text
// passes here before it is counted.
constexpr bool IsValidCivilDate(int64_t year, int64_t month, int64_t day) {
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return day <= kDays[month - 1] + (month == 2 && leap);
}

// The civil date that lies `days` days after 1970-01-01.
constexpr TCivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2), month,
          dayOfYear - (153 * mp + 2) / 5 + 1};
}

// The day number of 1970-01-01 when days count from 1899-12-30.
constexpr int64_t kUnixEpochDay = 25569;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMillisecondsPerDay = 86400000;

// Day numbers from 1899-12-30 and days from 1970-01-01, each way.
constexpr int64_t DayNumberFromUnixDays(int64_t unixDays) { return unixDays + kUnixEpochDay; }
constexpr int64_t UnixDaysFromDayNumber(int64_t dayNumber) { return dayNumber - kUnixEpochDay; }

static_assert(DaysFromCivil(1970, 1, 1) == 0);
static_assert(DaysFromCivil(1899, 12, 30) == -kUnixEpochDay);
static_assert(CivilFromDays(-kUnixEpochDay).Year == 1899);
static_assert(IsValidCivilDate(2000, 2, 29) && !IsValidCivilDate(1900, 2, 29));
