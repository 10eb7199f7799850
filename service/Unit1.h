// The web module of the terminal service: its components, fixed in its form,
// and the one action handler that runs the command a terminal names in "q".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cgi/HTTPApp.h"
#include "runtime/StringList.h"

class TNativeXml;
class THTTPSoapDispatcher;
class THTTPSoapPascalInvoker;
class TWSDLHTMLPublish;
class TpFIBDatabase;
class TpFIBTransaction;
class TpFIBQuery;
class EFIBError;
namespace platform {
class TWatchdog;
}

// One per process, created by the application from its form and destroyed with
// it; owns every component on it. The handler's failures other than a failed
// connect or import leave it as exceptions, answered by the dispatcher.
class TDorvanaWebInterface : public TWebModule {
 public:
  explicit TDorvanaWebInterface(TComponent* owner = nullptr);
  ~TDorvanaWebInterface() override;
  std::string ClassName() const override { return "TDorvanaWebInterface"; }

  // Components of the form, in creation order.
  TpFIBDatabase* Database = nullptr;
  TpFIBTransaction* TransactionRead = nullptr;
  TpFIBTransaction* TransactionRW = nullptr;
  TpFIBQuery* Query = nullptr;
  TpFIBQuery* QueryOrder = nullptr;
  THTTPSoapDispatcher* HTTPSoapDispatcher1 = nullptr;
  THTTPSoapPascalInvoker* HTTPSoapPascalInvoker1 = nullptr;
  TWSDLHTMLPublish* WSDLHTMLPublish1 = nullptr;

  // Runs the command named by the query field "q"; an unknown command leaves the
  // response as it is. Never clears Handled.
  void WebModule1DefaultHandlerAction(TComponent* Sender, TWebRequest* Request,
                                      TWebResponse* Response, bool& Handled);

  // Reads the settings file and connects Database: empty on success or when
  // there is no settings file, else the failure message. The file is applied as
  // to a module just created from its form: a key it no longer names has the
  // form's value. A connection kept from an earlier request stays open while the
  // file gives the same connection parameters, and is closed and made anew when
  // they differ; without a settings file there is none.
  std::string ApplySettingsAndConnect();
  // Imports a parsed order: "ok", or the error text in UTF-8.
  std::string ImportOrder(TNativeXml& Document);
  // The same over the connection already made: the duplicate check, then the
  // import. Raises for an order without a GUID, as ImportOrder does.
  std::string ImportConnectedOrder(TNativeXml& Document);

 private:
  void GetSprFood(TWebRequest* Request, TWebResponse* Response);
  void GetSprFoodGroup(TWebRequest* Request, TWebResponse* Response);
  void GetSprStewards(TWebRequest* Request, TWebResponse* Response);
  void AddOrder(TWebRequest* Request, TWebResponse* Response);

  // Runs a command and ends its transactions. When the connection kept from an
  // earlier request turns out lost, it is closed, and a command that only reads
  // (mayRunAgain) runs once more on a new one; every other failure (and a second
  // loss) leaves as it came.
  template <class F>
  void RunWithReconnect(F command, bool mayRunAgain);
  // After a failure: closes a lost connection (so that the next use connects
  // anew) and says whether the command may run again: the connection was lost
  // and had been kept from an earlier request, and this was the first attempt.
  bool ForgetLostConnection(const EFIBError& e, int attempt);
  // Ends the module's transactions that are still active (rolled back), so that
  // none outlives the request; a failure to end one is ignored, the connection is
  // then closed.
  void EndTransactions();
  // Imports once on the current connection; raises a lost kept connection's
  // error when the loss came before the commit was asked for.
  std::string ImportOrderOnce(TNativeXml& Document);

  // The request's deadline: seconds after its start (FRequestStart). Armed by
  // the first connect step of a command (again: no change); at the deadline the
  // watchdog cuts the connection off, so that a call blocked on a silent server
  // fails at once. A client library that cannot do that leaves only ending the
  // process (with a line on standard error). Raises EOSError when the watchdog
  // cannot start.
  void ArmDeadline(int seconds);
  // Whole seconds left before the deadline, at least 1 (for the timeouts it
  // cuts); raises the deadline failure when it has passed.
  int DeadlineSecondsLeft();
  // When the watchdog fired: the connection is closed (never used again) and
  // the deadline failure raised. Its text names the deadline and never claims
  // that nothing was stored.
  void RaiseIfPastDeadline();
  // At the end of a command: stops the watch; a connection that was cut off is
  // closed, so that the next request connects anew.
  void EndDeadline();

  // The command being served ("q"), named in the lines written to standard error.
  std::string FCommand;
  // The form's connection settings, which a settings file changes per request.
  std::string FFormDBName;
  TStringList FFormDBParams;
  // The connection was made by an earlier request and kept.
  bool FConnectionKept = false;
  // The connection parameters the settings gave for the open connection (its
  // connect timeout as configured, before the deadline cut it).
  std::vector<std::string> FConnectedParams;
  // The request's start (platform::SteadyMilliseconds; 0 before the first
  // request); its deadline, 0 while none is armed; the watchdog, made by the
  // first deadline.
  int64_t FRequestStart = 0;
  int64_t FDeadline = 0;
  int FDeadlineSeconds = 0;
  std::unique_ptr<platform::TWatchdog> FWatchdog;
};
