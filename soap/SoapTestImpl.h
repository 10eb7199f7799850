// The implementation of the example SOAP interface.
#pragma once

#include "soap/SoapTestIntf.h"

class TSoapTest : public TInvokableClass, public ISoapTest {
 public:
  TEnumTest echoEnum(TEnumTest Value) override;
  TDoubleArray echoDoubleArray(const TDoubleArray& Value) override;
  // Answers a new employee with empty names and no salary; the argument is unused.
  std::shared_ptr<TMyEmployee> echoMyEmployee(const std::shared_ptr<TMyEmployee>& Value) override;
  double echoDouble(double Value) override;
};

// Registers ISoapTest (default namespace) and then TSoapTest with the process's
// invocation registry. Runs once at process start; a second call changes nothing.
void RegisterSoapTest();
