#include "service/Unit1.h"

#include "fb/fib.h"
#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
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
  // Components go while the module's fields they may point into still exist.
  DestroyComponents();
}

void TDorvanaWebInterface::WebModule1DefaultHandlerAction(TComponent*, TWebRequest* Request,
                                                          TWebResponse* Response, bool&) {
  // Command names compare case-sensitively; the field name does not.
  const std::string command = Request->QueryFieldList().Values("q");
  FCommand = command;
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
  for (int attempt = 0;; ++attempt) {
    try {
      command();
      EndTransactions();
      return;
    } catch (const EFIBError& e) {
      EndTransactions();
      if (!ForgetLostConnection(e, attempt) || !mayRunAgain) throw;
    } catch (...) {
      EndTransactions();
      throw;
    }
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
