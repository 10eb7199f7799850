#include "service/OrderErrorLine.h"

#include "runtime/StringList.h"

namespace service {

std::string OrderErrorLine(const std::string& message) {
  TStringList lines;
  lines.SetText(message);
  int marker = -1;
  for (int i = 0; i < lines.Count(); ++i)
    if (lines[i].find("EX_RESTAURANT_") != std::string::npos) marker = i;
  if (marker >= 0 && marker + 1 < lines.Count()) return lines[marker + 1];
  return message;
}

}  // namespace service
