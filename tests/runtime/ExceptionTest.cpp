#include "runtime/Exception.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

TEST(ExceptionMessage, TextAndClassOfEveryKind) {
  const struct {
    std::exception_ptr e;
    const char* message;
    const char* className;
  } kCases[] = {
      {std::make_exception_ptr(EConvertError("bad value")), "bad value", "EConvertError"},
      {std::make_exception_ptr(EOSError("disk gone", 5)), "disk gone", "EOSError"},
      {std::make_exception_ptr(std::bad_alloc()), "Out of memory", "EOutOfMemory"},
      {std::make_exception_ptr(std::out_of_range("index 7")), "index 7", "Exception"},
      {std::make_exception_ptr(42), "", "Exception"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.message, ExceptionMessage(c.e)) << c.message;
    EXPECT_EQ(c.className, ExceptionClassName(c.e)) << c.message;
  }
}

TEST(EOSError, CarriesTheSystemsErrorNumber) {
  EXPECT_EQ(13, EOSError("Cannot open file \"x\": Permission denied", 13).Code());
  EXPECT_EQ(0, EOSError("no number").Code());
}
