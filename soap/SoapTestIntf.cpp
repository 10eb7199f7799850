#include "soap/SoapTestIntf.h"

namespace {

const char kUnit[] = "SoapTestIntf";
const char kTypesNamespace[] = "urn:SoapTestIntf";

ISoapTest& Target(TInvokableClass& instance) {
  if (auto* p = dynamic_cast<ISoapTest*>(&instance)) return *p;
  throw EInvalidCast("The class does not implement ISoapTest");
}

std::shared_ptr<TMyEmployee> AsEmployee(const TSoapValue& v) {
  const auto& object = v.AsObject();
  if (!object) return nullptr;
  auto employee = std::dynamic_pointer_cast<TMyEmployee>(object);
  if (!employee) throw EInvalidCast("Value is not a TMyEmployee");
  return employee;
}

TMyEmployee& Employee(TRemotable& r) { return dynamic_cast<TMyEmployee&>(r); }
const TMyEmployee& Employee(const TRemotable& r) { return dynamic_cast<const TMyEmployee&>(r); }

}  // namespace

const TSoapType& TMyEmployee::SoapType() const { return TMyEmployeeType(); }

const TSoapType& TEnumTestType() {
  static const TSoapType kType{TSoapTypeKind::tkEnumeration,
                               "TEnumTest",
                               kTypesNamespace,
                               {"etNone", "etAFew", "etSome", "etAlot"}};
  return kType;
}

const TSoapType& TDoubleArrayType() {
  static const TSoapType kType{
      TSoapTypeKind::tkDynArray, "TDoubleArray", kTypesNamespace, {}, &SoapDoubleType()};
  return kType;
}

const TSoapType& TMyEmployeeType() {
  static const TSoapType kType{
      TSoapTypeKind::tkClass,
      "TMyEmployee",
      kTypesNamespace,
      {},
      nullptr,
      {
          {"LastName", &SoapStringType(),
           [](const TRemotable& r) { return TSoapValue::Text(Employee(r).LastName()); },
           [](TRemotable& r, const TSoapValue& v) { Employee(r).SetLastName(v.AsText()); }},
          {"FirstName", &SoapStringType(),
           [](const TRemotable& r) { return TSoapValue::Text(Employee(r).FirstName()); },
           [](TRemotable& r, const TSoapValue& v) { Employee(r).SetFirstName(v.AsText()); }},
          {"Salary", &SoapDoubleType(),
           [](const TRemotable& r) { return TSoapValue::Double(Employee(r).Salary()); },
           [](TRemotable& r, const TSoapValue& v) { Employee(r).SetSalary(v.AsDouble()); }},
      },
      [] { return std::make_shared<TMyEmployee>(); }};
  return kType;
}

const TSoapInterface& ISoapTestInterface() {
  using TArgs = std::vector<TSoapValue>;
  static const TSoapInterface kIntf{
      "ISoapTest",
      kUnit,
      "",
      {
          {"echoEnum",
           {{"Value", &TEnumTestType()}},
           &TEnumTestType(),
           [](TInvokableClass& c, const TArgs& a) {
             return TSoapValue::Ordinal(
                 Target(c).echoEnum(static_cast<TEnumTest>(a.at(0).AsOrdinal())));
           }},
          {"echoDoubleArray",
           {{"Value", &TDoubleArrayType()}},
           &TDoubleArrayType(),
           [](TInvokableClass& c, const TArgs& a) {
             TDoubleArray in;
             in.reserve(a.at(0).AsArray().size());
             for (const auto& e : a.at(0).AsArray()) in.push_back(e.AsDouble());
             const TDoubleArray result = Target(c).echoDoubleArray(in);
             TSoapValue::TArray out;
             out.reserve(result.size());
             for (double d : result) out.push_back(TSoapValue::Double(d));
             return TSoapValue::Array(std::move(out));
           }},
          {"echoMyEmployee",
           {{"Value", &TMyEmployeeType()}},
           &TMyEmployeeType(),
           [](TInvokableClass& c, const TArgs& a) {
             return TSoapValue::Object(Target(c).echoMyEmployee(AsEmployee(a.at(0))));
           }},
          {"echoDouble",
           {{"Value", &SoapDoubleType()}},
           &SoapDoubleType(),
           [](TInvokableClass& c, const TArgs& a) {
             return TSoapValue::Double(Target(c).echoDouble(a.at(0).AsDouble()));
           }},
      }};
  return kIntf;
}
