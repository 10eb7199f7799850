#include "cgi/WebReq.h"

#include <algorithm>

#include "cgi/HTTPApp.h"
#include "runtime/Exception.h"

namespace {

void RaiseAgain(TComponent*, std::exception_ptr e) { std::rethrow_exception(e); }

TExceptionHook& Hook() {
  static TExceptionHook hook = RaiseAgain;
  return hook;
}

}  // namespace

void SetExceptionHook(TExceptionHook hook) { Hook() = std::move(hook); }

void HandleServerException(TComponent* sender, std::exception_ptr e) { Hook()(sender, e); }

void CGIHandleException(TComponent* sender, std::exception_ptr e) {
  bool handled = false;
  if (auto* handler = dynamic_cast<IWebErrorHandler*>(sender)) {
    try {
      std::rethrow_exception(e);
    } catch (const Exception& x) {
      handler->HandleError(x, handled);
    } catch (...) {
    }
  }
  if (!handled) std::rethrow_exception(e);
}

// ---- Factories and module sets -------------------------------------------------

std::string TDefaultWebModuleFactory::ModuleName() const {
  return FModuleClass.ClassName.empty() ? std::string() : FModuleClass.ClassName.substr(1);
}

std::unique_ptr<TComponent> TDefaultWebModuleFactory::GetModule() const {
  return std::unique_ptr<TComponent>(FModuleClass.Create());
}

void TWebModuleList::AutoCreateModules() {
  for (const auto& factory : FFactories) {
    if (factory->CreationMode() != TWebModuleCreateMode::crAlways) continue;
    bool present = std::any_of(FModules.begin(), FModules.end(),
                               [&](const TEntry& e) { return e.factory == factory.get(); });
    if (!present) FModules.push_back({factory.get(), factory->GetModule()});
  }
}

void TWebModuleList::AutoDeleteModules() {
  std::erase_if(FModules, [](const TEntry& e) {
    return e.factory->CacheMode() == TWebModuleCacheMode::caDestroy;
  });
}

TCustomWebDispatcher* TWebModuleList::FindDispatcher() const {
  for (const TEntry& entry : FModules) {
    if (auto* d = dynamic_cast<TCustomWebDispatcher*>(entry.module.get())) return d;
    for (int i = 0; i < entry.module->ComponentCount(); ++i)
      if (auto* d = dynamic_cast<TCustomWebDispatcher*>(entry.module->Components(i))) return d;
  }
  return nullptr;
}

void TDefaultWebAppServices::Bind(TWebModuleList* modules, TWebRequest* request,
                                  TWebResponse* response) {
  FModules = modules;
  FRequest = request;
  FResponse = response;
}

bool TDefaultWebAppServices::Run() {
  TCustomWebDispatcher* dispatcher = FModules ? FModules->FindDispatcher() : nullptr;
  if (!dispatcher) throw EWebBrokerException("No dispatcher component found on data module");
  return static_cast<IWebRequestHandler*>(dispatcher)->HandleRequest(FRequest, FResponse);
}

TComponent* TDefaultWebAppServices::ErrorHandlerObject() const {
  return FModules ? FModules->FindDispatcher() : nullptr;
}

// ---- Request handler -----------------------------------------------------------

TWebRequestHandler::TWebRequestHandler(TComponent* owner) : TComponent(owner) {}

TWebRequestHandler::~TWebRequestHandler() {
  FInactiveSets.clear();
  FActiveSets.clear();
}

void TWebRequestHandler::RegisterModuleClass(const TWebModuleClass& moduleClass) {
  if (FModuleClass) {
    if (FModuleClass->ClassName != moduleClass.ClassName)
      throw Exception("Only one data module per application");
    return;
  }
  FModuleClass = std::make_unique<TWebModuleClass>(moduleClass);
}

TWebModuleList* TWebRequestHandler::ActivateWebModules() {
  static const char kTooMany[] =
      "Maximum number of concurrent connections exceeded.  Please try again later";
  if (FModuleSetLimit > 0 && FPendingCount >= FModuleSetLimit) throw EWebBrokerException(kTooMany);
  std::lock_guard<std::mutex> lock(FLock);
  struct TResetPending {
    int& count;
    ~TResetPending() { count = 0; }
  } reset{FPendingCount};
  FPendingCount = static_cast<int>(FActiveSets.size()) + 1;
  if (FModuleSetLimit > 0 && static_cast<int>(FActiveSets.size()) >= FModuleSetLimit)
    throw EWebBrokerException(kTooMany);
  std::unique_ptr<TWebModuleList> set;
  if (!FInactiveSets.empty()) {
    set = std::move(FInactiveSets.front());
    FInactiveSets.erase(FInactiveSets.begin());
  } else {
    if (FFactories.empty() && FModuleClass)
      FFactories.push_back(std::make_unique<TDefaultWebModuleFactory>(*FModuleClass));
    if (FFactories.empty()) throw EWebBrokerException("No data modules registered");
    set = std::make_unique<TWebModuleList>(FFactories);
  }
  FActiveSets.push_back(std::move(set));
  return FActiveSets.back().get();
}

void TWebRequestHandler::DeactivateWebModules(TWebModuleList* set) {
  std::lock_guard<std::mutex> lock(FLock);
  auto it = std::find_if(FActiveSets.begin(), FActiveSets.end(),
                         [&](const auto& p) { return p.get() == set; });
  if (it == FActiveSets.end()) return;
  std::unique_ptr<TWebModuleList> owned = std::move(*it);
  FActiveSets.erase(it);
  owned->AutoDeleteModules();
  if (FKeepModuleSets && owned->ItemCount() > 0) FInactiveSets.push_back(std::move(owned));
}

bool TWebRequestHandler::ServeRequest(TWebRequest* request, TWebResponse* response) {
  bool result = false;
  TWebModuleList* set = ActivateWebModules();
  try {
    set->AutoCreateModules();
    if (set->ItemCount() == 0) throw EWebBrokerException("No automatically activated data modules");
    try {
      auto services = std::make_shared<TDefaultWebAppServices>();
      services->Bind(set, request, response);
      try {
        result = services->Run();
      } catch (...) {
        HandleServerException(services->ErrorHandlerObject(), std::current_exception());
      }
      services->Finish();
      if (result && !response->AlreadySent()) response->Send();
    } catch (...) {
      HandleServerException(nullptr, std::current_exception());
    }
  } catch (...) {
    DeactivateWebModules(set);
    throw;
  }
  DeactivateWebModules(set);
  return result;
}

TWebApplication::TWebApplication(TComponent* owner) : TWebRequestHandler(owner) {
  SetExceptionHook(RaiseAgain);
}
