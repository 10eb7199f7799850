// Invokable interfaces: the descriptions of the types, methods and interfaces a
// SOAP caller can reach, and the process-wide registry that ties each interface
// to its namespace and to the class that implements it. Descriptions are static
// objects owned by the unit that declares them; the registry only points at them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "runtime/Exception.h"

DORVANA_EXCEPTION(EInvalidCast, Exception);

struct TSoapType;
struct TSoapValue;

// The base of every class whose instances travel as structured values.
class TRemotable {
 public:
  virtual ~TRemotable() = default;
  virtual const TSoapType& SoapType() const = 0;
};

// One value of a parameter or a result. An enumeration travels as its ordinal, an
// array as its elements, an object as a shared instance (or none). Texts are UTF-8.
struct TSoapValue {
  using TArray = std::vector<TSoapValue>;
  using TObject = std::shared_ptr<TRemotable>;
  std::variant<std::monostate, double, int32_t, std::string, TArray, TObject> V;

  TSoapValue() = default;
  static TSoapValue Double(double v) { return TSoapValue(v); }
  static TSoapValue Ordinal(int32_t v) { return TSoapValue(v); }
  static TSoapValue Text(std::string v) { return TSoapValue(std::move(v)); }
  static TSoapValue Array(TArray v) { return TSoapValue(std::move(v)); }
  static TSoapValue Object(TObject v) { return TSoapValue(std::move(v)); }

  // Each raises EInvalidCast when the value holds something else.
  double AsDouble() const;
  int32_t AsOrdinal() const;
  const std::string& AsText() const;
  const TArray& AsArray() const;
  const TObject& AsObject() const;

 private:
  template <typename T>
  explicit TSoapValue(T v) : V(std::move(v)) {}
};

enum class TSoapTypeKind { tkDouble, tkString, tkEnumeration, tkDynArray, tkClass };

// A published property of a remotable class.
struct TSoapProperty {
  std::string Name;
  const TSoapType* Type;
  std::function<TSoapValue(const TRemotable&)> Get;
  std::function<void(TRemotable&, const TSoapValue&)> Set;
};

// The description of a type. Scalars have the XML Schema name ("double",
// "string") and an empty namespace; declared types have their own name and the
// namespace "urn:" followed by the declaring unit.
struct TSoapType {
  TSoapTypeKind Kind;
  std::string Name;
  std::string Namespace = {};
  std::vector<std::string> EnumNames = {};                   // tkEnumeration, in ordinal order
  const TSoapType* ElementType = nullptr;                    // tkDynArray
  std::vector<TSoapProperty> Properties = {};                // tkClass, in published order
  std::function<std::shared_ptr<TRemotable>()> Create = {};  // tkClass

  bool IsScalar() const { return Namespace.empty(); }
};

const TSoapType& SoapDoubleType();
const TSoapType& SoapStringType();

class TInvokableClass;

struct TSoapParam {
  std::string Name;
  const TSoapType* Type;
};

// One method of an invokable interface. Call runs it on an instance of the
// implementing class; it raises whatever the method raises.
struct TSoapMethod {
  std::string Name;
  std::vector<TSoapParam> Params;
  const TSoapType* Result;
  std::function<TSoapValue(TInvokableClass&, const std::vector<TSoapValue>&)> Call;
};

struct TSoapInterface {
  std::string Name;
  std::string UnitName;
  std::string Documentation;
  std::vector<TSoapMethod> Methods;

  const TSoapMethod* FindMethod(const std::string& name) const;
  // The declared types the methods use, each once, in order of first use.
  std::vector<const TSoapType*> UsedTypes() const;
};

// The base of every class that implements invokable interfaces.
class TInvokableClass {
 public:
  virtual ~TInvokableClass() = default;
};

struct TInvokableClassInfo {
  std::string Name;
  std::vector<const TSoapInterface*> Interfaces;
  // May return nothing when no instance can be made.
  std::function<std::unique_ptr<TInvokableClass>()> Create;
};

// The interfaces and classes registered in this process, in registration order.
class TInvocationRegistry {
 public:
  struct TEntry {
    const TSoapInterface* Intf;
    std::string Namespace;
  };

  // Registering an interface a second time does nothing. An empty namespace
  // means the default one, "urn:" + unit name + "-" + interface name.
  void RegisterInterface(const TSoapInterface& intf, const std::string& ns = "");
  void RegisterInvokableClass(const TInvokableClassInfo& info);

  const std::vector<TEntry>& Interfaces() const { return FInterfaces; }
  const TEntry* FindByNamespace(const std::string& ns) const;
  // Names compared without regard to ASCII case.
  const TEntry* FindByName(const std::string& name) const;
  const TEntry* Find(const TSoapInterface& intf) const;
  // The first registered class whose interface table holds intf; none if none.
  const TInvokableClassInfo* ClassFor(const TSoapInterface& intf) const;
  // namespace + "#" + method name.
  std::string SoapAction(const TEntry& entry, const std::string& method) const;

 private:
  std::vector<TEntry> FInterfaces;
  std::vector<TInvokableClassInfo> FClasses;
};

// The registry of this process.
TInvocationRegistry& InvocationRegistry();
