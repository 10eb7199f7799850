#include "runtime/LogLine.h"

#include <gtest/gtest.h>

TEST(LogLine, UtcTimes) {
  const struct {
    int64_t seconds;
    const char* text;
  } kCases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},  // a leap day of a century's leap year
      {1801739045, "2027-02-04T11:04:05Z"},
      {1796839445, "2026-12-09T18:04:05Z"},
      {4107542399, "2100-02-28T23:59:59Z"},  // 2100 is no leap year
      {4107542400, "2100-03-01T00:00:00Z"},
      {-1, "1969-12-31T23:59:59Z"},
  };
  for (const auto& c : kCases) EXPECT_EQ(FormatUtcTime(c.seconds), c.text) << c.seconds;
}

TEST(LogLine, OneLineWithTimeCommandAndText) {
  EXPECT_EQ(FormatLogLine(1796839445, "getsprfood", "warning: two settings files"),
            "2026-12-09T18:04:05Z getsprfood: warning: two settings files\n");
  EXPECT_EQ(FormatLogLine(0, "", "text"), "1970-01-01T00:00:00Z -: text\n");
  // Request bytes can neither end the line nor start a forged one.
  EXPECT_EQ(FormatLogLine(0, "a\nb", "x\r\n1970-01-01T00:00:00Z addorder: ok\x7F"),
            "1970-01-01T00:00:00Z a\\x0Ab: x\\x0D\\x0A1970-01-01T00:00:00Z addorder: ok\\x7F\n");
  // Windows-1251 bytes stay as they are.
  EXPECT_EQ(FormatLogLine(0, "addorder", "\xCF\xF0\xE8"),
            "1970-01-01T00:00:00Z addorder: \xCF\xF0\xE8\n");
}
