#include "service/Service.h"

#include <cmath>
#include <cstdio>

#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Strings.h"
#include "runtime/Text.h"

namespace service {

namespace {

[[noreturn]] void RaiseCreateError(const std::string& path, const std::string& reason) {
  throw EFCreateError(Format("Cannot create file \"%s\". %s", {path, reason}));
}

// The system's own words in a platform error raised as "<what>: <reason>".
std::string ReasonOf(const EOSError& e, const std::string& path) {
  const std::string prefix = "\"" + path + "\": ";
  const size_t at = e.Message().find(prefix);
  return at == std::string::npos ? e.Message() : e.Message().substr(at + prefix.size());
}

}  // namespace

// A name no earlier post holds, so that no archived order is ever replaced.
std::string ArchiveOrder(const std::string& text, uint32_t seed) {
  const std::string folder = "Orders";
  if (!platform::DirectoryExists(folder)) platform::CreateDir(folder);

  const std::string delimiter = platform::PathDelimiter();
  const std::string fullFolder = platform::CurrentDir() + delimiter + folder + delimiter;
  TArchiveNumbers numbers(seed);
  for (int draw = 0; draw < kMaxArchiveDraws; ++draw) {
    const std::string name = "order " + IntToStr(numbers.Next()) + ".xml";
    const std::string path = folder + delimiter + name;
    bool exists = false;
    platform::TFileHandle file;
    try {
      file = platform::CreateFileExclusive(path, exists);
    } catch (const EOSError& e) {
      RaiseCreateError(fullFolder + name, ReasonOf(e, path));
    }
    if (exists) continue;
    if (!file.WriteAll(text.data(), text.size()) || !file.Close()) {
      const std::string reason = platform::SysErrorMessage(platform::LastOSError());
      file = platform::TFileHandle();
      platform::DeleteFile(path);
      RaiseCreateError(fullFolder + name, reason);
    }
    return path;
  }
  RaiseCreateError(fullFolder + "order " + IntToStr(numbers.Next()) + ".xml",
                   "Every name drawn is taken: the archive folder needs rotating.");
}

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
               {"CONNECT TIMEOUT=", &TConnectionSettings::ConnectTimeout}};

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

std::optional<int> ConnectTimeoutSeconds(std::string_view value) {
  if (value.empty() || value.size() > 9) return std::nullopt;
  int seconds = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  if (seconds < 1 || seconds > 255) return std::nullopt;
  return seconds;
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

std::string FormatPrice(double value, char decimalMark) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e18) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string text = buf;
    for (char& c : text)
      if (c == '.') c = decimalMark;
    return text;
  }

  // The value's 18 significant digits d1.d2...d18 x 10^exp.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
  std::string digits;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  const int exp = std::atoi(p + 1);

  // Integer digits and at least three decimals.
  std::string intPart, frac;
  if (exp >= 0) {
    intPart = digits.substr(0, exp + 1);
    frac = digits.substr(exp + 1);
  } else {
    intPart = "0";
    frac = std::string(-exp - 1, '0') + digits;
  }
  if (frac.size() < 3) frac.append(3 - frac.size(), '0');

  // Hundredths as one decimal string, rounded up when the third decimal is 5 or more.
  std::string kept = intPart + frac.substr(0, 2);
  if (frac[2] >= '5') {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[i] == '9') kept[i--] = '0';
    if (i >= 0)
      ++kept[i];
    else
      kept.insert(kept.begin(), '1');
  }
  if (kept.find_first_not_of('0') == std::string::npos) return "0";

  std::string whole = kept.substr(0, kept.size() - 2);
  std::string decimals = kept.substr(kept.size() - 2);
  const size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "0" : whole.substr(first);
  while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();

  std::string text = value < 0 ? "-" : "";
  text += whole;
  if (!decimals.empty()) {
    text += decimalMark;
    text += decimals;
  }
  return text;
}

std::string OrderErrorLine(const std::string& message) {
  TStringList lines;
  lines.SetText(message);
  int marker = -1;
  for (int i = 0; i < lines.Count(); ++i)
    if (lines[i].find("EX_RESTAURANT_") != std::string::npos) marker = i;
  if (marker >= 0 && marker + 1 < lines.Count()) return lines[marker + 1];
  return message;
}

uint32_t TArchiveNumbers::Next() {
  FSeed = FSeed * 134775813u + 1u;
  return static_cast<uint32_t>((static_cast<uint64_t>(FSeed) * kArchiveNumbers) >> 32);
}

uint32_t ClockSeed() {
  int64_t counter = 0;
  if (platform::HighResolutionCounter(counter)) return static_cast<uint32_t>(counter);
  return platform::TickCount();
}

}  // namespace service
