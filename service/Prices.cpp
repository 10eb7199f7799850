#include "service/Prices.h"

#include <cmath>
#include <cstdio>

#include "runtime/Numbers.h"

namespace service {

std::string FormatPrice(double value, char decimalMark) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e18) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string text = buf;
    for (char& c : text)
      if (c == '.') c = decimalMark;
    return text;
  }

  const TSignificantDigits significant = SignificantDigits(value);
  const std::string& digits = significant.Digits;
  const int exp = significant.Exponent;

  // Integer digits and at least three decimals.
  std::string intPart, frac;
  if (exp >= 0) {
    intPart = digits.substr(0, exp + 1);
    frac = digits.substr(exp + 1);
  } else {
    intPart = "0";
    frac = std::string(-exp - 1, '0') + digits;
  }
  if (frac.size() < 3) frac.append(3 - frac.size(), '0');

  // Hundredths as one decimal string, rounded up when the third decimal is 5 or more.
  std::string kept = intPart + frac.substr(0, 2);
  if (frac[2] >= '5' && IncrementDigits(kept)) kept.insert(kept.begin(), '1');
  if (kept.find_first_not_of('0') == std::string::npos) return "0";

  std::string whole = kept.substr(0, kept.size() - 2);
  std::string decimals = kept.substr(kept.size() - 2);
  const size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "0" : whole.substr(first);
  while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();

  std::string text = value < 0 ? "-" : "";
  text += whole;
  if (!decimals.empty()) {
    text += decimalMark;
    text += decimals;
  }
  return text;
}

}  // namespace service
