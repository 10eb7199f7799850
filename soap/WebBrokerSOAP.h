// The SOAP end point of the web module: THTTPSoapDispatcher takes the POST
// requests under its path and hands them to an invoker, THTTPSoapPascalInvoker,
// which binds a request to a registered interface, calls the method and writes
// the answer or a fault. Both are components owned by the module.
#pragma once

#include <string>

#include "cgi/HTTPApp.h"
#include "runtime/Component.h"
#include "soap/SoapEnvelope.h"

// Serves one SOAP request: fills response with an envelope or a fault envelope.
// Raises Exception when the request can be bound to no interface.
class IHTTPSoapDispatch {
 public:
  virtual ~IHTTPSoapDispatch() = default;
  virtual void DispatchSOAP(const std::string& path, const std::string& soapAction,
                            const std::string& request, std::string& response) = 0;
};

// The reading and writing settings of an invoker.
class TSoapConverter {
 public:
  const TSOAPConvertOptions& Options() const { return FOptions; }
  void SetOptions(TSOAPConvertOptions options) { FOptions = std::move(options); }

 private:
  TSOAPConvertOptions FOptions{soSendMultiRefObj, soTryAllSchema};
};

class THTTPSoapPascalInvoker : public TComponent, public IHTTPSoapDispatch {
 public:
  explicit THTTPSoapPascalInvoker(TComponent* owner = nullptr) : TComponent(owner) {}
  std::string ClassName() const override { return "THTTPSoapPascalInvoker"; }

  TSoapConverter& Converter() { return FConverter; }
  // Binds by SOAPAction (its namespace part, quotes removed) or, without one, by
  // the last segment of path. A failure while calling is answered with a fault
  // envelope; a failure to bind raises.
  void DispatchSOAP(const std::string& path, const std::string& soapAction,
                    const std::string& request, std::string& response) override;

 private:
  TSoapConverter FConverter;
};

class THTTPSoapDispatcher : public TComponent, public IWebAutoDispatch {
 public:
  explicit THTTPSoapDispatcher(TComponent* owner = nullptr);
  ~THTTPSoapDispatcher() override;
  std::string ClassName() const override { return "THTTPSoapDispatcher"; }

  // The invoker; a component that implements IHTTPSoapDispatch, or none. Cleared
  // when that component is destroyed.
  TComponent* Dispatcher() const { return FDispatcher; }
  void SetDispatcher(TComponent* dispatcher);
  TWebDispatch& WebDispatch() { return FWebDispatch; }

  bool Enabled() override { return true; }
  TMethodType MethodType() override { return FWebDispatch.MethodType(); }
  TMask& PathMask() override { return FWebDispatch.Mask(); }
  // An Exception becomes a status-500 fault envelope; other exceptions decline.
  bool TakeRequest(TComponent* sender, TWebRequest* request, TWebResponse* response) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TComponent* FDispatcher = nullptr;
  TWebDispatch FWebDispatch;
};
