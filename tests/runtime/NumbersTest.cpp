#include "runtime/Numbers.h"

#include <gtest/gtest.h>

TEST(SignificantDigits, EighteenDigitsAndTheFirstDigitsPower) {
  const struct {
    double in;
    const char* digits;
    int exponent;
  } kCases[] = {
      {0.0, "000000000000000000", 0},     {1.0, "100000000000000000", 0},
      {-1.0, "100000000000000000", 0},    {12.5, "125000000000000000", 1},
      {0.001, "100000000000000002", -3},  // the double just above 1/1000
      {0.1, "100000000000000006", -1},    {123456789.0, "123456789000000000", 8},
      {1e300, "100000000000000005", 300},
  };
  for (const auto& c : kCases) {
    const TSignificantDigits r = SignificantDigits(c.in);
    EXPECT_EQ(c.digits, r.Digits) << c.in;
    EXPECT_EQ(c.exponent, r.Exponent) << c.in;
  }
}

TEST(IncrementDigits, CarriesAndReportsACarryOutOfTheFirstDigit) {
  const struct {
    const char* in;
    const char* out;
    bool carry;
  } kCases[] = {{"0", "1", false},     {"8", "9", false},     {"9", "0", true},
                {"129", "130", false}, {"199", "200", false}, {"999", "000", true},
                {"", "", true}};
  for (const auto& c : kCases) {
    std::string digits = c.in;
    EXPECT_EQ(c.carry, IncrementDigits(digits)) << c.in;
    EXPECT_EQ(c.out, digits) << c.in;
  }
}
