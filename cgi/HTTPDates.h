// HTTP dates, as a response writes them and as a request's headers carry them.
#pragma once

#include <string>

// An HTTP date, as the response writes it: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHTTPDate(double dateTime);
// Parses the three HTTP date forms; false when text is none of them.
bool ParseHTTPDate(const std::string& text, double& dateTime);
