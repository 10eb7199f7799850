// Doubles as XML Schema writes them, both ways.
#pragma once

#include <string>

// Shortest text that reads back as the same double; INF, -INF and NaN as XML
// Schema writes them.
std::string SoapFloatToStr(double value);
// The double an element's trimmed text stands for: the lexical forms of XML
// Schema only, INF, +INF, -INF and NaN included. Raises ESoapReadError
// "WHAT: 'TEXT' is not a valid double" for any other text and for a magnitude
// out of range.
double SoapStrToFloat(const std::string& text, const std::string& what);
