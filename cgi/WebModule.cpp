#include "cgi/WebModule.h"

#include <map>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

std::map<std::string, std::function<TFormDescription()>>& FormRegistry() {
  static std::map<std::string, std::function<TFormDescription()>> registry;
  return registry;
}

}  // namespace

bool RegisterFormDescription(const std::string& className, std::function<TFormDescription()> form) {
  FormRegistry()[className] = std::move(form);
  return true;
}

TWebModule::TWebModule(TComponent* owner) : TCustomWebDispatcher(owner) {}

void TWebModule::ReadForm(const std::string& className) {
  auto it = FormRegistry().find(className);
  if (it == FormRegistry().end()) throw EResNotFound(Format("Resource %s not found", {className}));
  const TFormDescription form = it->second();
  if (form.Properties) form.Properties(this);
  for (const TFormComponent& entry : form.Components)
    if (entry.Create) entry.Create(this);
  // References between components are resolved once all of them exist.
  for (const TFormComponent& entry : form.Components)
    if (entry.Link) entry.Link(this);
}
