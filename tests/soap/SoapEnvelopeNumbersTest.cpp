#include "soap/SoapEnvelopeNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "soap/SoapEnvelope.h"
#include "tests/soap/SoapEnvelopeHarness.h"
#include "tests/support/ExpectThrow.h"

TEST(SoapRead, Doubles) {
  const struct {
    const char* in;
    double out;
  } kCases[] = {
      {"1.5", 1.5},      {" -2.25\n", -2.25},
      {"1e3", 1000},     {"+7", 7},
      {"0", 0},          {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"INF", HUGE_VAL}, {"-INF", -HUGE_VAL},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.out, ReadDouble(c.in)) << c.in;
  EXPECT_TRUE(std::isnan(ReadDouble("NaN")));
}

TEST(SoapRead, RefusesWhatIsNoDouble) {
  const struct {
    const char* in;
    const char* message;
  } kCases[] = {
      {"", "Value: '' is not a valid double"},
      {"1,5", "Value: '1,5' is not a valid double"},
      {"1.5x", "Value: '1.5x' is not a valid double"},
      {"+-1", "Value: '+-1' is not a valid double"},
      {"inf", "Value: 'inf' is not a valid double"},
      {"1e999", "Value: '1e999' is not a valid double"},
  };
  for (const auto& c : kCases) {
    EXPECT_TRUE(ThrowsExactly<ESoapReadError>([&] { ReadDouble(c.in); },
                                              std::string("ESoapReadError: ") + c.message))
        << c.in;
  }
}

TEST(SoapWrite, FloatTextsReadBackExactly) {
  const struct {
    double in;
    const char* out;
  } kCases[] = {
      {0.1, "0.1"},      {-0.0, "-0"},        {1e21, "1e+21"},       {123.456, "123.456"},
      {HUGE_VAL, "INF"}, {-HUGE_VAL, "-INF"}, {std::nan(""), "NaN"}, {5e-324, "5e-324"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.out, SoapFloatToStr(c.in)) << c.in;
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> dist(-1e12, 1e12);
  for (int i = 0; i < 1000; ++i) {
    double d = dist(rng) / (1 + i);
    EXPECT_EQ(d, ReadDouble(SoapFloatToStr(d)));
  }
}
