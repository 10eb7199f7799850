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

bool service::IsBlankGuid(std::string_view guid) {
  for (const char c : guid)
    if (static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) != 0xA0) return false;
  return true;
}
