// The terminal's database work as one object: applying the settings file and
// connecting, the statements of the four database commands, the rule for
// running a command again on a new connection, and the request's deadline.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/StringList.h"
#include "service/RequestContext.h"
#include "service/Statements.h"

class TNativeXml;
class TpFIBDatabase;
class TpFIBTransaction;
class TpFIBQuery;
class EFIBError;
namespace platform {
class TWatchdog;
}

namespace service {

// A connect that failed; the message (Windows-1251) is the terminal's answer.
class EConnectFailed : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "EConnectFailed"; }
};

// Works on the components of the web module's form (owned by the module, so
// that every message names them as "DorvanaWebInterface.Database" and so on).
// A CGI process makes it once with its module; a FastCGI process keeps it with
// the module from one request to the next.
//
// What is kept, and what is renewed when:
// - every command reads the settings file again and applies it to the form's
//   connection settings (never to what an earlier file left);
// - the connection, with the statements its queries keep prepared, is kept
//   while the file gives the same connection parameters; it is closed and made
//   anew when they differ, when it is found lost, when a connect failed after
//   the attach, and when the request's deadline cut it off;
// - the transactions end with each command (rolled back if still active);
// - the deadline is armed by a command's first connect step and ends with it;
//   the watchdog's thread is made once and kept;
// - nothing of a request (its context, its parameters' values) is kept.
class TTerminalSession {
 public:
  struct TComponents {
    TpFIBDatabase* Database;
    TpFIBTransaction* TransactionRead;
    TpFIBTransaction* TransactionRW;
    TpFIBQuery* Query;
    TpFIBQuery* QueryOrder;
  };
  // The form's connection settings are those the database has now.
  explicit TTerminalSession(const TComponents& components);
  ~TTerminalSession();
  TTerminalSession(const TTerminalSession&) = delete;
  TTerminalSession& operator=(const TTerminalSession&) = delete;

  TpFIBDatabase& Database() const { return *F.Database; }
  TpFIBTransaction& TransactionRead() const { return *F.TransactionRead; }
  TpFIBQuery& Query() const { return *F.Query; }
  // The query and the transaction that run a statement of the catalogue.
  TpFIBQuery& QueryOf(const TCommandStatement& statement) const;
  TpFIBTransaction& TransactionOf(const TCommandStatement& statement) const;

  // Reads the settings file and connects: empty on success or when there is no
  // settings file, else the failure message. The file is applied as to a
  // session just made: a key it no longer names has the form's value. Lines go
  // to the context's log. Raises the deadline's failure when it has passed.
  std::string Connect(const TRequestContext& context);

  // The replies of the list commands (text/xml). Raise EConnectFailed when the
  // connect fails; any other failure leaves as it came.
  std::string FoodList(const TRequestContext& context, const std::string& cardCode,
                       const std::string& station);
  std::string FoodGroups(const TRequestContext& context, const std::string& cardCode,
                         const std::string& station);
  std::string Stewards(const TRequestContext& context);
  // Connects and imports a parsed order: "ok", or the error text in UTF-8 (a
  // failed connect's too). Raises for an order without a GUID.
  std::string ImportOrder(const TRequestContext& context, TNativeXml& document);
  // The same over the connection already made: the duplicate check, then the
  // import.
  std::string ImportConnectedOrder(const TRequestContext& context, TNativeXml& document);

 private:
  // The one reconnect rule. Runs a command's work and ends its transactions
  // and its deadline. When the work fails on a connection kept from an earlier
  // request that turns out lost, the connection is closed and the work runs
  // once more on a new one (RunsAgain); a request stopped by its deadline never
  // runs again; every other failure leaves as it came.
  void Run(const TRequestContext& context, const std::function<void()>& work);
  // The rule's test: the first attempt failed because a kept connection was
  // lost. The import asks it too, and re-raises only a failure from before its
  // commit was asked for.
  bool RunsAgain(const EFIBError& e) const;
  // Connects, raising EConnectFailed with the failure.
  void ConnectOrRaise(const TRequestContext& context);
  // Closes the connection without a round trip (it is made anew when next used).
  void DropConnection();
  // Ends the transactions still active (rolled back); a failure to end one
  // drops the connection.
  void EndTransactions();
  std::string ImportOrderOnce(const TRequestContext& context, TNativeXml& document);

  // The request's deadline: seconds after the context's start. At the deadline
  // the watchdog cuts the connection off, so that a call blocked on a silent
  // server fails at once; a client library that cannot do that leaves only
  // ending the process (with a line on standard error: the request's own
  // channel cannot be flushed by then). Raises EOSError when the watchdog
  // cannot start.
  void ArmDeadline(const TRequestContext& context, int seconds);
  // Whole seconds left, at least 1; raises the deadline failure when passed.
  int DeadlineSecondsLeft(const TRequestContext& context);
  // When the watchdog fired: the connection is dropped and the deadline's
  // failure raised. Its text never claims that nothing was stored.
  void RaiseIfPastDeadline(const TRequestContext& context);
  // At the end of a command: stops the watch; a connection cut off is dropped.
  void EndDeadline();

  TComponents F;
  // The form's connection settings.
  std::string FFormDBName;
  TStringList FFormDBParams;
  // The connection was made by an earlier request and kept.
  bool FConnectionKept = false;
  // The connection parameters the settings gave for the open connection (its
  // connect timeout as configured, before the deadline cut it).
  std::vector<std::string> FConnectedParams;
  // The attempt of the command running under Run (0 outside it).
  int FAttempt = 0;
  // The deadline (0 while none is armed, -1 once passed), its seconds, and the
  // watchdog, made by the first deadline.
  int64_t FDeadline = 0;
  int FDeadlineSeconds = 0;
  std::unique_ptr<platform::TWatchdog> FWatchdog;
};

}  // namespace service
