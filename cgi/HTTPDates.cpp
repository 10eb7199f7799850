#include "cgi/HTTPDates.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "runtime/Dates.h"
#include "runtime/Text.h"

namespace {

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FormatHTTPDate(double dateTime) {
  // Rounded to the millisecond, as a date-time is stored.
  int64_t ms = static_cast<int64_t>(std::llround(dateTime * double(kMillisecondsPerDay)));
  int64_t day =
      ms >= 0 ? ms / kMillisecondsPerDay : -((-ms + kMillisecondsPerDay - 1) / kMillisecondsPerDay);
  int64_t msOfDay = ms - day * kMillisecondsPerDay;
  const TCivilDate date = CivilFromDays(UnixDaysFromDayNumber(day));
  int dow = static_cast<int>(((day + 6) % 7 + 7) % 7);  // day 0 was a Saturday
  constexpr int64_t kSecondsPerHour = 3600;
  int64_t secs = msOfDay / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02u %s %04lld %02lld:%02lld:%02lld GMT", kDayNames[dow],
                date.Day, kMonthNames[date.Month - 1], static_cast<long long>(date.Year),
                static_cast<long long>(secs / kSecondsPerHour),
                static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  return buf;
}

bool ParseHTTPDate(const std::string& text, double& dateTime) {
  char dayName[16] = {}, month[4] = {};
  int d = 0, y = 0, hh = 0, mm = 0, ss = 0;
  int consumed = 0;
  bool ok = false;
  // "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
  // "Sun Nov  6 08:49:37 1994".
  if (std::sscanf(text.c_str(), "%15[A-Za-z], %2d %3s %4d %2d:%2d:%2d GMT%n", dayName, &d, month,
                  &y, &hh, &mm, &ss, &consumed) == 7 &&
      consumed == static_cast<int>(text.size())) {
    ok = true;
  } else if (std::sscanf(text.c_str(), "%15[A-Za-z], %2d-%3s-%2d %2d:%2d:%2d GMT%n", dayName, &d,
                         month, &y, &hh, &mm, &ss, &consumed) == 7 &&
             consumed == static_cast<int>(text.size())) {
    // Two-digit years: 70 to 99 are 1970 to 1999, 00 to 69 are 2000 to 2069.
    constexpr int kTwoDigitYearPivot = 70;
    y += y < kTwoDigitYearPivot ? 2000 : 1900;
    ok = true;
  } else if (std::sscanf(text.c_str(), "%15[A-Za-z] %3s %2d %2d:%2d:%2d %4d%n", dayName, month, &d,
                         &hh, &mm, &ss, &y, &consumed) == 7 &&
             consumed == static_cast<int>(text.size())) {
    ok = true;
  }
  if (!ok) return false;
  int mon = -1;
  for (int i = 0; i < 12; ++i)
    if (SameText(month, kMonthNames[i])) mon = i + 1;
  if (mon < 0 || !IsValidCivilDate(y, mon, d)) return false;
  if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59) return false;
  int64_t day =
      DayNumberFromUnixDays(DaysFromCivil(y, static_cast<unsigned>(mon), static_cast<unsigned>(d)));
  dateTime =
      static_cast<double>(day) + (hh * 3600 + mm * 60 + ss) / static_cast<double>(kSecondsPerDay);
  return true;
}
