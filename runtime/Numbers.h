// The decimal digits of a double, as the number texts terminals see are made:
// first 18 significant digits, then rounded again to what the text keeps.
#pragma once

#include <string>

// |value| = d1.d2...d18 x 10^Exponent, the 18 digits rounded to nearest.
struct TSignificantDigits {
  std::string Digits;  // 18 characters '0'..'9'
  int Exponent = 0;
};
constexpr int kSignificantDigits = 18;

// `value` must be finite.
TSignificantDigits SignificantDigits(double value);

// Adds one in the last place of a string of decimal digits. True when every digit
// was 9: they all become 0 and the carry is left for the caller to place.
bool IncrementDigits(std::string& digits);
