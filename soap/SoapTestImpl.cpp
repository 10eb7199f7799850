#include "soap/SoapTestImpl.h"

TEnumTest TSoapTest::echoEnum(TEnumTest Value) { return Value; }

TDoubleArray TSoapTest::echoDoubleArray(const TDoubleArray& Value) { return Value; }

std::shared_ptr<TMyEmployee> TSoapTest::echoMyEmployee(
    const std::shared_ptr<TMyEmployee>& /*Value*/) {
  return std::make_shared<TMyEmployee>();
}

double TSoapTest::echoDouble(double Value) { return Value; }

void RegisterSoapTest() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  TInvocationRegistry& registry = InvocationRegistry();
  registry.RegisterInterface(ISoapTestInterface());
  registry.RegisterInvokableClass(
      {"TSoapTest", {&ISoapTestInterface()}, [] { return std::make_unique<TSoapTest>(); }});
}
