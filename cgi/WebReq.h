// The request cycle: the sets of web modules that serve requests, the services
// object that finds a module's dispatcher, and the process-wide exception hook.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/Component.h"

class TWebRequest;
class TWebResponse;
class TCustomWebDispatcher;

// A web module class: its name and how to construct it with no owner.
struct TWebModuleClass {
  std::string ClassName;
  std::function<TComponent*()> Create;
};

template <class T>
TWebModuleClass WebModuleClass(const std::string& className) {
  return {className, [] { return static_cast<TComponent*>(new T(nullptr)); }};
}

enum class TWebModuleCreateMode { crOnDemand, crAlways };
enum class TWebModuleCacheMode { caCache, caDestroy };

// Makes the modules of one class.
class TDefaultWebModuleFactory {
 public:
  explicit TDefaultWebModuleFactory(TWebModuleClass moduleClass)
      : FModuleClass(std::move(moduleClass)) {}
  const TWebModuleClass& ModuleClass() const { return FModuleClass; }
  // The class name without its first character.
  std::string ModuleName() const;
  TWebModuleCreateMode CreationMode() const { return TWebModuleCreateMode::crAlways; }
  TWebModuleCacheMode CacheMode() const { return TWebModuleCacheMode::caCache; }
  std::unique_ptr<TComponent> GetModule() const;

 private:
  TWebModuleClass FModuleClass;
};

using TWebModuleFactoryList = std::vector<std::unique_ptr<TDefaultWebModuleFactory>>;

// The live modules serving one request; owns them.
class TWebModuleList {
 public:
  explicit TWebModuleList(const TWebModuleFactoryList& factories) : FFactories(factories) {}
  int ItemCount() const { return static_cast<int>(FModules.size()); }
  TComponent* Items(int index) const { return FModules.at(index).module.get(); }
  // Creates the module of every "always" factory that has none in the set yet.
  void AutoCreateModules();
  // Destroys the modules whose factory says so.
  void AutoDeleteModules();
  // The first module that is a dispatcher, or else the first dispatcher a module
  // owns; nullptr when there is none.
  TCustomWebDispatcher* FindDispatcher() const;

 private:
  struct TEntry {
    const TDefaultWebModuleFactory* factory;
    std::unique_ptr<TComponent> module;
  };
  const TWebModuleFactoryList& FFactories;
  std::vector<TEntry> FModules;
};

// The services of the current request: the module set, request and response.
class TDefaultWebAppServices {
 public:
  void Bind(TWebModuleList* modules, TWebRequest* request, TWebResponse* response);
  // Routes the request through the set's dispatcher; true when it was handled.
  // Raises EWebBrokerException "No dispatcher component found on data module".
  bool Run();
  void Finish() {}
  // The dispatcher, which turns a routing exception into an answer; or nullptr.
  TComponent* ErrorHandlerObject() const;

 private:
  TWebModuleList* FModules = nullptr;
  TWebRequest* FRequest = nullptr;
  TWebResponse* FResponse = nullptr;
};

// Called inside a handler with the exception being handled and the object that
// may turn it into an answer (nullptr for none). The hook either handles the
// exception or raises it again.
using TExceptionHook = std::function<void(TComponent* sender, std::exception_ptr e)>;
void SetExceptionHook(TExceptionHook hook);
void HandleServerException(TComponent* sender, std::exception_ptr e);
// The hook of a CGI process: offers an Exception to the sender's error handler
// and raises it again when that does not handle it.
void CGIHandleException(TComponent* sender, std::exception_ptr e);

// Serves requests with sets of web modules of the registered class. Owns the
// sets, held for reuse after a request, and destroys them with itself.
class TWebRequestHandler : public TComponent {
 public:
  explicit TWebRequestHandler(TComponent* owner = nullptr);
  ~TWebRequestHandler() override;
  std::string ClassName() const override { return "TWebRequestHandler"; }

  // Records the module class; a second, different class raises Exception "Only
  // one data module per application".
  void RegisterModuleClass(const TWebModuleClass& moduleClass);
  int ModuleSetLimit() const { return FModuleSetLimit; }
  void SetModuleSetLimit(int value) { FModuleSetLimit = value; }
  bool KeepModuleSets() const { return FKeepModuleSets; }
  void SetKeepModuleSets(bool value) { FKeepModuleSets = value; }
  int ActiveCount() const { return static_cast<int>(FActiveSets.size()); }
  int InactiveCount() const { return static_cast<int>(FInactiveSets.size()); }

  // Takes a module set, routes the request and sends a handled response that
  // was not sent yet. True when the request was handled.
  bool ServeRequest(TWebRequest* request, TWebResponse* response);

 private:
  TWebModuleList* ActivateWebModules();
  void DeactivateWebModules(TWebModuleList* set);

  std::unique_ptr<TWebModuleClass> FModuleClass;
  TWebModuleFactoryList FFactories;
  std::vector<std::unique_ptr<TWebModuleList>> FActiveSets;
  std::vector<std::unique_ptr<TWebModuleList>> FInactiveSets;
  int FPendingCount = 0;
  int FModuleSetLimit = 32;
  bool FKeepModuleSets = true;
  std::mutex FLock;
};

// The application object of a process that serves web requests.
class TWebApplication : public TWebRequestHandler {
 public:
  explicit TWebApplication(TComponent* owner = nullptr);
  std::string ClassName() const override { return "TWebApplication"; }
};
