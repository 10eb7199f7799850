#include "service/Unit1.h"

#include <algorithm>

#include "fb/fib.h"
#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"
#include "soap/SoapTestImpl.h"
#include "soap/WSDLPub.h"
#include "soap/WebBrokerSOAP.h"

namespace {

// The form of the module: its name and action item, then its components in the
// order they are created. A component's links to others run once all exist.
TFormDescription DorvanaWebInterfaceForm() {
  using M = TDorvanaWebInterface;
  TFormDescription form;
  form.Properties = [](TComponent* module) {
    auto& m = static_cast<M&>(*module);
    m.SetName("DorvanaWebInterface");
    TWebActionItem* item = m.Actions().Add();
    item->SetName("DefaultHandler");
    item->SetDefault(true);
    item->SetPathInfo("/");
    item->SetOnAction(
        [&m](TComponent* sender, TWebRequest* request, TWebResponse* response, bool& handled) {
          m.WebModule1DefaultHandlerAction(sender, request, response, handled);
        });
  };
  form.Components = {
      // Destroyed newest first: the transactions end (an active one rolls back)
      // before the connection detaches.
      FormComponent<M, TpFIBDatabase>(
          "Database", &M::Database,
          [](TpFIBDatabase& c) {
            c.SetDBParams({"lc_ctype=WIN1251"});
            c.SetSQLDialect(1);
            c.SetTimeout(0);
            c.SetLibraryName("fbclient.dll");
            c.SetWaitForRestoreConnect(0);
          },
          [](TpFIBDatabase& c, M& m) {
            c.SetDefaultTransaction(m.TransactionRead);
            c.SetDefaultUpdateTransaction(m.TransactionRW);
          }),
      FormComponent<M, TpFIBTransaction>(
          "TransactionRead", &M::TransactionRead,
          [](TpFIBTransaction& c) {
            c.SetTimeoutAction(TARollback);
            c.SetTRParams({"read", "nowait", "rec_version", "read_committed"});
            c.SetTPBMode(tpbDefault);
          },
          [](TpFIBTransaction& c, M& m) { c.SetDefaultDatabase(m.Database); }),
      FormComponent<M, TpFIBTransaction>(
          "TransactionRW", &M::TransactionRW,
          [](TpFIBTransaction& c) {
            c.SetTimeoutAction(TARollback);
            c.SetTRParams({"write", "nowait", "rec_version", "read_committed"});
            c.SetTPBMode(tpbDefault);
          },
          [](TpFIBTransaction& c, M& m) { c.SetDefaultDatabase(m.Database); }),
      // Each keeps the statements of the commands prepared while the connection
      // is kept: the three lists and the duplicate check; the order's three.
      FormComponent<M, TpFIBQuery>(
          "Query", &M::Query, [](TpFIBQuery& c) { c.SetKeptStatements(4); },
          [](TpFIBQuery& c, M& m) {
            c.SetDatabase(m.Database);
            c.SetTransaction(m.TransactionRead);
          }),
      FormComponent<M, TpFIBQuery>(
          "QueryOrder", &M::QueryOrder, [](TpFIBQuery& c) { c.SetKeptStatements(4); },
          [](TpFIBQuery& c, M& m) {
            c.SetDatabase(m.Database);
            c.SetTransaction(m.TransactionRW);
          }),
      FormComponent<M, THTTPSoapDispatcher>(
          "HTTPSoapDispatcher1", &M::HTTPSoapDispatcher1,
          [](THTTPSoapDispatcher& c) { c.WebDispatch().SetPathInfo("soap*"); },
          [](THTTPSoapDispatcher& c, M& m) { c.SetDispatcher(m.HTTPSoapPascalInvoker1); }),
      FormComponent<M, THTTPSoapPascalInvoker>(
          "HTTPSoapPascalInvoker1", &M::HTTPSoapPascalInvoker1,
          [](THTTPSoapPascalInvoker& c) {
            c.Converter().SetOptions({soSendMultiRefObj, soTryAllSchema});
          }),
      FormComponent<M, TWSDLHTMLPublish>("WSDLHTMLPublish1", &M::WSDLHTMLPublish1,
                                         [](TWSDLHTMLPublish& c) {
                                           c.WebDispatch().SetMethodType(mtAny);
                                           c.WebDispatch().SetPathInfo("wsdl*");
                                           c.SetAdminEnabled(false);
                                           c.SetTargetNamespace("urn:dorvana-terminal-server");
                                         }),
  };
  return form;
}

const bool kFormRegistered =
    RegisterFormDescription("TDorvanaWebInterface", DorvanaWebInterfaceForm);

// The example SOAP interface and its class are known from process start.
const bool kSoapRegistered = (RegisterSoapTest(), true);

// Line end of the diagnostics reply: LF then CR.
const char kEchoBreak[] = "\n\r";

}  // namespace

TDorvanaWebInterface::TDorvanaWebInterface(TComponent* owner) : TWebModule(owner) {
  (void)kFormRegistered;
  (void)kSoapRegistered;
  ReadForm("TDorvanaWebInterface");
  FFormDBName = Database->DBName();
  FFormDBParams = Database->DBParams();
}

TDorvanaWebInterface::~TDorvanaWebInterface() {
  // The watchdog's thread ends before the connection it may cut off goes.
  FWatchdog.reset();
  // Components go while the module's fields they may point into still exist.
  DestroyComponents();
}

void TDorvanaWebInterface::WebModule1DefaultHandlerAction(TComponent*, TWebRequest* Request,
                                                          TWebResponse* Response, bool&) {
  // Command names compare case-sensitively; the field name does not.
  const std::string command = Request->QueryFieldList().Values("q");
  FCommand = command;
  FRequestStart = Request->StartTime();
  Request->SetLogCommand(command);
  if (command == "test") {
    // The reply goes out as text/html: every echoed byte of the request's fields
    // is escaped, so that a field cannot carry markup or script into the page.
    std::string reply = "type: " + IntToStr(Request->MethodType()) + kEchoBreak;
    AppendEscapedMarkup(reply, Request->ContentFieldList().Text());
    reply += "param_count=" + IntToStr(Request->QueryFieldList().Count()) + kEchoBreak;
    reply += std::string("params: ") + kEchoBreak;
    AppendEscapedMarkup(reply, Request->QueryFieldList().Text());
    Response->SetContent(reply);
  } else if (command == "getsprfood") {
    RunWithReconnect([&] { GetSprFood(Request, Response); }, true);
  } else if (command == "getsprfoodgroup") {
    RunWithReconnect([&] { GetSprFoodGroup(Request, Response); }, true);
  } else if (command == "getsprstewards") {
    RunWithReconnect([&] { GetSprStewards(Request, Response); }, true);
  } else if (command == "addorder") {
    // The import reconnects by itself, only where no commit can have happened.
    RunWithReconnect([&] { AddOrder(Request, Response); }, false);
  }
}

template <class F>
void TDorvanaWebInterface::RunWithReconnect(F command, bool mayRunAgain) {
  // The deadline ends with the command, whichever way it ends.
  struct TEndDeadline {
    TDorvanaWebInterface& module;
    ~TEndDeadline() { module.EndDeadline(); }
  } endDeadline{*this};
  for (int attempt = 0;; ++attempt) {
    try {
      command();
      EndTransactions();
      return;
    } catch (const EFIBError& e) {
      EndTransactions();
      // A call that failed because the deadline cut the connection off is
      // never run again: the failure is the deadline's.
      RaiseIfPastDeadline();
      if (!ForgetLostConnection(e, attempt) || !mayRunAgain) throw;
    } catch (...) {
      EndTransactions();
      throw;
    }
  }
}

void TDorvanaWebInterface::ArmDeadline(int seconds) {
  // Only a request has a deadline (an operator's tool runs as long as it needs),
  // and a command's second connect keeps the first one's.
  if (FRequestStart == 0 || FDeadline != 0) return;
  FDeadline = FRequestStart + int64_t{seconds} * 1000;
  FDeadlineSeconds = seconds;
  if (!FWatchdog) FWatchdog = std::make_unique<platform::TWatchdog>();
  Database->ClearAbort();
  TpFIBDatabase* database = Database;
  const std::string command = FCommand;
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

int TDorvanaWebInterface::DeadlineSecondsLeft() {
  if (FDeadline == 0) return INT32_MAX;
  const int64_t left = FDeadline - platform::SteadyMilliseconds();
  if (left <= 0) {
    // Nothing more may start: the watchdog fires about now anyway.
    if (FWatchdog) FWatchdog->Disarm();
    Database->AbortConnection();
    FDeadline = -1;  // past: RaiseIfPastDeadline raises
    RaiseIfPastDeadline();
  }
  return static_cast<int>(std::max<int64_t>(1, left / 1000));
}

void TDorvanaWebInterface::RaiseIfPastDeadline() {
  if (FDeadline == 0 || !(FDeadline < 0 || (FWatchdog && FWatchdog->Fired()))) return;
  FConnectionKept = false;
  try {
    if (Database->Connected()) Database->CloseConnection(true);
  } catch (...) {
  }
  std::string message = Format(
      "The database did not answer within the request's deadline of %d seconds (REQUEST "
      "TIMEOUT); the request was stopped and its connection closed.",
      {FDeadlineSeconds});
  if (FCommand == "addorder")
    message += " The order may have been stored: send it again, and it is kept once.";
  throw Exception(message);
}

void TDorvanaWebInterface::EndDeadline() {
  if (FDeadline == 0) return;
  const bool fired = FDeadline < 0 || (FWatchdog && FWatchdog->Disarm());
  FDeadline = 0;
  Database->ClearAbort();
  if (!fired) return;
  // Cut off, the connection is of no use to the next request (nor its kept
  // statements): closed here, without a round trip, it is made anew then.
  FConnectionKept = false;
  try {
    if (Database->Connected()) Database->CloseConnection(true);
  } catch (...) {
  }
}

bool TDorvanaWebInterface::ForgetLostConnection(const EFIBError& e, int attempt) {
  if (!IsConnectionLost(e)) return false;
  const bool kept = FConnectionKept;
  FConnectionKept = false;
  try {
    if (Database->Connected()) Database->CloseConnection(true);
  } catch (...) {
  }
  return kept && attempt == 0;
}

void TDorvanaWebInterface::EndTransactions() {
  for (TpFIBTransaction* transaction : {TransactionRead, TransactionRW}) {
    if (!transaction || !transaction->Active()) continue;
    try {
      transaction->Rollback();
    } catch (...) {
      try {
        if (Database->Connected()) Database->CloseConnection(true);
      } catch (...) {
      }
    }
  }
}
