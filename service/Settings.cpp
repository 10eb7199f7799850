#include <algorithm>
#include <exception>

#include "fb/pFIBDatabase.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"
#include "service/Service.h"
#include "service/Unit1.h"

// The settings file is the first "*.def" file of the working directory in byte
// order of the names; installations keep exactly one, and every request that
// finds more says so on standard error. A folder of that name is no settings file.
std::string TDorvanaWebInterface::ApplySettingsAndConnect() {
  std::vector<std::string> names;
  for (std::string& name : platform::ListFiles("", "*"))
    if (service::IsSettingsFileName(name)) names.push_back(std::move(name));
  const std::string settingsFile = service::ChooseSettingsFile(names);
  if (settingsFile.empty()) return "";
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
  if (settings.ServerName) Database->SetDBName(*settings.ServerName);
  // Each setter replaces its entry where it stands or appends it: line by line,
  // the entries follow the file's order.
  TConnectParams& params = Database->ConnectParams();
  for (const auto& [field, value] : settings.LoginLines) {
    if (field == &service::TConnectionSettings::UserName) params.SetUserName(value);
    if (field == &service::TConnectionSettings::Password) params.SetPassword(value);
    if (field == &service::TConnectionSettings::RoleName) params.SetRoleName(value);
  }
  // After the file's own entries: a host that accepts and never answers fails
  // the connect after this many seconds.
  Database->AddDBParam("connect_timeout=" + IntToStr(connectTimeout));

  try {
    Database->SetConnected(true);
  } catch (...) {
    return ExceptionMessage(std::current_exception());
  }
  return "";
}
