#include "service/Settings.h"

#include <algorithm>
#include <exception>

#include "fb/pFIBDatabase.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"
#include "service/Unit1.h"

namespace {

const char kConnectTimeoutItem[] = "connect_timeout=";

}  // namespace

// The settings file is the first "*.def" file of the working directory in byte
// order of the names; installations keep exactly one, and every request that
// finds more says so on standard error. A folder of that name is no settings file.
std::string TDorvanaWebInterface::ApplySettingsAndConnect() {
  std::vector<std::string> names = service::SettingsFileNames();
  const std::string settingsFile = service::ChooseSettingsFile(names);
  if (settingsFile.empty()) {
    // A module just made has no connection, and the form's parameters.
    FConnectionKept = false;
    if (Database->Connected()) Database->CloseConnection(true);
    Database->SetDBName(FFormDBName);
    Database->SetDBParams(FFormDBParams);
    return "";
  }
  if (names.size() > 1) {
    std::sort(names.begin(), names.end());
    std::string ignored;
    for (const std::string& name : names) {
      if (name == settingsFile) continue;
      if (!ignored.empty()) ignored += ", ";
      ignored += "\"" + name + "\"";
    }
    platform::WriteLogLine(FCommand,
                           Format("warning: %d settings files in the working folder; "
                                  "using \"%s\", ignoring %s. Keep exactly one.",
                                  {static_cast<int>(names.size()), settingsFile, ignored}));
  }

  // A file that cannot be read counts as an empty one: the connect then fails
  // with the module's own (empty) settings and says why.
  std::string text;
  try {
    text = platform::ReadFilePrefix(settingsFile, service::kSettingsFileMax);
  } catch (const EOSError&) {
  }

  const service::TConnectionSettings settings = service::ParseSettings(text);
  int connectTimeout = service::kDefaultConnectTimeout;
  if (settings.ConnectTimeout) {
    const std::optional<int> seconds = service::ConnectTimeoutSeconds(*settings.ConnectTimeout);
    if (!seconds)
      return Format(
          "Settings file \"%s\": the line \"CONNECT TIMEOUT=%s\" is not a whole number "
          "of seconds from 1 to 255. Nothing was sent to the database.",
          {settingsFile, *settings.ConnectTimeout});
    connectTimeout = *seconds;
  }
  int requestTimeout = service::kDefaultRequestTimeout;
  if (settings.RequestTimeout) {
    const std::optional<int> seconds = service::RequestTimeoutSeconds(*settings.RequestTimeout);
    if (!seconds)
      return Format(
          "Settings file \"%s\": the line \"REQUEST TIMEOUT=%s\" is not a whole number "
          "of seconds from 1 to %d. Nothing was sent to the database.",
          {settingsFile, *settings.RequestTimeout, service::kMaxRequestTimeout});
    requestTimeout = *seconds;
  }
  // From here on the request runs against its deadline.
  ArmDeadline(requestTimeout);
  // The file applies to the form's settings, never to what an earlier request's
  // file left: a line removed since then gives the form's value back.
  TFIBDatabase wanted;
  wanted.SetDBName(FFormDBName);
  wanted.SetDBParams(FFormDBParams);
  if (settings.ServerName) wanted.SetDBName(*settings.ServerName);
  // Each setter replaces its entry where it stands or appends it: line by line,
  // the entries follow the file's order.
  TConnectParams& params = wanted.ConnectParams();
  for (const auto& [field, value] : settings.LoginLines) {
    if (field == &service::TConnectionSettings::UserName) params.SetUserName(value);
    if (field == &service::TConnectionSettings::Password) params.SetPassword(value);
    if (field == &service::TConnectionSettings::RoleName) params.SetRoleName(value);
  }
  // After the file's own entries: a host that accepts and never answers fails
  // the connect after this many seconds.
  wanted.AddDBParam(kConnectTimeoutItem + IntToStr(connectTimeout));

  // The connection of an earlier request is kept while its parameters stay.
  const bool same =
      wanted.DBName() == Database->DBName() && wanted.DBParams().Lines() == FConnectedParams;
  FConnectionKept = same && Database->Connected();
  if (FConnectionKept) return "";
  if (Database->Connected()) Database->CloseConnection(true);
  FConnectedParams = wanted.DBParams().Lines();
  // The connect may take no more than what is left of the request's deadline.
  TStringList sent = wanted.DBParams();
  const int left = DeadlineSecondsLeft();
  if (left < connectTimeout) sent[sent.Count() - 1] = kConnectTimeoutItem + IntToStr(left);
  Database->SetDBName(wanted.DBName());
  Database->SetDBParams(sent);

  try {
    Database->SetConnected(true);
  } catch (...) {
    // A connect can fail after the attach (the server's facts, the clock, the
    // dialect): no connection whose set-up never finished is left for the next
    // request to take as kept; it connects anew, as a fresh process would.
    if (Database->Connected()) {
      try {
        Database->CloseConnection(true);
      } catch (...) {
      }
    }
    RaiseIfPastDeadline();
    return ExceptionMessage(std::current_exception());
  }
  return "";
}

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
