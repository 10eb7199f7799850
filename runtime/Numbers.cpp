#include "runtime/Numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

TSignificantDigits SignificantDigits(double value) {
  // "%.17e" gives d.ddddddddddddddddde[+-]xx: one digit, a point, 17 digits.
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*e", kSignificantDigits - 1, std::fabs(value));
  TSignificantDigits result;
  result.Digits.reserve(kSignificantDigits);
  result.Digits += buf[0];
  result.Digits.append(buf + 2, kSignificantDigits - 1);
  result.Exponent = std::atoi(buf + 2 + (kSignificantDigits - 1) + 1);
  return result;
}

bool IncrementDigits(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  return true;
}
