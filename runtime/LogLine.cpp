#include "runtime/LogLine.h"

#include <cstdio>

#include "runtime/Dates.h"
#include "runtime/Text.h"

void AppendEscapedControls(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (IsControlByte(c)) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  AppendEscapedControls(out, text);
  return out;
}

std::string ListingField(std::string_view cp1251, size_t width) {
  // The code page has one byte a character: a cut never splits one.
  std::string out;
  AppendEscapedControls(out, Cp1251ToUtf8(cp1251.substr(0, width)));
  if (cp1251.size() > width)
    out += "...[" + IntToStr(static_cast<int64_t>(cp1251.size())) + " bytes]";
  return out;
}

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
    AppendEscapedControls(line, command);
  line += ": ";
  AppendEscapedControls(line, text);
  line += '\n';
  return line;
}
