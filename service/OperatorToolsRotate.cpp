// dorvana --rotate: copies moved out of the folder Orders into dated folders, the
// refused ones into a folder of their own whose size is capped.
#include <algorithm>

#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/Format.h"
#include "runtime/LogLine.h"
#include "runtime/Text.h"
#include "service/Archive.h"
#include "service/ArchiveScan.h"
#include "service/OperatorTools.h"
#include "service/TerminalSession.h"

namespace service {

namespace {

constexpr int64_t kDefaultRotateDays = 7;
constexpr int64_t kDefaultRefusedMiB = 1024;
constexpr int64_t kMaxRefusedMiB = 100000000;  // 100 TB: any disk
// A copy this young may be one a request is writing at this moment: no request
// outlives the web servers' timeouts (docs/settings.md, the request deadline), well below this.
constexpr int64_t kInFlightSeconds = 600;
constexpr int64_t kMiB = 1024 * 1024;

struct TRotateOptions {
  int64_t Days = kDefaultRotateDays;
  int64_t MissingDays = kDefaultMissingDays;
  int64_t RefusedMiB = kDefaultRefusedMiB;
};

// Makes folder (and Orders/refused for a folder below it) and checks that it is
// a folder itself, not a link to somewhere else.
void PrepareFolder(const std::string& folder, bool refused) {
  const std::string delimiter = platform::PathDelimiter();
  if (refused) platform::CreateDir(kArchiveFolder + delimiter + kRefusedFolder);
  if (refused && !platform::IsFolderNoFollow(kArchiveFolder + delimiter + kRefusedFolder))
    throw EOSError(std::string(kArchiveFolder) + delimiter + kRefusedFolder +
                   " is not a folder (a link is never followed)");
  platform::CreateDir(folder);
  if (!platform::IsFolderNoFollow(folder))
    throw EOSError(folder + " is not a folder (a link is never followed)");
}

// Deletes the oldest refused copies while they hold more than the limit.
int CapRefusedCopies(int64_t limitMiB, const TToolOutput& out) {
  std::vector<TArchivedCopy> copies = ListRefusedCopies();
  uint64_t total = 0;
  // What the copies take on disk: a flood of small copies takes a block each.
  for (const TArchivedCopy& c : copies) total += c.DiskBytes;
  const uint64_t limit = static_cast<uint64_t>(limitMiB) * kMiB;
  if (total <= limit) return 0;
  std::sort(copies.begin(), copies.end(), [](const TArchivedCopy& a, const TArchivedCopy& b) {
    return a.Time != b.Time ? a.Time < b.Time : a.Path < b.Path;
  });
  int deleted = 0;
  for (const TArchivedCopy& c : copies) {
    if (total <= limit) break;
    if (!platform::DeleteFile(c.Path)) {
      out.Err("dorvana --rotate: cannot delete " + EscapeControls(c.Path));
      continue;
    }
    total -= c.DiskBytes;
    ++deleted;
    out.Err(Format(
        "dorvana --rotate: deleted %s (%d bytes, written %s): the refused copies "
        "held more than %d MiB",
        {EscapeControls(c.Path), static_cast<int64_t>(c.Size), FormatUtcTime(c.Time), limitMiB}));
  }
  return deleted;
}

}  // namespace

int RunRotate(TTerminalSession& session, const std::vector<std::string>& args,
              const TToolOutput& out) {
  TRotateOptions options;
  for (size_t i = 1; i < args.size(); ++i) {
    int64_t* value = args[i] == "--older-than"      ? &options.Days
                     : args[i] == "--missing-days"  ? &options.MissingDays
                     : args[i] == "--refused-limit" ? &options.RefusedMiB
                                                    : nullptr;
    const int64_t max = value == &options.RefusedMiB ? kMaxRefusedMiB : kMaxDays;
    if (!value || i + 1 >= args.size() || !ParseCount(args[i + 1], max, *value)) {
      out.Err(
          Format("dorvana --rotate: expected --older-than DAYS, --missing-days DAYS (0 to %d) or "
                 "--refused-limit MIB (0 to %d), in decimal digits; got \"%s\"",
                 {kMaxDays, kMaxRefusedMiB, EscapeControls(args[i])}));
      return kToolUsage;
    }
    ++i;
  }
  const int64_t now = platform::UnixTimeNow();
  const int64_t settled = now - kInFlightSeconds;
  const int64_t oldBefore = std::min(settled, now - options.Days * kSecondsPerDay);
  const int64_t missingBefore = std::min(settled, now - options.MissingDays * kSecondsPerDay);
  const std::string delimiter = platform::PathDelimiter();
  const std::vector<TArchivedCopy> copies = ListArchive(std::nullopt, false);
  TCopyClassifier classifier(session);
  int moved = 0, refused = 0, renamed = 0, failed = 0;
  uint32_t seed = ClockSeed();
  ForEachCopy(copies, classifier, out, "--rotate",
              [&](size_t, const TArchivedCopy& copy, TOrderFacts&, TCopyState state) {
                const bool due = (state == TCopyState::Imported && copy.Time < oldBefore) ||
                                 (state == TCopyState::Refused && copy.Time < oldBefore) ||
                                 (state == TCopyState::Missing && copy.Time < missingBefore);
                if (!due) return;
                const bool isRefused = state == TCopyState::Refused;
                const std::string folder = kArchiveFolder + delimiter +
                                           (isRefused ? kRefusedFolder + delimiter : "") +
                                           DateFolderName(copy.Time);
                try {
                  PrepareFolder(folder, isRefused);
                  const std::string target = MoveToFreeName(copy.Path, folder, copy.Name, seed++);
                  ++moved;
                  refused += isRefused;
                  renamed += target != folder + delimiter + copy.Name;
                } catch (const EOSError& e) {
                  out.Err("dorvana --rotate: kept " + EscapeControls(copy.Path) + ": " +
                          EscapeControls(e.Message()));
                  ++failed;
                }
              });
  const int deleted = CapRefusedCopies(options.RefusedMiB, out);
  out.Out(
      Format("%d copies moved (%d refused, into %s%s%s), %d under a new name because theirs "
             "was taken; %d refused copies deleted over the limit",
             {moved, refused, kArchiveFolder, delimiter, kRefusedFolder, renamed, deleted}));
  if (!classifier.DatabaseFailure().empty()) {
    out.Err("dorvana --rotate: copies with a GUID stay, the database could not be asked: " +
            classifier.DatabaseFailure());
    return kToolFailed;
  }
  return failed == 0 ? kToolOk : kToolFailed;
}

}  // namespace service
