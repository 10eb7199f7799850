#include "service/Unit1.h"

#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "runtime/Text.h"
#include "service/Archive.h"
#include "service/TerminalSession.h"
#include "soap/SoapTestImpl.h"
#include "soap/WSDLPub.h"
#include "soap/WebBrokerSOAP.h"
#include "xml/NativeXml.h"

namespace {

using M = TDorvanaWebInterface;

// The registered name of the database part alone.
const char kDatabaseFormName[] = "TDorvanaWebInterface (database)";

// The form's database part: the module's name, then the database components in
// the order they are created. A component's links to others run once all exist.
TFormDescription DatabaseForm() {
  TFormDescription form;
  form.Properties = [](TComponent* module) { module->SetName("DorvanaWebInterface"); };
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
  };
  return form;
}

// The form of the module: its name and action item, the database components,
// then the SOAP ones.
TFormDescription DorvanaWebInterfaceForm() {
  TFormDescription form = DatabaseForm();
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
  form.Components.insert(
      form.Components.end(),
      {
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
      });
  return form;
}

const bool kFormRegistered =
    RegisterFormDescription("TDorvanaWebInterface", DorvanaWebInterfaceForm) &&
    RegisterFormDescription(kDatabaseFormName, DatabaseForm);

// The example SOAP interface and its class are known from process start.
const bool kSoapRegistered = (RegisterSoapTest(), true);

// Line end of the diagnostics reply: LF then CR.
const char kEchoBreak[] = "\n\r";

// The handler's answer to a list: the session's reply, or the connect's
// failure as text/plain (getsprfood's in UTF-8, the others' as the message
// stands) with its line in the log.
template <class F>
void AnswerList(const service::TRequestContext& context, TWebResponse& response, bool failureInUtf8,
                F list) {
  std::string reply;
  try {
    reply = list();
  } catch (const service::EConnectFailed& e) {
    context.LogFailure(e.Message());
    response.SetContentType("text/plain");
    response.SetContent(failureInUtf8 ? Cp1251ToUtf8(e.Message()) : e.Message());
    return;
  }
  response.SetContentType("text/xml");
  response.SetContent(reply);
}

// The context of one request: it lives on the handler's stack.
service::TRequestContext ContextOf(TWebRequest& request, const std::string& command) {
  service::TRequestContext context;
  context.Command = command;
  context.RemoteAddr = request.RemoteAddr();
  context.Start = request.StartTime();
  context.Log = [&request](const std::string& line, const std::string& text) {
    request.WriteFailureLine(line, text);
  };
  return context;
}

}  // namespace

TDorvanaWebInterface::TDorvanaWebInterface(TComponent* owner) : TWebModule(owner) {
  (void)kSoapRegistered;
  ReadForm("TDorvanaWebInterface");
  MakeSession();
}

TDorvanaWebInterface::TDorvanaWebInterface(TDatabaseOnly) {
  ReadForm(kDatabaseFormName);
  MakeSession();
}

void TDorvanaWebInterface::MakeSession() {
  (void)kFormRegistered;
  FSession = std::make_unique<service::TTerminalSession>(service::TTerminalSession::TComponents{
      Database, TransactionRead, TransactionRW, Query, QueryOrder});
}

TDorvanaWebInterface::~TDorvanaWebInterface() {
  // The session (its watchdog's thread) ends before the components it works on.
  FSession.reset();
  DestroyComponents();
}

void TDorvanaWebInterface::WebModule1DefaultHandlerAction(TComponent*, TWebRequest* Request,
                                                          TWebResponse* Response, bool&) {
  // Command names compare case-sensitively; the field name does not.
  const std::string command = Request->QueryFieldList().Values("q");
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
    return;
  }
  const bool food = command == "getsprfood";
  if (food || command == "getsprfoodgroup") {
    const service::TRequestContext context = ContextOf(*Request, command);
    const std::string cardCode = Request->QueryFieldList().Values("user");
    const std::string station = Request->QueryFieldList().Values("device");
    AnswerList(context, *Response, food, [&] {
      return food ? FSession->FoodList(context, cardCode, station)
                  : FSession->FoodGroups(context, cardCode, station);
    });
  } else if (command == "getsprstewards") {
    const service::TRequestContext context = ContextOf(*Request, command);
    // Set before the database is asked: a failure's page goes out as text/xml.
    Response->SetContentType("text/xml");
    AnswerList(context, *Response, false, [&] { return FSession->Stewards(context); });
  } else if (command == "addorder") {
    service::TRequestContext context = ContextOf(*Request, command);
    AddOrder(context, Request, Response);
  }
}

void TDorvanaWebInterface::AddOrder(service::TRequestContext& context, TWebRequest* Request,
                                    TWebResponse* Response) {
  const std::string& text = Request->ContentFieldList().Text();
  // A request without a body (a GET, say) carries no order: there is nothing to
  // keep, and its copy would only use up the archive's names. It is refused by
  // the reader below as before.
  if (!text.empty()) service::ArchiveOrder(text, service::ClockSeed());
  TNativeXml document;
  document.LoadFromText(text);
  TXmlNode* root = document.FirstElement();
  TXmlNode* guidNode = root ? root->FindChild("GUID") : nullptr;
  if (guidNode) {
    context.Guid = guidNode->TextValue();
    // The dispatcher's line for a failure that leaves the handler names it too.
    Request->SetLogGuid(context.Guid);
  }
  const std::string answer = FSession->ImportOrder(context, document);
  if (answer != "ok") context.LogFailure(answer);
  Response->SetContent(answer);
}
