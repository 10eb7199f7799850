#include "service/Settings.h"

#include "platform/Platform.h"
#include "runtime/Text.h"

namespace service {

TConnectionSettings ParseSettings(std::string_view text) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);

  TConnectionSettings result;
  const struct {
    std::string_view key;
    std::optional<std::string> TConnectionSettings::*field;
  } kKeys[] = {{"SERVER NAME=", &TConnectionSettings::ServerName},
               {"USER NAME=", &TConnectionSettings::UserName},
               {"PASSWORD=", &TConnectionSettings::Password},
               {"ROLE NAME=", &TConnectionSettings::RoleName},
               {"CONNECT TIMEOUT=", &TConnectionSettings::ConnectTimeout},
               {"REQUEST TIMEOUT=", &TConnectionSettings::RequestTimeout}};

  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    for (const auto& k : kKeys) {
      if (line.starts_with(k.key)) {
        result.*k.field = std::string(line.substr(k.key.size()));
        if (k.field == &TConnectionSettings::UserName ||
            k.field == &TConnectionSettings::Password || k.field == &TConnectionSettings::RoleName)
          result.LoginLines.emplace_back(k.field, *(result.*k.field));
        break;
      }
    }
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  return result;
}

namespace {
// Decimal digits only, from 1 to max; nullopt for anything else.
std::optional<int> WholeSeconds(std::string_view value, int max) {
  // Nine digits cannot overflow an int; more are out of range anyway.
  constexpr size_t kMaxDigits = 9;
  if (value.empty() || value.size() > kMaxDigits) return std::nullopt;
  int seconds = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  if (seconds < 1 || seconds > max) return std::nullopt;
  return seconds;
}
}  // namespace

std::optional<int> ConnectTimeoutSeconds(std::string_view value) {
  constexpr int kMaxSeconds = 255;  // the attach item holds one byte
  return WholeSeconds(value, kMaxSeconds);
}

std::optional<int> RequestTimeoutSeconds(std::string_view value) {
  return WholeSeconds(value, kMaxRequestTimeout);
}

std::vector<std::string> SettingsFileNames() {
  std::vector<std::string> names;
  for (std::string& name : platform::ListFiles("", "*"))
    if (IsSettingsFileName(name)) names.push_back(std::move(name));
  return names;
}

std::string ChooseSettingsFile(std::vector<std::string> names) {
  std::string chosen;
  for (std::string& name : names)
    if (IsSettingsFileName(name) && (chosen.empty() || name < chosen)) chosen = std::move(name);
  return chosen;
}

bool IsSettingsFileName(std::string_view name) {
  return name.size() >= 4 && SameText(name.substr(name.size() - 4), ".def");
}

}  // namespace service
