#include "soap/SoapEnvelopeNumbers.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "soap/SoapEnvelope.h"

std::string SoapFloatToStr(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  (void)ec;
  return std::string(buf, end);
}

double SoapStrToFloat(const std::string& text, const std::string& what) {
  if (text == "INF" || text == "+INF") return HUGE_VAL;
  if (text == "-INF") return -HUGE_VAL;
  if (text == "NaN") return std::nan("");
  // Only the lexical forms of XML Schema: digits, point, exponent and signs.
  if (text.find_first_not_of("0123456789.eE+-") != std::string::npos)
    throw ESoapReadError(what + ": '" + text + "' is not a valid double");
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+' && e - b > 1 && b[1] != '-') ++b;
  double value = 0;
  auto [end, ec] = std::from_chars(b, e, value);
  // Out-of-range magnitudes are refused rather than silently rounded to 0 or INF.
  if (text.empty() || ec != std::errc() || end != e)
    throw ESoapReadError(what + ": '" + text + "' is not a valid double");
  return value;
}
