// Routing: the dispatcher that hands a request to an action item or to a
// component that dispatches itself by path, and the handlers and interfaces it
// calls.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cgi/HTTPRequest.h"
#include "cgi/HTTPResponse.h"
#include "runtime/Component.h"
#include "runtime/Exception.h"

class TMask;

// The handler of an action and of the dispatch events. Sender is the action item
// or the dispatcher; a handler that declines clears Handled.
using THTTPMethodEvent = std::function<void(TComponent* Sender, TWebRequest* Request,
                                            TWebResponse* Response, bool& Handled)>;
// Turns an exception raised while routing into an answer.
using TWebExceptionEvent =
    std::function<void(TComponent* Sender, const Exception& E, bool& Handled)>;

// A component on the module that serves the requests whose path matches its mask.
class IWebAutoDispatch {
 public:
  virtual ~IWebAutoDispatch() = default;
  virtual bool Enabled() = 0;
  virtual TMethodType MethodType() = 0;
  // True when the component served the request.
  virtual bool TakeRequest(TComponent* sender, TWebRequest* request, TWebResponse* response) = 0;
  virtual TMask& PathMask() = 0;
};

// Builds an answer for an exception raised while routing.
class IWebErrorHandler {
 public:
  virtual ~IWebErrorHandler() = default;
  virtual void HandleError(const Exception& e, bool& handled) = 0;
};

// Takes one request and routes it; true when it was handled.
class IWebRequestHandler {
 public:
  virtual ~IWebRequestHandler() = default;
  virtual bool HandleRequest(TWebRequest* request, TWebResponse* response) = 0;
};

// Replaces backslashes by "/" and puts "/" in front of a non-empty pattern that
// lacks one.
std::string NormalizePathPattern(const std::string& pattern);

// The routing settings of an auto-dispatching component (its WebDispatch).
// PathInfo empty means the owner's name; set to that name it is stored empty.
class TWebDispatch {
 public:
  explicit TWebDispatch(TComponent* owner);
  ~TWebDispatch();
  std::string PathInfo() const;
  void SetPathInfo(const std::string& value);
  TMethodType MethodType() const { return FMethodType; }
  void SetMethodType(TMethodType value) { FMethodType = value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  // The mask of the normalised pattern, rebuilt only when the pattern changed.
  TMask& Mask();

 private:
  TComponent* FOwner;
  std::string FPathInfo;
  TMethodType FMethodType = mtPost;
  bool FEnabled = true;
  std::unique_ptr<TMask> FMask;
  std::string FMaskText;
};

class TWebActionItems;

// One route of a dispatcher: a path pattern, a method and a handler. Owned by
// its collection.
class TWebActionItem : public TComponent {
 public:
  explicit TWebActionItem(TWebActionItems* collection);
  std::string ClassName() const override { return "TWebActionItem"; }

  // Raises EWebBrokerException "Duplicate action name" when another item of the
  // collection has the name (case-insensitive).
  void SetName(const std::string& name);
  std::string PathInfo() const;
  void SetPathInfo(const std::string& value);
  TMethodType MethodType() const { return FMethodType; }
  void SetMethodType(TMethodType value) { FMethodType = value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  bool Default() const { return FDefault; }
  // At most one item is the default: setting it clears it on the others.
  void SetDefault(bool value);
  // A component that produces the whole content; its Name is all routing needs.
  TComponent* Producer() const { return FProducer; }
  void SetProducer(TComponent* producer, std::function<std::string()> content);
  const THTTPMethodEvent& OnAction() const { return FOnAction; }
  void SetOnAction(THTTPMethodEvent handler) { FOnAction = std::move(handler); }

  TMask& Mask();
  // Serves the request when the item fits it, or unconditionally as the default.
  bool TryDispatch(TWebRequest* request, TWebResponse* response, bool asDefault);

 private:
  TWebActionItems* FCollection;
  std::string FPathInfo;
  TMethodType FMethodType = mtAny;
  bool FEnabled = true;
  bool FDefault = false;
  TComponent* FProducer = nullptr;
  std::function<std::string()> FProducerContent;
  THTTPMethodEvent FOnAction;
  std::unique_ptr<TMask> FMask;
  std::string FMaskText;
};

// The ordered action items of a dispatcher.
class TWebActionItems {
 public:
  TWebActionItems() = default;
  TWebActionItems(const TWebActionItems&) = delete;
  TWebActionItems& operator=(const TWebActionItems&) = delete;
  TWebActionItem* Add();
  int Count() const { return static_cast<int>(FItems.size()); }
  TWebActionItem* Items(int index) const { return FItems.at(index).get(); }
  TWebActionItem* ItemByName(const std::string& name) const;
  TWebActionItem* DefaultItem() const;

 private:
  std::vector<std::unique_ptr<TWebActionItem>> FItems;
};

// Routes a request to its action items and to the auto-dispatching components it
// owns; turns an exception raised while routing into the "Internal Application
// Error" page.
class TCustomWebDispatcher : public TComponent, public IWebErrorHandler, public IWebRequestHandler {
 public:
  explicit TCustomWebDispatcher(TComponent* owner = nullptr);
  ~TCustomWebDispatcher() override;
  std::string ClassName() const override { return "TCustomWebDispatcher"; }

  TWebActionItems& Actions() { return FActions; }
  // The owned components that dispatch themselves, in the order they were added.
  std::vector<IWebAutoDispatch*> AutoDispatchList() const;

  THTTPMethodEvent BeforeDispatch;
  THTTPMethodEvent AfterDispatch;
  TWebExceptionEvent OnException;

  TWebRequest* Request() const { return FRequest; }
  TWebResponse* Response() const { return FResponse; }

  bool RouteRequest(TWebRequest* request, TWebResponse* response);
  void HandleError(const Exception& e, bool& handled) override;
  bool HandleRequest(TWebRequest* request, TWebResponse* response) override;

 private:
  bool Route(TWebRequest* request, TWebResponse* response);
  void Forget();
  TWebActionItems FActions;
  // The request being routed (or whose routing failed, until HandleError).
  TWebRequest* FRequest = nullptr;
  TWebResponse* FResponse = nullptr;
};
