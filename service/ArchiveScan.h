// Reading the archive of posted orders back: the copies in "Orders" and in its
// dated subfolders, each parsed as addorder reads a body, for the operator's
// listing, replay and rotation.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace service {

// What an archived copy holds, as addorder would read it.
struct TOrderFacts {
  std::string Guid, DeviceId, Pin, Table;
  int Rows = 0;
  // Empty when the copy can be imported; else why not, in the words addorder
  // answers with (the reader's message, or the missing or empty GUID).
  std::string Error;
};
TOrderFacts ReadOrderFacts(std::string_view text);

// One archived copy: its path from the working folder, its name and the folder
// it lies in ("" for "Orders" itself, else the dated subfolder's name).
struct TArchivedCopy {
  std::string Path, Name, Subfolder;
  int64_t Time = 0;  // last written, seconds since 1970 UTC
  TOrderFacts Facts;
};

// The archive folder of the working folder.
inline constexpr char kArchiveFolder[] = "Orders";
// Every 1,000 copies read, progress may be shown.
inline constexpr int kProgressStep = 1000;

// The copies ("*.xml") in the archive folder and its dated subfolders written at
// or after `since` (seconds since 1970 UTC), in the order of their paths.
// progress(read, total) is called every kProgressStep copies read.
std::vector<TArchivedCopy> ScanArchive(int64_t since,
                                       const std::function<void(size_t, size_t)>& progress);

// "YYYY-MM-DD": a dated subfolder's name; the UTC date of a time.
std::string DateFolderName(int64_t unixSeconds);
// The start (00:00 UTC) of a "YYYY-MM-DD" date; nullopt for anything else.
std::optional<int64_t> ParseDate(std::string_view text);
// True for a name of the form "YYYY-MM-DD" that is a real date.
bool IsDateFolderName(std::string_view name);

// The copy that stands for a GUID when several hold it: the newest by file time,
// and of equal times the last in path order. Indices into copies, one per GUID
// among `guids`, in the order of guids; -1 where no readable copy holds it.
std::vector<int> NewestCopies(const std::vector<TArchivedCopy>& copies,
                              const std::vector<std::string>& guids);

// A text with every control byte replaced by a blank and no blanks at its end, to
// fit in one field of a line.
std::string OneLine(std::string_view text);

}  // namespace service
