// The price form of the lists the terminals load.
#pragma once

#include <string>

namespace service {

// A price with at most two decimals: rounded half away from zero at the third
// decimal of its 18-digit decimal form, no grouping, trailing zeros dropped, "0"
// for anything that rounds to zero. Magnitudes of 1e18 and more and non-finite
// values come out with 15 significant digits.
std::string FormatPrice(double value, char decimalMark);

}  // namespace service
