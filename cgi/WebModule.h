// A web module: a dispatcher built from the form description its class
// registered, and the form descriptions themselves.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cgi/Dispatch.h"
#include "runtime/Component.h"

// One entry of a module's form description: creates a component owned by the
// module with its fixed settings, and later links it to the form's other
// components.
struct TFormComponent {
  std::function<TComponent*(TComponent* module)> Create;
  std::function<void(TComponent* module)> Link;
};

// A module's form: the module's own properties, then its components in
// creation order.
struct TFormDescription {
  std::function<void(TComponent* module)> Properties;
  std::vector<TFormComponent> Components;
};

// Records the form description of a module class, by class name.
bool RegisterFormDescription(const std::string& className, std::function<TFormDescription()> form);

// Builds a form entry for a published field of TModule: the component of class T
// is created owned by the module, named, stored in the field and given its fixed
// settings; links run once every component of the form exists.
template <class TModule, class T>
TFormComponent FormComponent(const char* name, T* TModule::*field,
                             std::function<void(T&)> settings = {},
                             std::function<void(T&, TModule&)> links = {}) {
  TFormComponent entry;
  entry.Create = [name, field, settings](TComponent* module) -> TComponent* {
    auto& m = static_cast<TModule&>(*module);
    T* c = new T(module);  // owned by the module from here on
    c->SetName(name);
    m.*field = c;
    if (settings) settings(*c);
    return c;
  };
  if (links)
    entry.Link = [field, links](TComponent* module) {
      auto& m = static_cast<TModule&>(*module);
      links(*(m.*field), m);
    };
  return entry;
}

// A web module: a dispatcher built from the form description of its class.
class TWebModule : public TCustomWebDispatcher {
 public:
  explicit TWebModule(TComponent* owner = nullptr);
  std::string ClassName() const override { return "TWebModule"; }

 protected:
  // Creates the components of className's form in order, then links them. Raises
  // EResNotFound "Resource %s not found" when the class has no form.
  void ReadForm(const std::string& className);
};
