// The root of every failure the system raises, and the exception classes that more
// than one subsystem uses. Each class reports its own name, since the last-resort
// error page prints it.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  virtual std::string ClassName() const { return "Exception"; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Declares an exception class that only adds its name to its base.
#define DORVANA_EXCEPTION(Name, Base)                        \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    std::string ClassName() const override { return #Name; } \
  }

DORVANA_EXCEPTION(EWebBrokerException, Exception);
DORVANA_EXCEPTION(EConvertError, Exception);
DORVANA_EXCEPTION(EResNotFound, Exception);

// A failed operating-system call. The message names what failed and ends with the
// system's text; Code() is the system's error number, 0 when there is none.
class EOSError : public Exception {
 public:
  explicit EOSError(std::string message, int code = 0)
      : Exception(std::move(message)), FCode(code) {}
  std::string ClassName() const override { return "EOSError"; }
  int Code() const { return FCode; }

 private:
  int FCode;
};

DORVANA_EXCEPTION(EOutOfMemory, Exception);
DORVANA_EXCEPTION(EListError, Exception);
DORVANA_EXCEPTION(EInOutError, Exception);
DORVANA_EXCEPTION(EComponentError, Exception);
// Ends an operation silently: callers that catch it report nothing.
DORVANA_EXCEPTION(EAbort, Exception);

// The message of any exception object: its text for an Exception, what() for
// another standard exception, the empty text for anything else.
std::string ExceptionMessage(const std::exception_ptr& e);
// The class name of any exception object ("EOutOfMemory" for std::bad_alloc).
std::string ExceptionClassName(const std::exception_ptr& e);
