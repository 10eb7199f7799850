#include "runtime/LogLine.h"

#include <cstdio>

namespace {

// Days since 1970-01-01 to the civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yearOfEra + era * 400 + (month <= 2);
}

void AppendOneLine(std::string& out, std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
}

}  // namespace

std::string FormatUtcTime(int64_t unixSeconds) {
  int64_t days = unixSeconds / 86400;
  int64_t rest = unixSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year = 0;
  int month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(year),
                month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return buf;
}

std::string FormatLogLine(int64_t unixSeconds, std::string_view command, std::string_view text) {
  std::string line = FormatUtcTime(unixSeconds);
  line += ' ';
  if (command.empty())
    line += '-';
  else
    AppendOneLine(line, command);
  line += ": ";
  AppendOneLine(line, text);
  line += '\n';
  return line;
}
