// Expecting an exception of an exact class with an exact message, the way the
// program reports one ("EConvertError: 'x' is not a valid integer value"):
//
//   EXPECT_EQ("EConvertError: '1 ' is not a valid integer value",
//             ThrownError([] { StrToInt("1 "); }));
//   EXPECT_TRUE(ThrowsExactly<EConvertError>([] { StrToInt("1 "); },
//                                            "EConvertError: '1 ' is not a valid integer value"));
//
// The class is the most derived one (ClassName() and the C++ type both): a
// subclass of the class asked for does not pass.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <string>
#include <typeinfo>

#include "runtime/Exception.h"

// What f raises, as "ClassName: Message"; "no error" when it returns, and
// "std::exception: what()" or "unknown exception" for one that is not an
// Exception.
template <class F>
std::string ThrownError(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.ClassName() + ": " + e.Message();
  } catch (const std::exception& e) {
    return std::string("std::exception: ") + e.what();
  } catch (...) {
    return "unknown exception";
  }
  return "no error";
}

// The E (or subclass, copied as an E) that f raises, for a look at its fields;
// empty when f returns or raises anything else.
template <class E, class F>
std::optional<E> Caught(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e;
  } catch (...) {
  }
  return std::nullopt;
}

// Passes when f raises an E itself (not a subclass) and ThrownError(f) is
// expected, "E: message".
template <class E, class F>
::testing::AssertionResult ThrowsExactly(F&& f, const std::string& expected) {
  try {
    f();
  } catch (const Exception& e) {
    const std::string got = e.ClassName() + ": " + e.Message();
    if (typeid(e) != typeid(E))
      return ::testing::AssertionFailure()
             << "raised a " << typeid(e).name() << ", not exactly the class asked for: " << got;
    if (got != expected)
      return ::testing::AssertionFailure() << "raised\n  " << got << "\nexpected\n  " << expected;
    return ::testing::AssertionSuccess();
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "raised a std::exception: " << e.what();
  } catch (...) {
    return ::testing::AssertionFailure() << "raised something that is not an exception";
  }
  return ::testing::AssertionFailure() << "raised nothing; expected " << expected;
}
