#include "service/OperatorTools.h"

#include <exception>
#include <map>
#include <set>

#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/Format.h"
#include "runtime/LogLine.h"
#include "runtime/Text.h"
#include "service/ArchiveScan.h"
#include "service/OrderErrorLine.h"
#include "service/Settings.h"
#include "service/Statements.h"
#include "service/Unit1.h"
#include "xml/NativeXml.h"

namespace service {

namespace {

const char kGeneralHelp[] =
    "Usage: dorvana OPTION [ARGUMENTS]   (run in the program's working folder)\n"
    "Without a CGI environment these options make the program an operator's tool;\n"
    "under a web server it always serves the request.\n"
    "  --check                    check the installation: settings, client library,\n"
    "                             database, statements, archive folder\n"
    "  --orders [--since DATE]    list the archived orders and their state\n"
    "  --replay GUID...           import the named archived orders that are missing\n"
    "  --replay --all-missing     import every archived order that is missing\n"
    "  --rotate [--older-than N]  move old imported and unreadable copies into\n"
    "                             dated subfolders of the archive\n"
    "  --fastcgi HOST:PORT|PATH [--processes N] [--socket-group NAME]\n"
    "            [--request-read-timeout SECONDS]\n"
    "                             serve FastCGI on that address (a PATH, any\n"
    "                             address with \"/\", is a Unix socket, mode 0660,\n"
    "                             group NAME) with N child processes (default 2);\n"
    "                             a connection must deliver its request within\n"
    "                             SECONDS (1 to 3600, default 30)\n"
    "  OPTION --help              that option's help\n";

const char kCheckHelp[] =
    "Usage: dorvana --check\n"
    "Reads the settings file as a request does (the password is not shown), loads\n"
    "the client library, connects, prepares every statement the terminal commands\n"
    "run, and looks at the archive folder and at the uniqueness rule on\n"
    "Restaurant_ImportedOrders.guid. One line per finding; a problem or warning\n"
    "starts with \"problem:\" or \"warning:\" and gives the text a terminal would get.\n"
    "Run it as the web server's user, so that the folder rights are that user's.\n"
    "Exit code: 0 all is well, 2 warnings only, 1 a problem.\n";

const char kOrdersHelp[] =
    "Usage: dorvana --orders [--since YYYY-MM-DD]\n"
    "Lists the copies in the archive folder Orders and its dated subfolders (those\n"
    "written on or after the date, UTC, with --since), one tab-separated line each:\n"
    "state, file, GUID, DEVICEID, PIN, TABLE, rows, file time (UTC), error.\n"
    "state: imported (the GUID is in the database), missing (not there), unreadable\n"
    "(the copy cannot be read as an order: the error says why), or unknown (the\n"
    "database could not be reached). A summary line closes the list; progress goes\n"
    "to standard error. Exit code: 0, or 1 when the database could not be reached.\n";

const char kReplayHelp[] =
    "Usage: dorvana --replay GUID...  |  dorvana --replay --all-missing\n"
    "Imports archived orders that are not in the database: the copy's text as it\n"
    "stands goes through addorder's duplicate check and import, with the same\n"
    "answer. No new archive copy is written. Of several copies of one GUID the\n"
    "newest is used. Safe while terminals post: each order is stored once.\n"
    "Nothing is imported unless named: a waiter may have keyed a lost order again\n"
    "under a new GUID, so check --orders before using --all-missing.\n"
    "One line per order: GUID, file, result. Exit code: 0 when every order named\n"
    "is in the database afterwards, else 1.\n";

const char kRotateHelp[] =
    "Usage: dorvana --rotate [--older-than DAYS]\n"
    "Moves copies out of the folder Orders into Orders/YYYY-MM-DD/ (the UTC date\n"
    "of the copy): imported copies older than DAYS (default 7), and unreadable\n"
    "copies of any age (except those of the last 10 minutes, which a request may\n"
    "still be writing). Names are kept; a file is never replaced. Missing copies\n"
    "stay. Run it daily. Exit code: 0, or 1 when a copy could not be moved or the\n"
    "database could not be reached (unreadable copies are still moved).\n";

constexpr int kDefaultRotateDays = 7;
constexpr int kMaxRotateDays = 36500;
// A copy this young may be one a request is writing at this moment: the web
// servers end a request after 300 s.
constexpr int64_t kInFlightSeconds = 600;

struct TTool {
  const char* Option;
  const char* Help;
  int (*Run)(TDorvanaWebInterface&, const std::vector<std::string>&, const TToolOutput&);
};

int RunCheckWithArgs(TDorvanaWebInterface& module, const std::vector<std::string>& args,
                     const TToolOutput& out) {
  if (args.size() > 1) {
    out.Err("dorvana --check: unexpected argument \"" + args[1] + "\"");
    return kToolUsage;
  }
  return RunCheck(module, out);
}

const TTool kTools[] = {{"--check", kCheckHelp, RunCheckWithArgs},
                        {"--orders", kOrdersHelp, RunOrders},
                        {"--replay", kReplayHelp, RunReplay},
                        {"--rotate", kRotateHelp, RunRotate}};

void WriteHelp(const std::function<void(const std::string&)>& line, const char* text) {
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    line(std::string(rest.substr(0, end)));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
}

// The state of each GUID in the database, read in one read transaction.
class TImportedLookup {
 public:
  explicit TImportedLookup(TDorvanaWebInterface& module) : FModule(module) {
    FModule.TransactionRead->StartTransaction();
    SetSql(*FModule.Query, kSqlOrderExists);
  }
  ~TImportedLookup() {
    try {
      if (FModule.TransactionRead->Active()) FModule.TransactionRead->Rollback();
    } catch (...) {
    }
  }
  bool Imported(const std::string& guid) {
    auto it = FKnown.find(guid);
    if (it != FKnown.end()) return it->second;
    TpFIBQuery& query = *FModule.Query;
    query.ParamNamed("GUID").SetAsText(guid);
    query.ExecQuery();
    const bool imported = query.ColumnNamed("cnt").AsInt32() > 0;
    query.CloseResult();
    FKnown.emplace(guid, imported);
    return imported;
  }

 private:
  TDorvanaWebInterface& FModule;
  std::map<std::string, bool> FKnown;
};

enum class TCopyState { Imported, Missing, Unreadable, Unknown };

const char* StateName(TCopyState state) {
  switch (state) {
    case TCopyState::Imported:
      return "imported";
    case TCopyState::Missing:
      return "missing";
    case TCopyState::Unreadable:
      return "unreadable";
    case TCopyState::Unknown:
      break;
  }
  return "unknown";
}

// The archive read with every copy's state. databaseFailure is set when the
// database could not be asked; readable copies are then Unknown.
struct TArchiveState {
  std::vector<TArchivedCopy> Copies;
  std::vector<TCopyState> States;
  std::string DatabaseFailure;
};

TArchiveState ReadArchiveState(TDorvanaWebInterface& module, int64_t since,
                               const TToolOutput& out) {
  TArchiveState result;
  result.Copies = ScanArchive(since, [&](size_t done, size_t total) {
    out.Err(Format("dorvana: read %d of %d archived copies", {done, total}));
  });
  result.DatabaseFailure = ConnectAsRequest(module);
  std::unique_ptr<TImportedLookup> lookup;
  if (result.DatabaseFailure.empty()) {
    try {
      lookup = std::make_unique<TImportedLookup>(module);
    } catch (...) {
      result.DatabaseFailure = OneLine(ExceptionMessage(std::current_exception()));
    }
  }
  result.States.reserve(result.Copies.size());
  for (const TArchivedCopy& copy : result.Copies) {
    TCopyState state = TCopyState::Unknown;
    if (!copy.Facts.Error.empty()) {
      state = TCopyState::Unreadable;
    } else if (lookup) {
      try {
        state = lookup->Imported(copy.Facts.Guid) ? TCopyState::Imported : TCopyState::Missing;
      } catch (...) {
        result.DatabaseFailure = OneLine(ExceptionMessage(std::current_exception()));
        lookup.reset();
      }
    }
    result.States.push_back(state);
  }
  return result;
}

}  // namespace

TToolOutput StandardToolOutput() {
  return {[](const std::string& line) {
            const std::string text = line + "\n";
            platform::WriteStdout(text.data(), static_cast<long>(text.size()));
          },
          [](const std::string& line) { platform::WriteStderr(line + "\n"); }};
}

bool IsOperatorCommand(int argc, const char* const* /*argv*/) {
  return argc >= 2 && !HasCgiEnvironment();
}

int RunOperatorCommand(int argc, const char* const* argv) {
  return RunOperatorCommand(std::vector<std::string>(argv + 1, argv + argc), StandardToolOutput());
}

int RunOperatorCommand(const std::vector<std::string>& args, const TToolOutput& out) {
  if (args.empty() || args[0] == "--help") {
    WriteHelp(out.Out, kGeneralHelp);
    return args.empty() ? kToolUsage : kToolOk;
  }
  for (const TTool& tool : kTools) {
    if (args[0] != tool.Option) continue;
    for (const std::string& arg : args)
      if (arg == "--help") {
        WriteHelp(out.Out, tool.Help);
        return kToolOk;
      }
    try {
      TDorvanaWebInterface module;
      return tool.Run(module, args, out);
    } catch (...) {
      out.Err("dorvana " + args[0] + ": " + OneLine(ExceptionMessage(std::current_exception())));
      return kToolFailed;
    }
  }
  out.Err("dorvana: unknown option \"" + args[0] + "\"; dorvana --help lists the options");
  return kToolUsage;
}

std::string ConnectAsRequest(TDorvanaWebInterface& module) {
  if (SettingsFileNames().empty())
    return "No settings file (a file named *.def) in the working folder " + platform::CurrentDir() +
           ": a request there has no database to connect to.";
  return OneLine(Cp1251ToUtf8(module.ApplySettingsAndConnect()));
}

int RunOrders(TDorvanaWebInterface& module, const std::vector<std::string>& args,
              const TToolOutput& out) {
  int64_t since = 0;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--since" && i + 1 < args.size()) {
      const std::optional<int64_t> date = ParseDate(args[++i]);
      if (!date) {
        out.Err("dorvana --orders: \"" + args[i] + "\" is not a date of the form YYYY-MM-DD");
        return kToolUsage;
      }
      since = *date;
    } else {
      out.Err("dorvana --orders: unexpected argument \"" + args[i] + "\"");
      return kToolUsage;
    }
  }
  const TArchiveState archive = ReadArchiveState(module, since, out);
  out.Out("STATE\tFILE\tGUID\tDEVICEID\tPIN\tTABLE\tROWS\tTIME\tERROR");
  size_t counts[4] = {0, 0, 0, 0};
  std::set<std::string> missingGuids;
  for (size_t i = 0; i < archive.Copies.size(); ++i) {
    const TArchivedCopy& copy = archive.Copies[i];
    const TOrderFacts& f = copy.Facts;
    const TCopyState state = archive.States[i];
    ++counts[static_cast<int>(state)];
    if (state == TCopyState::Missing) missingGuids.insert(f.Guid);
    out.Out(std::string(StateName(state)) + "\t" + OneLine(copy.Path) + "\t" + OneLine(f.Guid) +
            "\t" + OneLine(f.DeviceId) + "\t" + OneLine(f.Pin) + "\t" + OneLine(f.Table) + "\t" +
            IntToStr(f.Rows) + "\t" + FormatUtcTime(copy.Time) + "\t" + OneLine(f.Error));
  }
  std::string summary =
      Format("%d copies: %d imported, %d missing (%d orders), %d unreadable",
             {archive.Copies.size(), counts[0], counts[1], missingGuids.size(), counts[2]});
  if (counts[3] > 0) summary += Format(", %d unknown", {counts[3]});
  out.Out(summary);
  if (!archive.DatabaseFailure.empty()) {
    out.Err("dorvana --orders: the database could not be asked: " + archive.DatabaseFailure);
    return kToolFailed;
  }
  return kToolOk;
}

int RunReplay(TDorvanaWebInterface& module, const std::vector<std::string>& args,
              const TToolOutput& out) {
  bool allMissing = false;
  std::vector<std::string> guids;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--all-missing")
      allMissing = true;
    else if (StartsText("--", args[i])) {
      out.Err("dorvana --replay: unknown option \"" + args[i] + "\"; nothing was imported");
      return kToolUsage;
    } else
      guids.push_back(args[i]);
  }
  if (allMissing == !guids.empty()) {
    out.Err(
        "dorvana --replay: name the orders (GUID...) or give --all-missing, not both; "
        "nothing was imported");
    return kToolUsage;
  }
  const TArchiveState archive = ReadArchiveState(module, 0, out);
  if (!archive.DatabaseFailure.empty()) {
    out.Err("dorvana --replay: nothing was imported: " + archive.DatabaseFailure);
    return kToolFailed;
  }
  std::map<std::string, TCopyState> stateOf;
  for (size_t i = 0; i < archive.Copies.size(); ++i)
    if (archive.States[i] != TCopyState::Unreadable)
      stateOf[archive.Copies[i].Facts.Guid] = archive.States[i];
  if (allMissing)
    for (const auto& [guid, state] : stateOf)
      if (state == TCopyState::Missing) guids.push_back(guid);

  const std::vector<int> newest = NewestCopies(archive.Copies, guids);
  int failed = 0, imported = 0;
  for (size_t i = 0; i < guids.size(); ++i) {
    const std::string& guid = guids[i];
    if (newest[i] < 0) {
      out.Out(OneLine(guid) + "\t-\tnot in the archive (no readable copy holds it)");
      ++failed;
      continue;
    }
    const TArchivedCopy& copy = archive.Copies[newest[i]];
    if (stateOf[guid] == TCopyState::Imported) {
      out.Out(OneLine(guid) + "\t" + copy.Path + "\talready imported");
      continue;
    }
    std::string answer;
    try {
      TNativeXml document;
      document.LoadFromText(platform::ReadWholeFile(copy.Path));
      answer = module.ImportConnectedOrder(document);
    } catch (...) {
      answer = ExceptionMessage(std::current_exception());
    }
    out.Out(OneLine(guid) + "\t" + copy.Path + "\t" + OneLine(answer));
    if (answer == "ok")
      ++imported;
    else
      ++failed;
  }
  out.Out(Format("%d orders: %d imported now, %d not imported", {guids.size(), imported, failed}));
  return failed == 0 ? kToolOk : kToolFailed;
}

int RunRotate(TDorvanaWebInterface& module, const std::vector<std::string>& args,
              const TToolOutput& out) {
  int days = kDefaultRotateDays;
  for (size_t i = 1; i < args.size(); ++i) {
    int32_t value = 0;
    if (args[i] == "--older-than" && i + 1 < args.size() && TryStrToInt(args[i + 1], value) &&
        value >= 0 && value <= kMaxRotateDays && !StartsText("+", args[i + 1])) {
      days = value;
      ++i;
    } else {
      out.Err(Format("dorvana --rotate: expected --older-than DAYS (0 to %d), got \"%s\"",
                     {kMaxRotateDays, args[i]}));
      return kToolUsage;
    }
  }
  const TArchiveState archive = ReadArchiveState(module, 0, out);
  const int64_t now = platform::UnixTimeNow();
  const int64_t importedBefore = now - static_cast<int64_t>(days) * kSecondsPerDay;
  const std::string delimiter = platform::PathDelimiter();
  int moved = 0, kept = 0, failed = 0;
  for (size_t i = 0; i < archive.Copies.size(); ++i) {
    const TArchivedCopy& copy = archive.Copies[i];
    if (!copy.Subfolder.empty()) continue;
    const TCopyState state = archive.States[i];
    const bool due = (state == TCopyState::Imported && copy.Time < importedBefore) ||
                     (state == TCopyState::Unreadable && copy.Time < now - kInFlightSeconds);
    if (!due) continue;
    const std::string folder = std::string(kArchiveFolder) + delimiter + DateFolderName(copy.Time);
    const std::string target = folder + delimiter + copy.Name;
    try {
      platform::CreateDir(folder);
      if (platform::MoveFileNoReplace(copy.Path, target)) {
        ++moved;
      } else {
        out.Err("dorvana --rotate: kept " + copy.Path + ": " + target + " already exists");
        ++kept;
      }
    } catch (const EOSError& e) {
      out.Err("dorvana --rotate: kept " + copy.Path + ": " + OneLine(e.Message()));
      ++failed;
    }
  }
  out.Out(Format("%d copies moved, %d kept because the name is taken in the dated folder",
                 {moved, kept}));
  if (!archive.DatabaseFailure.empty()) {
    out.Err("dorvana --rotate: imported copies stay, the database could not be asked: " +
            archive.DatabaseFailure);
    return kToolFailed;
  }
  return failed == 0 && kept == 0 ? kToolOk : kToolFailed;
}

}  // namespace service
