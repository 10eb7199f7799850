// The operator's tools: modes of the program run by hand in its working folder,
// never under a web server. "dorvana --help" lists them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cgi/CommandLine.h"
#include "service/ArchiveScan.h"

namespace service {

class TTerminalSession;

// Where a tool's lines go: Out for its report, Err for progress and for lines
// about the command itself. Each call is one line, given without its LF.
struct TToolOutput {
  std::function<void(const std::string&)> Out;
  std::function<void(const std::string&)> Err;
};
// Standard output and standard error.
TToolOutput StandardToolOutput();

// Exit codes of the tools.
inline constexpr int kToolOk = 0;
inline constexpr int kToolFailed = 1;              // a problem, or an order not imported
inline constexpr int kToolWarnings = 2;            // --check: warnings but no problem
inline constexpr int kToolUsage = kUsageExitCode;  // the command line itself is wrong

// Runs the tool the arguments name (program name excluded): the command line of
// a process run by hand (cgi/CommandLine.h reads it, main.cpp calls this).
// Returns the exit code; an option no tool knows gets a usage line.
int RunOperatorCommand(const std::vector<std::string>& args, const TToolOutput& out);

// The tools, each over a session built for it, run in the working folder.
int RunCheck(TTerminalSession& session, const TToolOutput& out);
int RunOrders(TTerminalSession& session, const std::vector<std::string>& args,
              const TToolOutput& out);
int RunReplay(TTerminalSession& session, const std::vector<std::string>& args,
              const TToolOutput& out);
int RunRotate(TTerminalSession& session, const std::vector<std::string>& args,
              const TToolOutput& out);

// Connects the session as a request does. Empty on success, else the line a
// terminal would get (or, without a settings file, one that says so).
std::string ConnectAsRequest(TTerminalSession& session);

// What became of an archived copy. Imported: its GUID is in the database.
// Refused: the copy alone shows it can never be imported (ReadOrderFacts gives
// the reason) and its GUID is not in the database. Missing: any other copy whose
// GUID is not there (an outage, or the database's own rules). Unknown: the
// database could not be asked.
enum class TCopyState { Imported, Missing, Refused, Unknown };
const char* StateName(TCopyState state);

// Tells the state of copies one at a time, asking the database in one read
// transaction of the session, which it connects as a request does. Short GUIDs
// are remembered; long ones are asked again, so that memory stays small.
class TCopyClassifier {
 public:
  // Without connect the database is not asked: copies with a GUID are Unknown.
  explicit TCopyClassifier(TTerminalSession& session, bool connect = true);
  ~TCopyClassifier();
  TCopyClassifier(const TCopyClassifier&) = delete;
  TCopyClassifier& operator=(const TCopyClassifier&) = delete;
  // A failed lookup of one GUID (not a lost connection) makes it Missing, the
  // database's message put in facts.Error when it holds none.
  TCopyState StateOf(TOrderFacts& facts);
  // Ends the read transaction, before the session imports; no state is told after.
  void End();
  // Why the database could not be asked (the connect, or a lost connection);
  // empty while it can.
  const std::string& DatabaseFailure() const { return FFailure; }

 private:
  bool Imported(const std::string& guid);
  TTerminalSession& FSession;
  std::string FFailure;
  bool FStarted = false;
  std::map<std::string, bool> FKnown;
};

// Reads the copies one at a time in the order given and hands each to visit
// with its facts and state; shows progress on Err every kProgressStep copies.
void ForEachCopy(
    const std::vector<TArchivedCopy>& copies, TCopyClassifier& classifier, const TToolOutput& out,
    const std::string& tool,
    const std::function<void(size_t, const TArchivedCopy&, TOrderFacts&, TCopyState)>& visit);

// A count given on the command line: decimal digits only, at most max.
bool ParseCount(const std::string& text, int64_t max, int64_t& value);
// Days an unimported copy that is not refused stays where replay finds it.
inline constexpr int64_t kDefaultMissingDays = 30;
inline constexpr int64_t kMaxDays = 36500;

}  // namespace service
