// The one form of every line the program writes to standard error, which the web
// server keeps in its error log:
//
//   2026-12-09T18:04:05Z getsprfood: warning: several settings files ...
//
// the UTC time to the second, the command that was running ("-" when none), a
// colon, and the text. A line is always one line: control bytes (below 0x20, and
// 0x7F) in the command or the text go out as "\xHH", so a request's own bytes
// can neither break the line nor forge another.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "YYYY-MM-DDTHH:MM:SSZ" for seconds since 1970-01-01 00:00:00 UTC.
std::string FormatUtcTime(int64_t unixSeconds);
// The whole line, ending in LF.
std::string FormatLogLine(int64_t unixSeconds, std::string_view command, std::string_view text);
