// The example SOAP interface: four echo operations over a double, an
// enumeration, an array of doubles and a small remotable object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "soap/Invokable.h"

enum TEnumTest { etNone = 0, etAFew = 1, etSome = 2, etAlot = 3 };

using TDoubleArray = std::vector<double>;

// An employee record; travels as a structure with the fields in this order.
class TMyEmployee : public TRemotable {
 public:
  const TSoapType& SoapType() const override;

  const std::string& LastName() const { return FLastName; }
  void SetLastName(std::string v) { FLastName = std::move(v); }
  const std::string& FirstName() const { return FFirstName; }
  void SetFirstName(std::string v) { FFirstName = std::move(v); }
  double Salary() const { return FSalary; }
  void SetSalary(double v) { FSalary = v; }

 private:
  std::string FLastName;
  std::string FFirstName;
  double FSalary = 0;
};

class ISoapTest {
 public:
  virtual ~ISoapTest() = default;
  virtual TEnumTest echoEnum(TEnumTest Value) = 0;
  virtual TDoubleArray echoDoubleArray(const TDoubleArray& Value) = 0;
  virtual std::shared_ptr<TMyEmployee> echoMyEmployee(
      const std::shared_ptr<TMyEmployee>& Value) = 0;
  virtual double echoDouble(double Value) = 0;
};

const TSoapType& TEnumTestType();
const TSoapType& TDoubleArrayType();
const TSoapType& TMyEmployeeType();
// The description of ISoapTest; its methods call an ISoapTest implementation.
const TSoapInterface& ISoapTestInterface();
