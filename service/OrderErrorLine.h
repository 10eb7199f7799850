// The one line a failed order import answers with.
#pragma once

#include <string>
#include <string_view>

namespace service {

// The answers to an order that names no order: no GUID element, or an empty one.
inline constexpr char kNoGuidMessage[] = "The order has no GUID element: nothing was imported.";
inline constexpr char kEmptyGuidMessage[] = "The order's GUID is empty: nothing was imported.";
// True for a GUID made only of blanks: bytes up to 0x20 and the Windows-1251
// no-break space 0xA0 (raw, or from the references "&#160;" and "&#xA0;"). Such a
// GUID names no order: every blank order would be a duplicate of the first.
bool IsBlankGuid(std::string_view guid);

// The reply to a failed order import: the line that follows the last line naming
// a restaurant exception ("EX_RESTAURANT_"), or the whole message when there is
// no such line or nothing follows it.
std::string OrderErrorLine(const std::string& message);

}  // namespace service
