// The settings file: which file of the working folder it is, and the connection
// settings its lines set.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

// The settings file is read into a buffer of this size; bytes past it are ignored.
inline constexpr size_t kSettingsFileMax = 1024;

// What a settings file sets. A key the file does not name stays unset, so the
// property it stands for keeps its value.
struct TConnectionSettings {
  std::optional<std::string> ServerName;  // "SERVER NAME="
  std::optional<std::string> UserName;    // "USER NAME="
  std::optional<std::string> Password;    // "PASSWORD="
  std::optional<std::string> RoleName;    // "ROLE NAME="
  std::optional<std::string>
      ConnectTimeout;  // "CONNECT TIMEOUT=", checked by ConnectTimeoutSeconds
  std::optional<std::string>
      RequestTimeout;  // "REQUEST TIMEOUT=", checked by RequestTimeoutSeconds
  // The "USER NAME=", "PASSWORD=" and "ROLE NAME=" lines in the file's order, as
  // the field each set and its value: applied in this order, they put the
  // connection's entries in the order of the lines.
  std::vector<std::pair<std::optional<std::string> TConnectionSettings::*, std::string>> LoginLines;
};

// The longest a connect may take, in seconds, when the settings file does not say:
// a database host that accepts and never answers must not hold a process (and
// the waiter's terminal) for the client library's own minutes.
inline constexpr int kDefaultConnectTimeout = 15;
// The seconds of a "CONNECT TIMEOUT=" value: decimal digits only, 1 to 255 (the
// attach item holds one byte); nullopt for anything else.
std::optional<int> ConnectTimeoutSeconds(std::string_view value);

// How long, in seconds from its start, a request that uses the database may take
// when the settings file does not say; and the most it may say. At the deadline
// the connection is cut off and the request answered with an error: below every
// web server timeout (tests/e2e/limits_test.sh checks the configurations), so
// that the answer still reaches the terminal.
inline constexpr int kDefaultRequestTimeout = 240;
inline constexpr int kMaxRequestTimeout = 280;
// The seconds of a "REQUEST TIMEOUT=" value: decimal digits only, 1 to
// kMaxRequestTimeout; nullopt for anything else.
std::optional<int> RequestTimeoutSeconds(std::string_view value);

// The settings file among the working folder's regular files named "*.def": the
// first in byte order of the names, so the choice never depends on the folder's
// listing order. Empty when there is none.
std::string ChooseSettingsFile(std::vector<std::string> names);
// The names of the working folder's regular files that mark a settings file.
std::vector<std::string> SettingsFileNames();

// The settings in a file's text. A NUL byte ends the text; lines end at CR LF,
// CR or LF; a line that begins with a key (exact, case-sensitive) sets it to the
// rest of the line, unchanged; the last such line wins; other lines are ignored.
TConnectionSettings ParseSettings(std::string_view text);

// True when a directory entry's name marks a settings file: it ends in ".def",
// in any letter case.
bool IsSettingsFileName(std::string_view name);

}  // namespace service
