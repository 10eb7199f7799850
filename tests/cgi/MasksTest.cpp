#include "cgi/Masks.h"

#include <gtest/gtest.h>

#include "tests/support/ExpectThrow.h"

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string result;
  for (int i = 0; i < n; ++i) result += s;
  return result;
}

TEST(Mask, Matches) {
  const struct {
    const char* mask;
    const char* text;
    bool match;
  } kCases[] = {
      {"/", "/", true},
      {"/", "", false},
      {"/", "/x", false},
      {"/soap*", "/soap", true},
      {"/soap*", "/SOAP/ISoapTest", true},
      {"/soap*", "/soapx", true},
      {"/soap*", "/soa", false},
      {"/soap*", "", false},
      {"/soap*", "/x/soap", false},
      {"/wsdl*", "/WSDL", true},
      {"*", "", true},
      {"*?", "", true},  // "*?" acts as "*"
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"*b*b", "abab", true},
      {"*b*b", "abba", false},
      {"*ab", "aaab", true},
      {"*a*a*a*b", "aaaaaaaaab", true},
      {"*a*a*a*b", "aaaaaaaaa", false},
      {"[a-c]x", "Bx", true},
      {"[a-c]x", "dx", false},
      {"[!a-c]x", "dx", true},
      {"[!a-c]x", "ax", false},
      {"*[0-9]", "abc7", true},
      {"[xy]", "Y", true},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.match, TMask(c.mask).Matches(c.text)) << c.mask << " / " << c.text;
}

TEST(Mask, InvalidMasks) {
  const struct {
    std::string mask;
    const char* message;
  } kCases[] = {
      {"[-a]", "'[-a]' is an invalid mask at (2)"},
      {"[]", "'[]' is an invalid mask at (2)"},
      {"a[bc", "'a[bc' is an invalid mask at (5)"},
      {Repeat("*a", 31),
       "'*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a' is an invalid mask "
       "at (62)"},
  };
  for (const auto& c : kCases)
    EXPECT_TRUE(ThrowsExactly<EMaskException>([&] { TMask mask(c.mask); },
                                              std::string("EMaskException: ") + c.message))
        << c.mask;
  EXPECT_TRUE(TMask(Repeat("*a", 30)).Matches(std::string(30, 'a')));
}

}  // namespace
