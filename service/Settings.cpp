#include "service/Unit1.h"

#include <exception>

#include "fb/pFIBDatabase.h"
#include "platform/Platform.h"
#include "service/Service.h"

// The settings file is whichever "*.def" file the working directory lists first;
// installations keep exactly one. A folder of that name is no settings file.
std::string TDorvanaWebInterface::ApplySettingsAndConnect() {
  std::string settingsFile;
  for (const std::string& name : platform::ListFiles("", "*")) {
    if (service::IsSettingsFileName(name)) {
      settingsFile = name;
      break;
    }
  }
  if (settingsFile.empty()) return "";

  // A file that cannot be read counts as an empty one: the connect then fails
  // with the module's own (empty) settings and says why.
  std::string text;
  try {
    text = platform::ReadFilePrefix(settingsFile, service::kSettingsFileMax);
  } catch (const EOSError&) {
  }

  const service::TConnectionSettings settings = service::ParseSettings(text);
  if (settings.ServerName) Database->SetDBName(*settings.ServerName);
  if (settings.UserName) Database->ConnectParams().SetUserName(*settings.UserName);
  if (settings.Password) Database->ConnectParams().SetPassword(*settings.Password);
  if (settings.RoleName) Database->ConnectParams().SetRoleName(*settings.RoleName);

  try {
    Database->SetConnected(true);
  } catch (...) {
    return ExceptionMessage(std::current_exception());
  }
  return "";
}
