#include "runtime/StringList.h"

#include <gtest/gtest.h>

TEST(StringList, TextEndsEveryLineWithCrLf) {
  EXPECT_EQ("", TStringList().Text());
  EXPECT_EQ("a\r\n\r\nb\r\n", (TStringList{"a", "", "b"}).Text());
}

TEST(StringList, SetTextSplitsAtEveryLineEndKind) {
  const struct {
    const char* in;
    std::vector<std::string> lines;
  } kCases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"\n", {""}},
  };
  for (const auto& c : kCases) {
    TStringList l;
    l.SetText(c.in);
    EXPECT_EQ(c.lines, l.Lines()) << c.in;
  }
}

TEST(StringList, ValuesFindTheFirstNameIgnoringCase) {
  TStringList l{"noequals", "Q=first", "q=second", "qq=x", "a=b=c", "empty="};
  EXPECT_EQ("first", l.Values("q"));
  EXPECT_EQ("x", l.Values("QQ"));
  EXPECT_EQ("b=c", l.Values("a"));
  EXPECT_EQ("", l.Values("empty"));
  EXPECT_EQ("", l.Values("noequals"));
  EXPECT_EQ("", l.Values("missing"));
  EXPECT_EQ(-1, l.IndexOfName("noequals"));
  EXPECT_EQ(1, l.IndexOfName("Q"));
}

TEST(StringList, SetValuesReplacesOrAppends) {
  TStringList l{"a=1"};
  l.SetValues("A", "2");
  l.SetValues("b", "3");
  EXPECT_EQ((std::vector<std::string>{"A=2", "b=3"}), l.Lines());
}
