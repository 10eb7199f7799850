#include "runtime/LogLine.h"

#include <cstdio>

#include "runtime/Dates.h"

namespace {

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
  int64_t days = unixSeconds / kSecondsPerDay;
  int64_t rest = unixSeconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  const TCivilDate date = CivilFromDays(days);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02dZ",
                static_cast<long long>(date.Year), date.Month, date.Day,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
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
