#include "service/Service.h"

#include <cmath>
#include <cstdio>

#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Numbers.h"
#include "runtime/Strings.h"
#include "runtime/Text.h"

namespace service {

namespace {

[[noreturn]] void RaiseCreateError(const std::string& path, const std::string& reason) {
  throw EFCreateError(Format("Cannot create file \"%s\". %s", {path, reason}));
}

// The system's own words for a platform failure; the whole message when the
// failure carries no error number.
std::string ReasonOf(const EOSError& e) {
  return e.Code() != 0 ? platform::SysErrorMessage(e.Code()) : e.Message();
}

}  // namespace

// A name no earlier post holds, so that no archived order is ever replaced.
std::string ArchiveOrder(const std::string& text, uint32_t seed) {
  const std::string folder = "Orders";
  const std::string delimiter = platform::PathDelimiter();
  const std::string fullFolder = platform::CurrentDir() + delimiter + folder + delimiter;
  TArchiveNumbers numbers(seed);
  // A folder that cannot be made is reported against the first name drawn, as
  // the file it would have held. A file of the folder's name is found by the
  // first creation below.
  if (!platform::DirectoryExists(folder)) {
    try {
      platform::CreateDir(folder);
    } catch (const EOSError& e) {
      RaiseCreateError(fullFolder + "order " + IntToStr(TArchiveNumbers(seed).Next()) + ".xml",
                       ReasonOf(e));
    }
  }
  for (int draw = 0; draw < kMaxArchiveDraws; ++draw) {
    const std::string name = "order " + IntToStr(numbers.Next()) + ".xml";
    const std::string path = folder + delimiter + name;
    bool exists = false;
    platform::TFileHandle file;
    try {
      file = platform::CreateFileExclusive(path, exists);
    } catch (const EOSError& e) {
      RaiseCreateError(fullFolder + name, ReasonOf(e));
    }
    if (exists) continue;
    try {
      file.WriteAll(text.data(), text.size());
      file.Close();
    } catch (const EOSError& e) {
      file = platform::TFileHandle();  // closed before the partial copy goes
      platform::DeleteFile(path);
      RaiseCreateError(fullFolder + name, ReasonOf(e));
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

  const TSignificantDigits significant = SignificantDigits(value);
  const std::string& digits = significant.Digits;
  const int exp = significant.Exponent;

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
  if (frac[2] >= '5' && IncrementDigits(kept)) kept.insert(kept.begin(), '1');
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
