#include "service/Prices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using service::FormatPrice;

TEST(FormatPrice, Examples) {
  const struct {
    double value;
    const char* text;
  } kCases[] = {{12.5, "12.5"},
                {12, "12"},
                {0.125, "0.13"},
                {0.004, "0"},
                {-0.004, "0"},
                {-3.456, "-3.46"},
                {1234.5, "1234.5"},
                {0.1, "0.1"},
                {2.675, "2.67"},
                {99.999, "100"},
                {100, "100"},
                {0.5, "0.5"},
                {0, "0"},
                {-0.0, "0"},
                {0.005, "0.01"},
                {-0.005, "-0.01"},
                {1.005, "1"},
                {9.995, "9.99"},
                {0.995, "0.99"},
                {-99.995, "-100"},
                {1e-300, "0"},
                {123456789012345.67, "123456789012345.67"},
                {2147483648.5, "2147483648.5"},
                {390, "390"},
                {0.64, "0.64"}};
  for (const auto& c : kCases) EXPECT_EQ(c.text, FormatPrice(c.value, '.')) << c.value;
}

TEST(FormatPrice, UsesTheDecimalMark) {
  EXPECT_EQ("0,5", FormatPrice(0.5, ','));
  EXPECT_EQ("-1,25", FormatPrice(-1.25, ','));
  EXPECT_EQ("7", FormatPrice(7, ','));
}

TEST(FormatPrice, OutsideThePattern) {
  EXPECT_EQ("1e+18", FormatPrice(1e18, '.'));
  EXPECT_EQ("-2.5e+20", FormatPrice(-2.5e20, '.'));
  EXPECT_EQ("inf", FormatPrice(std::numeric_limits<double>::infinity(), '.'));
}
