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

}  // namespace
