#include "fb/FIBValueText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fb/FIBInternal.h"
#include "fb/fib.h"
#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/Numbers.h"
#include "runtime/Text.h"

namespace {

// Powers of ten from 10^-18 to 10^18, indexed by exponent + 18.
const double kPowersOfTen[37] = {
    1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6,
    1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,  1e5,  1e6,  1e7,
    1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17, 1e18};

}  // namespace

double FIBScaledValue(int64_t value, int scale) {
  if (scale < -18 || scale > 18) RaiseClientError(fbceInvalidDataConversion);
  // The product is formed in extended precision and rounded once.
  const long double product =
      static_cast<long double>(value) * static_cast<long double>(kPowersOfTen[scale + 18]);
  return static_cast<double>(product);
}

std::string FIBServerDateText(int32_t serverDay, const std::string& datePattern) {
  const TCivilDate date = CivilFromDays(static_cast<int64_t>(serverDay) - kServerDayOf1970);
  return FIBFormatDateTime(datePattern, static_cast<int>(date.Year), static_cast<int>(date.Month),
                           static_cast<int>(date.Day), 0, 0, 0, 0);
}

// A stored time is counted in units of 1/10000 second since midnight.
std::string FIBServerTimeText(uint32_t serverTime, const std::string& timePattern) {
  const uint32_t ms = serverTime / 10;
  return FIBFormatDateTime(timePattern, 0, 0, 0, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                           ms % 1000);
}

// A decimal number with the regional mark; blanks around it are allowed.
bool FIBParseNumber(std::string_view s, char mark, double& out) {
  std::string t = Trim(s);
  if (t.empty()) return false;
  for (char& c : t) {
    if (c == mark) {
      c = '.';
    } else if (c == '.' || !(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' ||
                             c == 'e' || c == 'E')) {
      return false;
    }
  }
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// A date in the regional short date form, optionally followed by a time h:n[:s].
bool FIBParseDateTime(std::string_view s, const std::string& datePattern, double& out) {
  std::string order;  // the order of d, m and y in the pattern
  for (char c : datePattern) {
    const char l = LowerAscii(c);
    if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
  }
  if (order.size() != 3) order = "mdy";
  const std::string t = Trim(s);
  std::vector<int64_t> parts;
  size_t i = 0;
  while (i < t.size() && parts.size() < 6) {
    if (!std::isdigit(static_cast<unsigned char>(t[i]))) {
      ++i;
      continue;
    }
    int64_t v = 0;
    size_t digits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
      if (++digits > 9) return false;
      v = v * 10 + (t[i++] - '0');
    }
    parts.push_back(v);
  }
  if (parts.size() < 3 || parts.size() == 4 || i < t.size()) return false;
  int64_t y = 0, m = 0, d = 0;
  for (int k = 0; k < 3; ++k) {
    if (order[k] == 'y') y = parts[k];
    if (order[k] == 'm') m = parts[k];
    if (order[k] == 'd') d = parts[k];
  }
  if (y < 100) y += y < 50 ? 2000 : 1900;
  if (y > 9999 || !IsValidCivilDate(y, m, d)) return false;  // 31 February and the like
  const int64_t days = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
  double result = static_cast<double>(DayNumberFromUnixDays(days));
  if (parts.size() >= 5) {
    const int64_t h = parts[3], n = parts[4], sec = parts.size() > 5 ? parts[5] : 0;
    if (h > 23 || n > 59 || sec > 59) return false;
    result += static_cast<double>(h * 3600 + n * 60 + sec) / 86400.0;
  }
  out = result;
  return true;
}

const TFIBFormatSettings& HostFormatSettings() {
  static const TFIBFormatSettings settings{platform::RegionalDecimalMark(),
                                           platform::RegionalShortDateFormat(),
                                           platform::RegionalLongTimeFormat()};
  return settings;
}

std::string FIBGeneralNumberText(double value, char decimalMark) {
  if (value == 0) return "0";
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  // 18 significant digits first, then rounded to 15: two roundings, as the
  // figures the terminals have always shown were made.
  TSignificantDigits significant = SignificantDigits(value);
  std::string& digits = significant.Digits;
  int exponent = significant.Exponent;
  const bool up = digits[15] >= '5';
  digits.resize(15);
  if (up && IncrementDigits(digits)) {
    digits.insert(digits.begin(), '1');
    digits.resize(15);
    ++exponent;
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  const int e = exponent + 1;  // magnitude = 0.d1d2... * 10^e
  const int n = static_cast<int>(digits.size());
  std::string out = value < 0 ? "-" : "";
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      out += '0';
      out += decimalMark;
      out.append(-e, '0');
      out += digits;
    } else {
      out += digits.substr(0, std::min(e, n));
      if (n < e) out.append(e - n, '0');
      if (n > e) {
        out += decimalMark;
        out += digits.substr(e);
      }
    }
  } else {
    out += digits[0];
    if (n > 1) {
      out += decimalMark;
      out += digits.substr(1);
    }
    out += 'E';
    if (e - 1 < 0) out += '-';
    out += std::to_string(std::abs(e - 1));
  }
  return out;
}

std::string FIBScaledIntegerText(int64_t value, int scale, char decimalMark) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (scale >= 0) {
    digits.append(scale, '0');
    return (negative ? "-" : "") + digits;
  }
  const size_t k = static_cast<size_t>(-scale);
  std::string out;
  if (digits.size() > k) {
    out = digits.substr(0, digits.size() - k) + decimalMark + digits.substr(digits.size() - k);
  } else {
    out = std::string("0") + decimalMark + std::string(k - digits.size(), '0') + digits;
  }
  while (out.back() == '0') out.pop_back();
  if (out.back() == decimalMark) out.pop_back();
  return (negative ? "-" : "") + out;
}

std::string FIBFormatDateTime(const std::string& pattern, int year, int month, int day, int hour,
                              int minute, int second, int millisecond) {
  std::string out;
  auto number = [&](int v, int width) {
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    out += s;
  };
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '"' || c == '\'') {
      const size_t close = pattern.find(c, i + 1);
      const size_t end = close == std::string::npos ? pattern.size() : close;
      out.append(pattern, i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    const char l = LowerAscii(c);
    size_t run = 1;
    while (i + run < pattern.size() && LowerAscii(pattern[i + run]) == l) ++run;
    switch (l) {
      case 'd':
        number(day, run >= 2 ? 2 : 1);
        break;
      case 'm':
        number(month, run >= 2 ? 2 : 1);
        break;
      case 'y':
        if (run <= 2)
          number(year % 100, 2);
        else
          number(year, 4);
        break;
      case 'h':
        number(hour, run >= 2 ? 2 : 1);
        break;
      case 'n':
        number(minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        number(second, run >= 2 ? 2 : 1);
        break;
      case 'z':
        number(millisecond, run >= 3 ? 3 : 1);
        break;
      default:
        out.append(run, c);
        break;
    }
    i += run;
  }
  return out;
}
