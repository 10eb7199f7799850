// Texts and numbers that the terminal commands compute without touching the
// database: the settings file's lines, the price form of the lists, the line a
// failed order import answers with, and the archive's random file numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/Exception.h"

// The archive file of a posted order could not be created or written.
DORVANA_EXCEPTION(EFCreateError, Exception);

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

// The settings file among the working folder's regular files named "*.def": the
// first in byte order of the names, so the choice never depends on the folder's
// listing order. Empty when there is none.
std::string ChooseSettingsFile(std::vector<std::string> names);

// The settings in a file's text. A NUL byte ends the text; lines end at CR LF,
// CR or LF; a line that begins with a key (exact, case-sensitive) sets it to the
// rest of the line, unchanged; the last such line wins; other lines are ignored.
TConnectionSettings ParseSettings(std::string_view text);

// True when a directory entry's name marks a settings file: it ends in ".def",
// in any letter case.
bool IsSettingsFileName(std::string_view name);

// A price with at most two decimals: rounded half away from zero at the third
// decimal of its 18-digit decimal form, no grouping, trailing zeros dropped, "0"
// for anything that rounds to zero. Magnitudes of 1e18 and more and non-finite
// values come out with 15 significant digits.
std::string FormatPrice(double value, char decimalMark);

// The reply to a failed order import: the line that follows the last line naming
// a restaurant exception ("EX_RESTAURANT_"), or the whole message when there is
// no such line or nothing follows it.
std::string OrderErrorLine(const std::string& message);

// The clock-seeded random generator that numbers archived orders.
class TArchiveNumbers {
 public:
  explicit TArchiveNumbers(uint32_t seed) : FSeed(seed) {}
  // The next number, 0 to kArchiveNumbers - 1.
  uint32_t Next();
  static constexpr uint32_t kArchiveNumbers = 100000;

 private:
  uint32_t FSeed;
};

// Keeps a copy of a posted order in the folder "Orders" of the working directory
// (created when missing) as "order N.xml", N drawn from numbers seeded with seed.
// The copy never replaces an existing file: a taken name draws again, and after
// too many draws the archive gives up. A failed write leaves no partial copy.
// Returns the path written; raises EFCreateError "Cannot create file \"%s\". %s".
std::string ArchiveOrder(const std::string& text, uint32_t seed);
// Draws before the archive gives up: far more than a folder that is rotated as it
// should be ever needs.
inline constexpr int kMaxArchiveDraws = 1000;

// The seed: the low 32 bits of the high-resolution counter, or the millisecond
// tick count where there is none.
uint32_t ClockSeed();

}  // namespace service
