// The web module of the terminal service: its components, fixed in its form,
// and the one action handler that runs the command a terminal names in "q".
#pragma once

#include <memory>

#include "cgi/HTTPApp.h"

class THTTPSoapDispatcher;
class THTTPSoapPascalInvoker;
class TWSDLHTMLPublish;
class TpFIBDatabase;
class TpFIBTransaction;
class TpFIBQuery;
namespace service {
class TTerminalSession;
struct TRequestContext;
}  // namespace service

// One per process, created by the application from its form and destroyed with
// it; owns every component on it, and the session over them. The handler's
// failures other than a failed connect or import leave it as exceptions,
// answered by the dispatcher.
class TDorvanaWebInterface : public TWebModule {
 public:
  explicit TDorvanaWebInterface(TComponent* owner = nullptr);
  // The form's database components alone (no action, no SOAP component: those
  // fields stay null), and the session over them: what the operators' tools
  // work with. The components' names are the full module's, so that messages
  // read as a terminal's would.
  struct TDatabaseOnly {};
  explicit TDorvanaWebInterface(TDatabaseOnly);
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

  // Runs the command named by the query field "q" as a call of the session,
  // with the request's context, and fills the response; an unknown command
  // leaves the response as it is. Never clears Handled.
  void WebModule1DefaultHandlerAction(TComponent* Sender, TWebRequest* Request,
                                      TWebResponse* Response, bool& Handled);

  // The terminal's database work over the components above; kept with the
  // module (between requests in FastCGI).
  service::TTerminalSession& Session() { return *FSession; }

 private:
  void AddOrder(service::TRequestContext& context, TWebRequest* Request, TWebResponse* Response);

  void MakeSession();

  std::unique_ptr<service::TTerminalSession> FSession;
};
