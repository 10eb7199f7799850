// Reading the archive of posted orders back: the copies in "Orders" and in its
// dated subfolders, for the operator's listing, replay and rotation. The copies
// are listed first (names, times, sizes: never a link) and then read one at a
// time, so that a tool holds one copy's text at most.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

// What an archived copy holds, as addorder would read it. The GUID is whole (the
// database is asked for it); the other fields are ready for a listing, cut to a
// fixed width (runtime/LogLine.h ListingField).
struct TOrderFacts {
  std::string Guid;
  bool HasGuid = false;  // a GUID element with some text that is not blank
  std::string DeviceId, Pin, Table;
  int Rows = 0;
  // Empty when the copy can be imported as far as the copy alone shows; else
  // why not, in the words addorder answers with (the reader's message, the
  // missing or blank GUID, a missing element, a value that is no integer or no
  // truth value), cut for a listing.
  std::string Error;
};
TOrderFacts ReadOrderFacts(std::string_view text);

// One archived copy: its path from the working folder, its name and the folder
// it lies in ("" for "Orders" itself, else the subfolder's path below it).
struct TArchivedCopy {
  std::string Path, Name, Subfolder;
  int64_t Time = 0;  // last written, seconds since 1970 UTC (negative before)
  uint64_t Size = 0;
  uint64_t DiskBytes = 0;  // the room it takes on disk
};

// The archive folder of the working folder, and its folder of refused copies.
inline constexpr char kArchiveFolder[] = "Orders";
inline constexpr char kRefusedFolder[] = "refused";
// Every 1,000 copies read, progress may be shown.
inline constexpr int kProgressStep = 1000;

// The copies ("*.xml" regular files, never a link) in the archive folder and its
// dated subfolders (without datedFolders: the folder alone), written at or after
// `since` when given, in path order. The folder of refused copies is not among
// them.
std::vector<TArchivedCopy> ListArchive(std::optional<int64_t> since, bool datedFolders = true);
// The files in the dated subfolders of Orders/refused, in path order.
std::vector<TArchivedCopy> ListRefusedCopies();
// The facts of one copy, read without following a link; a copy that cannot be
// read, or is larger than any request leaves, has the reason as its Error.
TOrderFacts ReadCopy(const TArchivedCopy& copy);

// "YYYY-MM-DD": a dated subfolder's name; the UTC date of a time.
std::string DateFolderName(int64_t unixSeconds);
// The start (00:00 UTC) of a "YYYY-MM-DD" date; nullopt for anything else.
std::optional<int64_t> ParseDate(std::string_view text);
// True for a name of the form "YYYY-MM-DD" that is a real date.
bool IsDateFolderName(std::string_view name);

// A short stand-in for a GUID, for grouping copies without keeping megabytes: the
// GUID itself up to kGuidKeyBytes, else its length, a 64-bit hash and its start.
inline constexpr size_t kGuidKeyBytes = 64;
std::string GuidKey(std::string_view guid);

// The copy that stands for a GUID when several hold it: the newest by file time,
// and of equal times the last offered (copies are offered in path order).
class TNewestCopies {
 public:
  void Offer(const std::string& key, size_t index, int64_t time);
  // The index offered for key that stands for it; -1 when none was.
  long Find(const std::string& key) const;
  // Every key with its chosen index, in key order.
  std::vector<std::pair<std::string, size_t>> All() const;

 private:
  std::map<std::string, std::pair<size_t, int64_t>> FChosen;
};

// A text with every control byte replaced by a blank and no blanks at its end, to
// fit in one field of a line.
std::string OneLine(std::string_view text);

}  // namespace service
