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

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// "YYYY-MM-DDTHH:MM:SSZ" for seconds since 1970-01-01 00:00:00 UTC.
std::string FormatUtcTime(int64_t unixSeconds);
// The whole line, ending in LF.
std::string FormatLogLine(int64_t unixSeconds, std::string_view command, std::string_view text);

// Appends text with every control byte (below 0x20, and 0x7F) as "\xHH", as a
// log line carries it.
void AppendEscapedControls(std::string& out, std::string_view text);
std::string EscapeControls(std::string_view text);

// The widest field of the operator's listings, in bytes of the stored text.
inline constexpr size_t kListingFieldWidth = 64;
// A stored Windows-1251 text as one field of a listing: at most width bytes of
// it, in UTF-8 with control bytes escaped; a longer text is cut and followed by
// "...[N bytes]", its whole length.
std::string ListingField(std::string_view cp1251, size_t width = kListingFieldWidth);
