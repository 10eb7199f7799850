// dorvana --check: an installation looked at the way a request would meet it.
#include <exception>

#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"
#include "service/Archive.h"
#include "service/ArchiveScan.h"
#include "service/OperatorTools.h"
#include "service/OrderErrorLine.h"
#include "service/Settings.h"
#include "service/Statements.h"
#include "service/TerminalSession.h"

namespace service {

namespace {

// From this share of the archive's names on, --check warns.
constexpr uint32_t kArchiveWarnPercent = 50;

// The findings: every line goes out at once; problems and warnings are counted.
class TFindings {
 public:
  explicit TFindings(const TToolOutput& out) : FOut(out) {}
  void Info(const std::string& line) { FOut.Out(line); }
  void Warning(const std::string& line) {
    FOut.Out("warning: " + OneLine(line));
    ++FWarnings;
  }
  void Problem(const std::string& line) {
    FOut.Out("problem: " + OneLine(line));
    ++FProblems;
  }
  int ExitCode() const {
    if (FProblems > 0) return kToolFailed;
    return FWarnings > 0 ? kToolWarnings : kToolOk;
  }
  int Problems() const { return FProblems; }

 private:
  const TToolOutput& FOut;
  int FWarnings = 0;
  int FProblems = 0;
};

void ReportSettings(TFindings& findings) {
  std::vector<std::string> names = SettingsFileNames();
  const std::string chosen = ChooseSettingsFile(names);
  if (chosen.empty()) return;
  if (names.size() > 1)
    findings.Warning(
        Format("%d settings files in the working folder; requests use \"%s\". "
               "Keep exactly one.",
               {names.size(), chosen}));
  findings.Info("settings file: " + platform::CurrentDir() + platform::PathDelimiter() + chosen);
  std::string text;
  try {
    text = platform::ReadFilePrefix(chosen, kSettingsFileMax);
  } catch (const EOSError& e) {
    findings.Problem("settings file \"" + chosen + "\" cannot be read (" + e.Message() +
                     "): requests connect with no settings");
    return;
  }
  const TConnectionSettings s = ParseSettings(text);
  const auto show = [&](const char* key, const std::optional<std::string>& value, bool mask) {
    if (value) findings.Info(std::string("  ") + key + (mask ? "********" : OneLine(*value)));
  };
  show("SERVER NAME=", s.ServerName, false);
  show("USER NAME=", s.UserName, false);
  show("PASSWORD=", s.Password, true);
  show("ROLE NAME=", s.RoleName, false);
  show("CONNECT TIMEOUT=", s.ConnectTimeout, false);
  if (!s.ServerName) findings.Warning("the settings file has no SERVER NAME= line");
}

// Runs a one-row query in the session's read transaction; its first column as
// text, trimmed.
std::string QueryText(TTerminalSession& session, const std::string& sql) {
  TpFIBQuery& query = session.Query();
  SetSql(query, {sql});
  query.ExecQuery();
  const std::string value = query.AtEnd() ? std::string() : Trim(query.ColumnNamed("V").AsText());
  query.CloseResult();
  return value;
}

void ReportDatabase(TTerminalSession& session, TFindings& findings) {
  TpFIBDatabase& db = session.Database();
  const std::string version = db.ClientLibraryVersion();
  if (!version.empty())
    findings.Info("client library: " + platform::MapLibraryName(db.LibraryName()) + ", version " +
                  OneLine(version));
  findings.Info("database: " + db.DBName());
  TpFIBTransaction& read = session.TransactionRead();
  try {
    read.StartTransaction();
    findings.Info(Format(
        "server version: %d.%d.%d.%d (%s)",
        {db.ServerMajorVersion(), db.ServerMinorVersion(), db.ServerRelease(), db.ServerBuild(),
         QueryText(session,
                   "select rdb$get_context('SYSTEM', 'ENGINE_VERSION') as v "
                   "from rdb$database")}));
    findings.Info("charset: database " +
                  QueryText(session, "select rdb$character_set_name as v from rdb$database") +
                  ", connection " + db.ConnectParams().CharSet() + "; dialect: database " +
                  QueryText(session, "select mon$sql_dialect as v from mon$database") +
                  ", connection " + IntToStr(db.SQLDialect()));
    const std::string rule = QueryText(
        session,
        "select first 1 i.rdb$index_name as v from rdb$indices i "
        "where i.rdb$relation_name = 'RESTAURANT_IMPORTEDORDERS' and i.rdb$unique_flag = 1 "
        "and coalesce(i.rdb$index_inactive, 0) = 0 and i.rdb$segment_count = 1 "
        "and exists (select 1 from rdb$index_segments s where s.rdb$index_name = "
        "i.rdb$index_name and s.rdb$field_name = 'GUID')");
    if (rule.empty())
      findings.Warning(
          "no uniqueness rule on Restaurant_ImportedOrders.guid: two posts of one order at "
          "the same moment may both be stored (alter table Restaurant_ImportedOrders add "
          "unique (guid))");
    else
      findings.Info("uniqueness rule on Restaurant_ImportedOrders.guid: " + rule);
    read.Commit();
  } catch (...) {
    findings.Problem("database facts: " + ExceptionMessage(std::current_exception()));
    if (read.Active()) read.Rollback();
  }

  // Every statement of the commands, prepared by the query and in the kind of
  // transaction the command runs it with, so that a failure reads as the
  // terminal would read it.
  int prepared = 0;
  for (const TCommandStatement& statement : kCommandStatements) {
    TpFIBQuery& query = session.QueryOf(statement);
    TpFIBTransaction& transaction = session.TransactionOf(statement);
    try {
      if (!transaction.Active()) transaction.StartTransaction();
      SetSql(query, *statement.Lines);
      query.Prepare();
      ++prepared;
    } catch (...) {
      std::string message = ExceptionMessage(std::current_exception());
      if (std::string_view(statement.Command) == "addorder") message = OrderErrorLine(message);
      findings.Problem(std::string(statement.Command) + ": " + OneLine(Cp1251ToUtf8(message)) +
                       " [in: " + (*statement.Lines)[0] + "]");
    }
  }
  for (const TCommandStatement& statement : kCommandStatements) {
    TpFIBTransaction& transaction = session.TransactionOf(statement);
    if (transaction.Active()) transaction.Rollback();
  }
  findings.Info(Format("statements: %d of %d prepared",
                       {prepared, static_cast<int>(kCommandStatements.size())}));
}

// Refused copies from this many on draw a warning: a terminal sends them only
// when it is faulty.
constexpr size_t kRefusedWarnCopies = 100;

void ReportArchive(TTerminalSession& session, bool connected, TFindings& findings,
                   const TToolOutput& out) {
  const std::string folder = platform::CurrentDir() + platform::PathDelimiter() + kArchiveFolder;
  if (!platform::DirectoryExists(kArchiveFolder)) {
    findings.Info("archive folder: " + folder + " does not exist yet (the first order makes it)");
    return;
  }
  // The names an order may take are those of the folder itself; dated
  // subfolders hold rotated copies.
  size_t copies = 0, wide = 0;
  for (const platform::TFolderEntry& e : platform::ListEntriesNoFollow(kArchiveFolder)) {
    if (e.IsFolder) continue;
    const std::optional<uint32_t> number = ArchiveNameNumber(e.Name);
    if (number) ++(*number < TArchiveNumbers::kArchiveNumbers ? copies : wide);
  }
  const std::string probe = std::string(kArchiveFolder) + platform::PathDelimiter() +
                            "dorvana-check-" + IntToStr(ClockSeed()) + ".tmp";
  try {
    bool exists = false;
    platform::TFileHandle file = platform::CreateFileExclusive(probe, exists);
    if (!exists) {
      file.Close();
      platform::DeleteFile(probe);
    }
  } catch (const EOSError& e) {
    findings.Problem("archive folder " + folder + " is not writable: " + e.Message());
  }
  uint64_t freeBytes = 0;
  bool canCreate = true;
  if (platform::FreeSpace(kArchiveFolder, freeBytes, canCreate)) {
    if (!canCreate)
      findings.Problem("archive folder " + folder +
                       ": its file system can make no more files: every order fails");
    else if (freeBytes < kLargestCopy)
      findings.Problem(
          Format("archive folder %s: %d bytes free on its file system, less than "
                 "the largest copy (%d bytes): orders fail",
                 {folder, static_cast<int64_t>(freeBytes), static_cast<int64_t>(kLargestCopy)}));
  }
  const size_t total = TArchiveNumbers::kArchiveNumbers;
  findings.Info(Format("archive folder: %s, %d copies (%d%% of its %d names)",
                       {folder, copies, copies * 100 / total, total}));
  if (copies * 100 >= total * kArchiveWarnPercent)
    findings.Warning(
        Format("the archive folder holds %d copies, %d%% of its %d names: run "
               "dorvana --rotate (daily) before it fills",
               {copies, copies * 100 / total, total}));
  if (wide > 0)
    findings.Warning(Format(
        "the archive folder holds %d copies named from the wider range (%d to %d): its usual "
        "names were crowded when they were written; run dorvana --rotate",
        {wide, total, TArchiveNumbers::kWideArchiveNumbers - 1}));

  // The copies of the folder itself by state: those waiting for replay or
  // rotation.
  // A connect that failed above is not tried again (it may have waited long).
  TCopyClassifier classifier(session, connected);
  size_t counts[4] = {0, 0, 0, 0};
  const TToolOutput quiet{out.Out, [](const std::string&) {}};  // no progress lines
  ForEachCopy(ListArchive(std::nullopt, false), classifier, quiet, "--check",
              [&](size_t, const TArchivedCopy&, TOrderFacts&, TCopyState state) {
                ++counts[static_cast<int>(state)];
              });
  std::string line = Format("archive copies in %s: %d imported, %d missing, %d refused",
                            {kArchiveFolder, counts[0], counts[1], counts[2]});
  if (counts[3] > 0) line += Format(", %d unknown (no database)", {counts[3]});
  findings.Info(line);
  if (counts[2] >= kRefusedWarnCopies)
    findings.Warning(Format(
        "%d refused copies in %s: posts that can never become orders (a faulty terminal, or "
        "posts from outside the terminals' network); dorvana --rotate moves them into %s%s%s",
        {counts[2], kArchiveFolder, kArchiveFolder, platform::PathDelimiter(), kRefusedFolder}));
}

}  // namespace

int RunCheck(TTerminalSession& session, const TToolOutput& out) {
  TFindings findings(out);
  ReportSettings(findings);
  // The terminal's text for a library that cannot be loaded names only the
  // configured name: the file and the loader's reason come first.
  const std::string library = session.Database().LibraryName();
  const std::string reason = TryLoadClientLibrary(library);
  if (!reason.empty())
    findings.Info("client library: " + platform::MapLibraryName(library) +
                  " cannot be loaded: " + OneLine(reason));
  const std::string failure = ConnectAsRequest(session);
  if (!failure.empty())
    findings.Problem("connect: " + failure);
  else
    ReportDatabase(session, findings);
  ReportArchive(session, failure.empty(), findings, out);
  if (findings.ExitCode() == kToolOk)
    findings.Info("all is well");
  else if (findings.ExitCode() == kToolWarnings)
    findings.Info("warnings only: the terminals are served");
  else
    findings.Info(Format("%d problem(s): terminals will fail", {findings.Problems()}));
  return findings.ExitCode();
}

}  // namespace service
