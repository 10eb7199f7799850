// The text forms of numbers and dates that parameter and column values are shown
// and read in: the general number form, exact scaled integers and date-time
// patterns, with the regional marks and patterns they use.
#pragma once

#include <cstdint>
#include <string>

// The regional forms the text conversions use. A connection carries its own
// (TFIBDatabase::FormatSettings), the host's unless set.
struct TFIBFormatSettings {
  char DecimalMark = '.';
  std::string ShortDateFormat;  // letters d, m, y, e.g. "dd.mm.yyyy"
  std::string LongTimeFormat;   // letters h, n, s, z, e.g. "hh:nn:ss"
};
// The host's regional forms, read once on first use.
const TFIBFormatSettings& HostFormatSettings();

// The general number form: at most 15 significant digits, fixed notation for
// decimal exponents from -3 to 15, scientific ("1E20", "1.5E-5") otherwise.
std::string FIBGeneralNumberText(double value, char decimalMark);
// The exact decimal form of value * 10^scale (scale <= 0) without trailing zeros.
std::string FIBScaledIntegerText(int64_t value, int scale, char decimalMark);
// A date and time in a pattern of d, m, y, h, n, s and z letters; other characters
// stand for themselves, and text in single or double quotes is copied as it is.
std::string FIBFormatDateTime(const std::string& pattern, int year, int month, int day, int hour,
                              int minute, int second, int millisecond);
