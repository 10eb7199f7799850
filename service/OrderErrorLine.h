// The one line a failed order import answers with.
#pragma once

#include <string>

namespace service {

// The reply to a failed order import: the line that follows the last line naming
// a restaurant exception ("EX_RESTAURANT_"), or the whole message when there is
// no such line or nothing follows it.
std::string OrderErrorLine(const std::string& message);

}  // namespace service
