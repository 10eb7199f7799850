#include "cgi/HTTPDates.h"

#include <gtest/gtest.h>

namespace {

TEST(HTTPDate, FormatAndParse) {
  EXPECT_EQ("Sat, 30 Dec 1899 00:00:00 GMT", FormatHTTPDate(0.0));
  EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", FormatHTTPDate(34644.0 + 31777.0 / 86400.0));
  for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                           "Sun Nov  6 08:49:37 1994"}) {
    double d = 0;
    ASSERT_TRUE(ParseHTTPDate(text, d)) << text;
    EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", FormatHTTPDate(d)) << text;
  }
  double d;
  EXPECT_FALSE(ParseHTTPDate("yesterday", d));
}

TEST(HTTPDate, RefusesDatesAndTimesTheCalendarLacks) {
  double d = 0;
  EXPECT_TRUE(ParseHTTPDate("Thu, 29 Feb 2024 00:00:00 GMT", d));
  for (const char* text : {"Sat, 31 Feb 2026 08:49:37 GMT", "Sun, 29 Feb 1900 08:49:37 GMT",
                           "Thu, 31-Apr-26 08:49:37 GMT", "Sun Feb 30 08:49:37 2026",
                           "Sun, 06 Nov 1994 -1:49:37 GMT", "Sun, 06 Nov 1994 08:-4:37 GMT"})
    EXPECT_FALSE(ParseHTTPDate(text, d)) << text;
}

}  // namespace
