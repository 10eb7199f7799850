#include "service/OperatorTools.h"

#include <exception>
#include <map>
#include <set>

#include "fb/fib.h"
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
#include "service/TerminalSession.h"
#include "service/Unit1.h"
#include "xml/NativeXml.h"

namespace service {

namespace {

// The general help: the tools' lines, the FastCGI server's (beside its options
// in cgi/CommandLine.cpp), then how to get one option's help.
const char kToolsHelp[] =
    "Usage: dorvana OPTION [ARGUMENTS]   (run in the program's working folder)\n"
    "Without a CGI environment these options make the program an operator's tool;\n"
    "under a web server it always serves the request.\n"
    "  --check                    check the installation: settings, client library,\n"
    "                             database, statements, archive folder\n"
    "  --orders [--since DATE]    list the archived orders and their state\n"
    "  --replay GUID...           import the named archived orders that are missing\n"
    "  --replay --all-missing     import every archived order that is missing\n"
    "  --rotate [--older-than N]  move old copies into dated subfolders of the\n"
    "                             archive; refused ones into Orders/refused\n";
const char kOptionHelpLine[] = "  OPTION --help              that option's help\n";

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
    "state: imported (the GUID is in the database), refused (the copy itself can\n"
    "never be imported: the error says why), missing (any other copy not in the\n"
    "database), or unknown (the database could not be reached). Fields are cut to\n"
    "64 bytes, their whole length noted; control bytes show as \\xHH. Copies in\n"
    "Orders/refused are not listed. A summary line closes the list; progress goes\n"
    "to standard error. Exit code: 0, or 1 when the database could not be reached.\n";

const char kReplayHelp[] =
    "Usage: dorvana --replay GUID...\n"
    "       dorvana --replay --all-missing [--missing-days DAYS]\n"
    "Imports archived orders that are not in the database: the copy's text as it\n"
    "stands goes through addorder's duplicate check and import, with the same\n"
    "answer. No new archive copy is written. Of several copies of one GUID the\n"
    "newest is used. Safe while terminals post: each order is stored once.\n"
    "Nothing is imported unless named: a waiter may have keyed a lost order again\n"
    "under a new GUID, so check --orders before using --all-missing, which leaves\n"
    "out orders whose copies are all older than DAYS (default 30; name them).\n"
    "One line per order: GUID, file, result. Exit code: 0 when every order named\n"
    "is in the database afterwards, else 1.\n";

const char kRotateHelp[] =
    "Usage: dorvana --rotate [--older-than DAYS] [--missing-days DAYS]\n"
    "                        [--refused-limit MIB]\n"
    "Moves copies out of the folder Orders (never those of the last 10 minutes,\n"
    "which a request may still be writing): imported copies older than DAYS\n"
    "(--older-than, default 7) and missing ones older than --missing-days (default\n"
    "30) into Orders/YYYY-MM-DD/ (the UTC date of the copy), refused copies older\n"
    "than DAYS into Orders/refused/YYYY-MM-DD/. A copy keeps its name, or gets a\n"
    "free one where that is taken; a file is never replaced. Then the oldest\n"
    "refused copies are deleted while Orders/refused holds more than MIB MiB\n"
    "(default 1024), one line for each. Numbers are decimal digits. Run it daily.\n"
    "Exit code: 0, or 1 when a copy could not be moved or the database could not\n"
    "be reached (copies without a GUID are still moved).\n";

struct TTool {
  const char* Option;
  const char* Help;
  int (*Run)(TTerminalSession&, const std::vector<std::string>&, const TToolOutput&);
};

int RunCheckWithArgs(TTerminalSession& session, const std::vector<std::string>& args,
                     const TToolOutput& out) {
  if (args.size() > 1) {
    out.Err("dorvana --check: unexpected argument \"" + EscapeControls(args[1]) + "\"");
    return kToolUsage;
  }
  return RunCheck(session, out);
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

}  // namespace

TToolOutput StandardToolOutput() {
  return {[](const std::string& line) {
            const std::string text = line + "\n";
            platform::WriteStdout(text.data(), static_cast<long>(text.size()));
          },
          [](const std::string& line) { platform::WriteStderr(line + "\n"); }};
}

int RunOperatorCommand(const std::vector<std::string>& args, const TToolOutput& out) {
  if (args.empty() || args[0] == "--help") {
    WriteHelp(out.Out, kToolsHelp);
    WriteHelp(out.Out, kFastCGIOptionsHelp);
    WriteHelp(out.Out, kOptionHelpLine);
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
      TDorvanaWebInterface module{TDorvanaWebInterface::TDatabaseOnly{}};
      return tool.Run(module.Session(), args, out);
    } catch (...) {
      out.Err("dorvana " + args[0] + ": " + OneLine(ExceptionMessage(std::current_exception())));
      return kToolFailed;
    }
  }
  out.Err("dorvana: unknown option \"" + EscapeControls(args[0]) +
          "\"; dorvana --help lists the options");
  return kToolUsage;
}

std::string ConnectAsRequest(TTerminalSession& session) {
  if (SettingsFileNames().empty())
    return "No settings file (a file named *.def) in the working folder " + platform::CurrentDir() +
           ": a request there has no database to connect to.";
  return OneLine(Cp1251ToUtf8(session.Connect(ToolContext())));
}

const char* StateName(TCopyState state) {
  switch (state) {
    case TCopyState::Imported:
      return "imported";
    case TCopyState::Missing:
      return "missing";
    case TCopyState::Refused:
      return "refused";
    case TCopyState::Unknown:
      break;
  }
  return "unknown";
}

TCopyClassifier::TCopyClassifier(TTerminalSession& session, bool connect) : FSession(session) {
  FFailure = connect ? ConnectAsRequest(session) : "not asked";
  if (!FFailure.empty()) return;
  try {
    FSession.TransactionRead().StartTransaction();
    SetSql(FSession.Query(), kSqlOrderExists);
    FStarted = true;
  } catch (...) {
    FFailure = OneLine(ExceptionMessage(std::current_exception()));
  }
}

TCopyClassifier::~TCopyClassifier() {
  try {
    End();
  } catch (...) {
  }
}

void TCopyClassifier::End() {
  FStarted = false;
  if (FSession.TransactionRead().Active()) FSession.TransactionRead().Rollback();
}

bool TCopyClassifier::Imported(const std::string& guid) {
  // Only short GUIDs are remembered, and only so many: a flood of distinct
  // orders must not grow the tool without bound.
  constexpr size_t kMaxRemembered = 200000;
  const bool remember = guid.size() <= kGuidKeyBytes;
  if (remember) {
    auto it = FKnown.find(guid);
    if (it != FKnown.end()) return it->second;
  }
  TpFIBQuery& query = FSession.Query();
  query.ParamNamed("GUID").SetAsText(guid);
  query.ExecQuery();
  const bool imported = query.ColumnNamed("cnt").AsInt32() > 0;
  query.CloseResult();
  if (remember) {
    if (FKnown.size() >= kMaxRemembered) FKnown.clear();
    FKnown.emplace(guid, imported);
  }
  return imported;
}

TCopyState TCopyClassifier::StateOf(TOrderFacts& facts) {
  // A copy without a GUID names no order that could be in the database.
  if (!facts.HasGuid) return TCopyState::Refused;
  if (!FStarted || !FFailure.empty()) return TCopyState::Unknown;
  try {
    if (Imported(facts.Guid)) return TCopyState::Imported;
  } catch (const EFIBError& e) {
    try {
      FSession.Query().CloseResult();
    } catch (...) {
    }
    if (IsConnectionLost(e)) {
      FFailure = OneLine(e.Message());
      return TCopyState::Unknown;
    }
    // The database will not even look this GUID up (one longer than its column,
    // say): the import's own check fails the same way.
    if (facts.Error.empty()) facts.Error = ListingField(e.Message(), 256);
    return TCopyState::Missing;
  }
  return facts.Error.empty() ? TCopyState::Missing : TCopyState::Refused;
}

void ForEachCopy(
    const std::vector<TArchivedCopy>& copies, TCopyClassifier& classifier, const TToolOutput& out,
    const std::string& tool,
    const std::function<void(size_t, const TArchivedCopy&, TOrderFacts&, TCopyState)>& visit) {
  for (size_t i = 0; i < copies.size(); ++i) {
    TOrderFacts facts = ReadCopy(copies[i]);
    const TCopyState state = classifier.StateOf(facts);
    visit(i, copies[i], facts, state);
    if ((i + 1) % kProgressStep == 0)
      out.Err(Format("dorvana %s: read %d of %d archived copies", {tool, i + 1, copies.size()}));
  }
}

bool ParseCount(const std::string& text, int64_t max, int64_t& value) {
  if (text.empty() || text.size() > 12) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= max;
}

}  // namespace service
