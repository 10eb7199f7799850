#include "soap/Invokable.h"

#include <algorithm>

#include "runtime/Text.h"

namespace {

template <typename T>
const T& Held(const TSoapValue& v, const char* what) {
  if (const T* p = std::get_if<T>(&v.V)) return *p;
  throw EInvalidCast(std::string("Value is not ") + what);
}

}  // namespace

double TSoapValue::AsDouble() const { return Held<double>(*this, "a number"); }
int32_t TSoapValue::AsOrdinal() const { return Held<int32_t>(*this, "an enumeration"); }
const std::string& TSoapValue::AsText() const { return Held<std::string>(*this, "a text"); }
const TSoapValue::TArray& TSoapValue::AsArray() const { return Held<TArray>(*this, "an array"); }
const TSoapValue::TObject& TSoapValue::AsObject() const {
  return Held<TObject>(*this, "an object");
}

const TSoapType& SoapDoubleType() {
  static const TSoapType kType{TSoapTypeKind::tkDouble, "double", ""};
  return kType;
}

const TSoapType& SoapStringType() {
  static const TSoapType kType{TSoapTypeKind::tkString, "string", ""};
  return kType;
}

const TSoapMethod* TSoapInterface::FindMethod(const std::string& name) const {
  for (const auto& m : Methods)
    if (m.Name == name) return &m;
  return nullptr;
}

std::vector<const TSoapType*> TSoapInterface::UsedTypes() const {
  std::vector<const TSoapType*> result;
  std::function<void(const TSoapType*)> add = [&](const TSoapType* t) {
    if (!t || t->IsScalar()) return;
    if (std::find(result.begin(), result.end(), t) != result.end()) return;
    result.push_back(t);
    add(t->ElementType);
    for (const auto& p : t->Properties) add(p.Type);
  };
  for (const auto& m : Methods) {
    for (const auto& p : m.Params) add(p.Type);
    add(m.Result);
  }
  return result;
}

void TInvocationRegistry::RegisterInterface(const TSoapInterface& intf, const std::string& ns) {
  if (Find(intf)) return;
  FInterfaces.push_back({&intf, ns.empty() ? "urn:" + intf.UnitName + "-" + intf.Name : ns});
}

void TInvocationRegistry::RegisterInvokableClass(const TInvokableClassInfo& info) {
  FClasses.push_back(info);
}

const TInvocationRegistry::TEntry* TInvocationRegistry::FindByNamespace(
    const std::string& ns) const {
  for (const auto& e : FInterfaces)
    if (e.Namespace == ns) return &e;
  return nullptr;
}

const TInvocationRegistry::TEntry* TInvocationRegistry::FindByName(const std::string& name) const {
  for (const auto& e : FInterfaces)
    if (SameText(e.Intf->Name, name)) return &e;
  return nullptr;
}

const TInvocationRegistry::TEntry* TInvocationRegistry::Find(const TSoapInterface& intf) const {
  for (const auto& e : FInterfaces)
    if (e.Intf == &intf) return &e;
  return nullptr;
}

const TInvokableClassInfo* TInvocationRegistry::ClassFor(const TSoapInterface& intf) const {
  for (const auto& c : FClasses)
    if (std::find(c.Interfaces.begin(), c.Interfaces.end(), &intf) != c.Interfaces.end()) return &c;
  return nullptr;
}

std::string TInvocationRegistry::SoapAction(const TEntry& entry, const std::string& method) const {
  return entry.Namespace + "#" + method;
}

TInvocationRegistry& InvocationRegistry() {
  static TInvocationRegistry registry;
  return registry;
}
