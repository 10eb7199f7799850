#include "service/TerminalSession.h"

#include <algorithm>
#include <exception>

#include "fb/fib.h"
#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"
#include "service/Settings.h"

namespace service {

namespace {

const char kConnectTimeoutItem[] = "connect_timeout=";

}  // namespace

TTerminalSession::TTerminalSession(const TComponents& components)
    : F(components),
      FFormDBName(components.Database->DBName()),
      FFormDBParams(components.Database->DBParams()) {}

TTerminalSession::~TTerminalSession() {
  // The watchdog's thread ends before the connection it may cut off goes.
  FWatchdog.reset();
}

TpFIBQuery& TTerminalSession::QueryOf(const TCommandStatement& statement) const {
  return statement.Runner == TStatementRunner::Write ? *F.QueryOrder : *F.Query;
}

TpFIBTransaction& TTerminalSession::TransactionOf(const TCommandStatement& statement) const {
  return statement.Runner == TStatementRunner::Write ? *F.TransactionRW : *F.TransactionRead;
}

// The settings file is the first "*.def" file of the working directory in byte
// order of the names; installations keep exactly one, and every request that
// finds more says so in its log. A folder of that name is no settings file.
std::string TTerminalSession::Connect(const TRequestContext& context) {
  TpFIBDatabase& database = *F.Database;
  std::vector<std::string> names = SettingsFileNames();
  const std::string settingsFile = ChooseSettingsFile(names);
  if (settingsFile.empty()) {
    // A session just made has no connection, and the form's parameters.
    FConnectionKept = false;
    if (database.Connected()) database.CloseConnection(true);
    database.SetDBName(FFormDBName);
    database.SetDBParams(FFormDBParams);
    return "";
  }
  if (names.size() > 1) {
    std::sort(names.begin(), names.end());
    std::string ignored;
    for (const std::string& name : names) {
      if (name == settingsFile) continue;
      if (!ignored.empty()) ignored += ", ";
      ignored += "\"" + name + "\"";
    }
    context.LogLine(
        Format("warning: %d settings files in the working folder; using \"%s\", ignoring %s. Keep "
               "exactly one.",
               {static_cast<int>(names.size()), settingsFile, ignored}));
  }

  // A file that cannot be read counts as an empty one: the connect then fails
  // with the session's own (empty) settings and says why.
  std::string text;
  try {
    text = platform::ReadFilePrefix(settingsFile, kSettingsFileMax);
  } catch (const EOSError&) {
  }

  const TConnectionSettings settings = ParseSettings(text);
  // A value out of its range fails the command, naming its line.
  const auto badLine = [&](const char* key, const std::string& value, int max) {
    return Format(
        "Settings file \"%s\": the line \"%s%s\" is not a whole number of seconds from 1 to "
        "%d. Nothing was sent to the database.",
        {settingsFile, key, value, max});
  };
  int connectTimeout = kDefaultConnectTimeout;
  if (settings.ConnectTimeout) {
    const std::optional<int> seconds = ConnectTimeoutSeconds(*settings.ConnectTimeout);
    if (!seconds) return badLine("CONNECT TIMEOUT=", *settings.ConnectTimeout, 255);
    connectTimeout = *seconds;
  }
  int requestTimeout = kDefaultRequestTimeout;
  if (settings.RequestTimeout) {
    const std::optional<int> seconds = RequestTimeoutSeconds(*settings.RequestTimeout);
    if (!seconds) return badLine("REQUEST TIMEOUT=", *settings.RequestTimeout, kMaxRequestTimeout);
    requestTimeout = *seconds;
  }
  // From here on the request runs against its deadline.
  ArmDeadline(context, requestTimeout);
  // The file applies to the form's settings, never to what an earlier request's
  // file left: a line removed since then gives the form's value back.
  TFIBDatabase wanted;
  wanted.SetDBName(FFormDBName);
  wanted.SetDBParams(FFormDBParams);
  if (settings.ServerName) wanted.SetDBName(*settings.ServerName);
  // Each setter replaces its entry where it stands or appends it: line by line,
  // the entries follow the file's order.
  TConnectParams& params = wanted.ConnectParams();
  for (const auto& [field, value] : settings.LoginLines) {
    if (field == &TConnectionSettings::UserName) params.SetUserName(value);
    if (field == &TConnectionSettings::Password) params.SetPassword(value);
    if (field == &TConnectionSettings::RoleName) params.SetRoleName(value);
  }
  // After the file's own entries: a host that accepts and never answers fails
  // the connect after this many seconds.
  wanted.AddDBParam(kConnectTimeoutItem + IntToStr(connectTimeout));

  // The connection of an earlier request is kept while its parameters stay.
  const bool same =
      wanted.DBName() == database.DBName() && wanted.DBParams().Lines() == FConnectedParams;
  FConnectionKept = same && database.Connected();
  if (FConnectionKept) return "";
  if (database.Connected()) database.CloseConnection(true);
  FConnectedParams = wanted.DBParams().Lines();
  // The connect may take no more than what is left of the request's deadline.
  TStringList sent = wanted.DBParams();
  const int left = DeadlineSecondsLeft(context);
  if (left < connectTimeout) sent[sent.Count() - 1] = kConnectTimeoutItem + IntToStr(left);
  database.SetDBName(wanted.DBName());
  database.SetDBParams(sent);

  try {
    database.SetConnected(true);
  } catch (...) {
    // A connect can fail after the attach (the server's facts, the clock, the
    // dialect): no connection whose set-up never finished is left for the next
    // request to take as kept; it connects anew, as a fresh process would.
    DropConnection();
    RaiseIfPastDeadline(context);
    return ExceptionMessage(std::current_exception());
  }
  return "";
}

void TTerminalSession::ConnectOrRaise(const TRequestContext& context) {
  std::string failure = Connect(context);
  if (!failure.empty()) throw EConnectFailed(std::move(failure));
}

void TTerminalSession::Run(const TRequestContext& context, const std::function<void()>& work) {
  // The deadline ends with the command, whichever way it ends.
  struct TEnd {
    TTerminalSession& session;
    ~TEnd() {
      session.FAttempt = 0;
      session.EndDeadline();
    }
  } end{*this};
  for (FAttempt = 0;; ++FAttempt) {
    try {
      work();
      EndTransactions();
      return;
    } catch (const EFIBError& e) {
      EndTransactions();
      // A call that failed because the deadline cut the connection off is
      // never run again: the failure is the deadline's.
      RaiseIfPastDeadline(context);
      const bool again = RunsAgain(e);
      if (IsConnectionLost(e)) {
        // Closed, so that the next use connects anew.
        FConnectionKept = false;
        DropConnection();
      }
      if (!again) throw;
    } catch (...) {
      EndTransactions();
      throw;
    }
  }
}

bool TTerminalSession::RunsAgain(const EFIBError& e) const {
  return FAttempt == 0 && FConnectionKept && IsConnectionLost(e);
}

void TTerminalSession::DropConnection() {
  try {
    if (F.Database->Connected()) F.Database->CloseConnection(true);
  } catch (...) {
  }
}

void TTerminalSession::EndTransactions() {
  for (TpFIBTransaction* transaction : {F.TransactionRead, F.TransactionRW}) {
    if (!transaction || !transaction->Active()) continue;
    try {
      transaction->Rollback();
    } catch (...) {
      DropConnection();
    }
  }
}

void TTerminalSession::ArmDeadline(const TRequestContext& context, int seconds) {
  // Only a request has a deadline (an operator's tool runs as long as it needs),
  // and a command's second connect keeps the first one's.
  if (context.Start == 0 || FDeadline != 0) return;
  FDeadline = context.Start + int64_t{seconds} * 1000;
  FDeadlineSeconds = seconds;
  if (!FWatchdog) FWatchdog = std::make_unique<platform::TWatchdog>();
  F.Database->ClearAbort();
  TpFIBDatabase* database = F.Database;
  const std::string command = context.Command;
  FWatchdog->Arm(FDeadline, [database, command, seconds] {
    if (database->AbortConnection()) return;
    // Nothing else can free a call blocked on a silent server: the process
    // ends, and a persistent one is replaced by its supervisor.
    platform::WriteLogLine(
        command, Format("error: the request ran past its deadline of %d seconds and the client "
                        "library cannot cut its connection off; the process ends",
                        {seconds}));
    platform::ExitNow(1);
  });
}

int TTerminalSession::DeadlineSecondsLeft(const TRequestContext& context) {
  if (FDeadline == 0) return INT32_MAX;
  const int64_t left = FDeadline - platform::SteadyMilliseconds();
  if (left <= 0) {
    // Nothing more may start: the watchdog fires about now anyway.
    if (FWatchdog) FWatchdog->Disarm();
    F.Database->AbortConnection();
    FDeadline = -1;  // past: RaiseIfPastDeadline raises
    RaiseIfPastDeadline(context);
  }
  return static_cast<int>(std::max<int64_t>(1, left / 1000));
}

void TTerminalSession::RaiseIfPastDeadline(const TRequestContext& context) {
  if (FDeadline == 0 || !(FDeadline < 0 || (FWatchdog && FWatchdog->Fired()))) return;
  FConnectionKept = false;
  DropConnection();
  std::string message = Format(
      "The database did not answer within the request's deadline of %d seconds (REQUEST "
      "TIMEOUT); the request was stopped and its connection closed.",
      {FDeadlineSeconds});
  if (context.Command == "addorder")
    message += " The order may have been stored: send it again, and it is kept once.";
  throw Exception(message);
}

void TTerminalSession::EndDeadline() {
  if (FDeadline == 0) return;
  const bool fired = FDeadline < 0 || (FWatchdog && FWatchdog->Disarm());
  FDeadline = 0;
  F.Database->ClearAbort();
  if (!fired) return;
  // Cut off, the connection is of no use to the next request (nor its kept
  // statements): dropped here, without a round trip, it is made anew then.
  FConnectionKept = false;
  DropConnection();
}

}  // namespace service
