// The WSDL publisher: answers the requests under its path with an HTML listing of
// the published SOAP interfaces and, per interface, its WSDL 1.1 description.
// A component owned by the web module. Also the publisher's own invokable
// interface, IWSDLPublish, which it registers when first created.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cgi/HTTPApp.h"
#include "runtime/Component.h"
#include "soap/Invokable.h"

enum TWSDLPublishOption { poPublishLocationAsSecure };
using TWSDLPublishOptions = std::set<TWSDLPublishOption>;

// The target namespace of the WSDL when the setting is empty.
extern const char kDefaultTargetNamespace[];

// The publisher's own interface: lists the published interfaces by name.
const TSoapInterface& IWSDLPublishInterface();
// Registers IWSDLPublish and its class TWSDLPublish; a second call does nothing.
void RegisterWSDLPublish();

// The interfaces the publisher lists: the registered ones that have an
// implementing class, in registration order, IWSDLPublish last.
std::vector<const TInvocationRegistry::TEntry*> PublishedInterfaces(
    const TInvocationRegistry& registry);

// A port of the service element: name and SOAP address.
using TWSDLPort = std::pair<std::string, std::string>;
// The WSDL 1.1 document of one interface, as UTF-8 lines.
std::vector<std::string> GenerateWSDL(const TInvocationRegistry::TEntry& entry,
                                      const std::string& targetNamespace,
                                      const std::vector<TWSDLPort>& ports);

class TWSDLHTMLPublish : public TComponent, public IWebAutoDispatch {
 public:
  explicit TWSDLHTMLPublish(TComponent* owner = nullptr);
  ~TWSDLHTMLPublish() override;
  std::string ClassName() const override { return "TWSDLHTMLPublish"; }

  TWebDispatch& WebDispatch() { return FWebDispatch; }
  bool AdminEnabled() const { return FAdminEnabled; }
  void SetAdminEnabled(bool value) { FAdminEnabled = value; }
  const std::string& TargetNamespace() const { return FTargetNamespace; }
  void SetTargetNamespace(std::string value) { FTargetNamespace = std::move(value); }
  const TWSDLPublishOptions& PublishOptions() const { return FPublishOptions; }
  void SetPublishOptions(TWSDLPublishOptions value) { FPublishOptions = std::move(value); }
  // The running program's path: it names the listing and locates the port table
  // file. Defaults to the executable.
  // Empty means the executable, looked up when first needed.
  std::string ModulePath() const;
  void SetModulePath(std::string value) { FModulePath = std::move(value); }

  bool Enabled() override { return true; }
  TMethodType MethodType() override { return FWebDispatch.MethodType(); }
  TMask& PathMask() override { return FWebDispatch.Mask(); }
  // Always answers; a failure becomes an HTML error page.
  bool TakeRequest(TComponent* sender, TWebRequest* request, TWebResponse* response) override;

  // The scheme, host, port and script name that published addresses start with.
  std::string BaseURL(TWebRequest& request) const;
  // The ports of an interface's service: those of the port table file beside
  // the program, or "<name>Port" at baseURL + "/soap/" + name.
  virtual std::vector<TWSDLPort> Ports(const std::string& intfName,
                                       const std::string& baseURL) const;

 private:
  TWebDispatch FWebDispatch;
  bool FAdminEnabled = false;
  std::string FTargetNamespace;
  TWSDLPublishOptions FPublishOptions;
  std::string FModulePath;
};
