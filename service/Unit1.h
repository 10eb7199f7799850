// The web module of the terminal service: its components, fixed in its form,
// and the one action handler that runs the command a terminal names in "q".
#pragma once

#include <string>

#include "cgi/HTTPApp.h"

class TNativeXml;
class THTTPSoapDispatcher;
class THTTPSoapPascalInvoker;
class TWSDLHTMLPublish;
class TpFIBDatabase;
class TpFIBTransaction;
class TpFIBQuery;

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
  // there is no settings file, else the failure message.
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

  // The command being served ("q"), named in the lines written to standard error.
  std::string FCommand;
};
