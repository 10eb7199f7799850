// dorvana --orders and --replay: the archive listed, and missing orders imported
// from it, one copy read at a time.
#include <exception>
#include <set>

#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/Format.h"
#include "runtime/LogLine.h"
#include "runtime/Text.h"
#include "service/Archive.h"
#include "service/ArchiveScan.h"
#include "service/OperatorTools.h"
#include "service/TerminalSession.h"
#include "xml/NativeXml.h"

namespace service {

namespace {

// An answer of the import (UTF-8) as one field: control bytes escaped, and cut
// at a character's start when it is long.
std::string AnswerField(const std::string& answer) {
  constexpr size_t kWidth = 512;
  if (answer.size() <= kWidth) return EscapeControls(answer);
  size_t cut = kWidth;
  while (cut > 0 && (static_cast<unsigned char>(answer[cut]) & 0xC0) == 0x80) --cut;
  return EscapeControls(answer.substr(0, cut)) + "...[" + IntToStr(answer.size()) + " bytes]";
}

// The import of one copy as a terminal's post of it would run; "" when the copy
// no longer holds the GUID it was chosen for. Sets shown to the GUID as listed
// when it is empty.
std::string ReplayCopy(TTerminalSession& session, const TArchivedCopy& copy, const std::string& key,
                       std::string& shown) {
  try {
    TNativeXml document;
    document.LoadFromText(platform::ReadFileNoFollow(copy.Path, kLargestCopy));
    const TXmlNode* root = document.FirstElement();
    const TXmlNode* guid = root ? root->FindChild("GUID") : nullptr;
    if (!guid || GuidKey(guid->TextValue()) != key) return "";
    if (shown.empty()) shown = ListingField(guid->TextValue());
    return session.ImportConnectedOrder(ToolContext(), document);
  } catch (...) {
    return Cp1251ToUtf8(ExceptionMessage(std::current_exception()));
  }
}

}  // namespace

int RunOrders(TTerminalSession& session, const std::vector<std::string>& args,
              const TToolOutput& out) {
  std::optional<int64_t> since;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--since" && i + 1 < args.size()) {
      since = ParseDate(args[++i]);
      if (!since) {
        out.Err("dorvana --orders: \"" + EscapeControls(args[i]) +
                "\" is not a date of the form YYYY-MM-DD");
        return kToolUsage;
      }
    } else {
      out.Err("dorvana --orders: unexpected argument \"" + EscapeControls(args[i]) + "\"");
      return kToolUsage;
    }
  }
  const std::vector<TArchivedCopy> copies = ListArchive(since);
  TCopyClassifier classifier(session);
  out.Out("STATE\tFILE\tGUID\tDEVICEID\tPIN\tTABLE\tROWS\tTIME\tERROR");
  size_t counts[4] = {0, 0, 0, 0};
  std::set<std::string> missingOrders;  // GUID keys: short whatever the GUID
  ForEachCopy(copies, classifier, out, "--orders",
              [&](size_t, const TArchivedCopy& copy, TOrderFacts& f, TCopyState state) {
                ++counts[static_cast<int>(state)];
                if (state == TCopyState::Missing) missingOrders.insert(GuidKey(f.Guid));
                out.Out(std::string(StateName(state)) + "\t" + EscapeControls(copy.Path) + "\t" +
                        ListingField(f.Guid) + "\t" + f.DeviceId + "\t" + f.Pin + "\t" + f.Table +
                        "\t" + IntToStr(f.Rows) + "\t" + FormatUtcTime(copy.Time) + "\t" + f.Error);
              });
  std::string summary =
      Format("%d copies: %d imported, %d missing (%d orders), %d refused",
             {copies.size(), counts[0], counts[1], missingOrders.size(), counts[2]});
  if (counts[3] > 0) summary += Format(", %d unknown", {counts[3]});
  out.Out(summary);
  if (!classifier.DatabaseFailure().empty()) {
    out.Err("dorvana --orders: the database could not be asked: " + classifier.DatabaseFailure());
    return kToolFailed;
  }
  return kToolOk;
}

int RunReplay(TTerminalSession& session, const std::vector<std::string>& args,
              const TToolOutput& out) {
  bool allMissing = false;
  int64_t missingDays = kDefaultMissingDays;
  std::vector<std::string> guids;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--all-missing") {
      allMissing = true;
    } else if (args[i] == "--missing-days") {
      if (i + 1 >= args.size() || !ParseCount(args[i + 1], kMaxDays, missingDays)) {
        out.Err(
            Format("dorvana --replay: expected --missing-days DAYS (0 to %d); nothing was imported",
                   {kMaxDays}));
        return kToolUsage;
      }
      ++i;
    } else if (StartsText("--", args[i])) {
      out.Err("dorvana --replay: unknown option \"" + EscapeControls(args[i]) +
              "\"; nothing was imported");
      return kToolUsage;
    } else {
      guids.push_back(args[i]);
    }
  }
  if (allMissing == !guids.empty()) {
    out.Err(
        "dorvana --replay: name the orders (GUID...) or give --all-missing, not both; "
        "nothing was imported");
    return kToolUsage;
  }
  const std::vector<TArchivedCopy> copies = ListArchive(std::nullopt);
  TCopyClassifier classifier(session);
  if (!classifier.DatabaseFailure().empty()) {
    out.Err("dorvana --replay: nothing was imported: " + classifier.DatabaseFailure());
    return kToolFailed;
  }
  // One pass over the archive: of each GUID asked for, the newest copy that
  // may be imported, and whether it is in already.
  std::set<std::string> named;
  for (const std::string& guid : guids) named.insert(GuidKey(guid));
  const int64_t youngest = platform::UnixTimeNow() - missingDays * kSecondsPerDay;
  TNewestCopies newest, imported;
  ForEachCopy(copies, classifier, out, "--replay",
              [&](size_t i, const TArchivedCopy& copy, TOrderFacts& f, TCopyState state) {
                if (!f.HasGuid) return;
                const std::string key = GuidKey(f.Guid);
                if (allMissing ? state == TCopyState::Missing && copy.Time >= youngest
                               : named.count(key) && (state == TCopyState::Missing ||
                                                      state == TCopyState::Imported))
                  (state == TCopyState::Imported ? imported : newest).Offer(key, i, copy.Time);
              });
  if (!classifier.DatabaseFailure().empty()) {
    out.Err("dorvana --replay: nothing was imported: " + classifier.DatabaseFailure());
    return kToolFailed;
  }
  classifier.End();
  struct TChosen {
    std::string Key;
    size_t Index;
    std::string Shown;  // the GUID as listed; from the copy when not named
  };
  std::vector<TChosen> chosen;
  int failed = 0, done = 0;
  if (allMissing) {
    for (auto& [key, index] : newest.All()) chosen.push_back({key, index, ""});
  } else {
    for (const std::string& guid : guids) {
      const std::string key = GuidKey(guid);
      const long found = imported.Find(key) >= 0 ? imported.Find(key) : newest.Find(key);
      if (found >= 0) {
        chosen.push_back({key, static_cast<size_t>(found), ListingField(guid)});
        continue;
      }
      out.Out(ListingField(guid) +
              "\t-\tnot in the archive (no copy that may be imported holds it)");
      ++failed;
    }
  }
  for (TChosen& c : chosen) {
    const TArchivedCopy& copy = copies[c.Index];
    std::string answer = imported.Find(c.Key) >= 0 ? std::string("already imported")
                                                   : ReplayCopy(session, copy, c.Key, c.Shown);
    if (answer.empty()) answer = "the copy no longer holds this GUID: nothing was imported";
    if (c.Shown.empty()) c.Shown = "-";
    out.Out(c.Shown + "\t" + EscapeControls(copy.Path) + "\t" + AnswerField(answer));
    if (answer == "ok")
      ++done;
    else if (answer != "already imported")
      ++failed;
  }
  out.Out(Format("%d orders: %d imported now, %d not imported",
                 {allMissing ? chosen.size() : guids.size(), done, failed}));
  return failed == 0 ? kToolOk : kToolFailed;
}

}  // namespace service
