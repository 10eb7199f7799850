#include "cgi/Dispatch.h"

#include <algorithm>

#include "cgi/Masks.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

std::string NormalizePathPattern(const std::string& pattern) {
  std::string result = pattern;
  std::replace(result.begin(), result.end(), '\\', '/');
  if (!result.empty() && result[0] != '/') result.insert(result.begin(), '/');
  return result;
}

TWebDispatch::TWebDispatch(TComponent* owner) : FOwner(owner) {}
TWebDispatch::~TWebDispatch() = default;

std::string TWebDispatch::PathInfo() const {
  return FPathInfo.empty() && FOwner ? FOwner->Name() : FPathInfo;
}

void TWebDispatch::SetPathInfo(const std::string& value) {
  FPathInfo = FOwner && value == FOwner->Name() ? std::string() : value;
}

TMask& TWebDispatch::Mask() {
  std::string text = NormalizePathPattern(PathInfo());
  if (!FMask || text != FMaskText) {
    FMask = std::make_unique<TMask>(text);
    FMaskText = text;
  }
  return *FMask;
}

TWebActionItem::TWebActionItem(TWebActionItems* collection) : FCollection(collection) {}

void TWebActionItem::SetName(const std::string& name) {
  if (SameText(name, Name())) {
    TComponent::SetName(name);
    return;
  }
  if (!name.empty() && FCollection && FCollection->ItemByName(name))
    throw EWebBrokerException("Duplicate action name");
  TComponent::SetName(name);
}

std::string TWebActionItem::PathInfo() const {
  if (FPathInfo.empty() && FProducer) return "/" + FProducer->Name();
  return FPathInfo;
}

void TWebActionItem::SetPathInfo(const std::string& value) {
  std::string text = NormalizePathPattern(value);
  if (FProducer && text == "/" + FProducer->Name()) text.clear();
  if (SameText(text, FPathInfo)) return;
  FPathInfo = text;
}

void TWebActionItem::SetDefault(bool value) {
  if (value && FCollection)
    for (int i = 0; i < FCollection->Count(); ++i) FCollection->Items(i)->FDefault = false;
  FDefault = value;
}

void TWebActionItem::SetProducer(TComponent* producer, std::function<std::string()> content) {
  FProducer = producer;
  FProducerContent = std::move(content);
}

TMask& TWebActionItem::Mask() {
  std::string text = PathInfo();
  if (!FMask || text != FMaskText) {
    FMask = std::make_unique<TMask>(text);
    FMaskText = text;
  }
  return *FMask;
}

bool TWebActionItem::TryDispatch(TWebRequest* request, TWebResponse* response, bool asDefault) {
  bool result = false;
  if (!(FDefault && asDefault)) {
    if (!FEnabled) return false;
    if (FMethodType != mtAny && FMethodType != request->MethodType()) return false;
    if (!Mask().Matches(request->PathInfo())) return false;
  }
  if (FProducer && FProducerContent) {
    result = true;
    response->SetContent(FProducerContent());
  }
  if (FOnAction) {
    result = true;
    FOnAction(this, request, response, result);
  }
  return result;
}

TWebActionItem* TWebActionItems::Add() {
  FItems.push_back(std::make_unique<TWebActionItem>(this));
  return FItems.back().get();
}

TWebActionItem* TWebActionItems::ItemByName(const std::string& name) const {
  for (const auto& item : FItems)
    if (SameText(item->Name(), name)) return item.get();
  return nullptr;
}

TWebActionItem* TWebActionItems::DefaultItem() const {
  for (const auto& item : FItems)
    if (item->Default()) return item.get();
  return nullptr;
}

TCustomWebDispatcher::TCustomWebDispatcher(TComponent* owner) : TComponent(owner) {}

TCustomWebDispatcher::~TCustomWebDispatcher() {
  // The components go first: they may still look at the dispatcher.
  DestroyComponents();
}

std::vector<IWebAutoDispatch*> TCustomWebDispatcher::AutoDispatchList() const {
  std::vector<IWebAutoDispatch*> result;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* d = dynamic_cast<IWebAutoDispatch*>(Components(i))) result.push_back(d);
  return result;
}

bool TCustomWebDispatcher::RouteRequest(TWebRequest* request, TWebResponse* response) {
  // The request and response are held only while routing runs, and for the
  // failure page of an error routing raised (HandleError lets them go): a kept
  // module must not point at a request that is gone.
  FRequest = request;
  FResponse = response;
  try {
    const bool result = Route(request, response);
    Forget();
    return result;
  } catch (const Exception&) {
    throw;
  } catch (...) {
    // No error page comes for this one (the application's own answers it).
    Forget();
    throw;
  }
}

void TCustomWebDispatcher::Forget() {
  FRequest = nullptr;
  FResponse = nullptr;
}

bool TCustomWebDispatcher::Route(TWebRequest* request, TWebResponse* response) {
  TWebActionItem* defaultItem = nullptr;
  if (response->AlreadySent()) return true;

  bool handled = false;
  if (BeforeDispatch) BeforeDispatch(this, request, response, handled);
  bool result = handled || response->AlreadySent();

  for (int i = 0; i < FActions.Count() && !result; ++i) {
    TWebActionItem* item = FActions.Items(i);
    result = item->TryDispatch(request, response, false);
    if (item->Default()) defaultItem = item;
  }

  if (!result) {
    for (IWebAutoDispatch* d : AutoDispatchList()) {
      if (result) break;
      if (d->Enabled() && (d->MethodType() == mtAny || d->MethodType() == request->MethodType()) &&
          d->PathMask().Matches(request->PathInfo()))
        result = d->TakeRequest(this, request, response);
    }
  }

  if (!result && defaultItem) result = defaultItem->TryDispatch(request, response, true);

  if (result && !response->AlreadySent()) {
    handled = true;
    if (AfterDispatch) AfterDispatch(this, request, response, handled);
    result = handled;
  }
  return result;
}

bool TCustomWebDispatcher::HandleRequest(TWebRequest* request, TWebResponse* response) {
  return RouteRequest(request, response);
}

void TCustomWebDispatcher::HandleError(const Exception& e, bool& handled) {
  handled = false;
  if (FRequest) FRequest->LogFailure(e.Message());
  if (OnException) {
    handled = true;
    if (FResponse) FResponse->SetStatusCode(500);
    OnException(this, e, handled);
    if (handled && FResponse) FResponse->Send();
  }
  if (!handled && FResponse) {
    // The message and the path are the request's own text: escaped for HTML.
    FResponse->SetContent(
        Format("<html><body><h1>Internal Application Error</h1>\r\n<p>%0:s\r\n"
               "<p><hr width=\"100%%\"><i>%1:s</i></body></html>",
               {EscapeMarkup(e.Message()),
                EscapeMarkup(FRequest ? FRequest->PathInfo() : std::string())}));
    if (!FResponse->AlreadySent()) {
      FResponse->SetStatusCode(500);
      FResponse->Send();
    }
    handled = true;
  }
  Forget();
}
