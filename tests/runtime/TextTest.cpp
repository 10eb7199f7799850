#include "runtime/Text.h"

#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "tests/support/ExpectThrow.h"

TEST(Trim, RemovesControlBytesAndBlanksButNotHighBytes) {
  const struct {
    std::string in, out;
  } kCases[] = {
      {"", ""},
      {"  a b  ", "a b"},
      {std::string("\0\t\r\na\x1f", 6), "a"},
      {"\xa0x\xa0", "\xa0x\xa0"},
      {" \x01 ", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.out, Trim(c.in)) << c.in;
}

TEST(BlankControls, BlanksBytesBelow0x20AndDelOnly) {
  EXPECT_EQ("a b  c   ~\x80\xff ", BlankControls(std::string("a\tb\r\nc\0\x1f\x7f~\x80\xff ", 13)));
}

TEST(StrToInt, AcceptsDecimalAndHexForms) {
  const struct {
    const char* in;
    bool ok;
    int32_t value;
  } kCases[] = {
      {"12", true, 12},
      {"  -7", true, -7},
      {"+3", true, 3},
      {"$1f", true, 31},
      {"x1F", true, 31},
      {"0X10", true, 16},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"12 ", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"1a", false, 0},
      {"$", false, 0},
      {"99999999999", false, 0},
      {"$FFFFFFFF", true, -1},
  };
  for (const auto& c : kCases) {
    int32_t v = 0;
    EXPECT_EQ(c.ok, TryStrToInt(c.in, v)) << c.in;
    if (c.ok) {
      EXPECT_EQ(c.value, v) << c.in;
    }
  }
  EXPECT_TRUE(ThrowsExactly<EConvertError>([] { StrToInt("1 "); },
                                           "EConvertError: '1 ' is not a valid integer value"));
}

TEST(Cp1251ToUtf8, MapsEveryByteThroughTheCodePage) {
  EXPECT_EQ("", Cp1251ToUtf8(""));
  EXPECT_EQ("abc\r\n", Cp1251ToUtf8("abc\r\n"));
  EXPECT_EQ("\xD0\x90\xD1\x8F", Cp1251ToUtf8("\xC0\xFF"));  // А я
  EXPECT_EQ("\xD0\x81\xD1\x91", Cp1251ToUtf8("\xA8\xB8"));  // Ё ё
  EXPECT_EQ("\xE2\x82\xAC", Cp1251ToUtf8("\x88"));          // €
  EXPECT_EQ("\xE2\x84\x96", Cp1251ToUtf8("\xB9"));          // №
  EXPECT_EQ("\xC2\xA0", Cp1251ToUtf8("\xA0"));              // no-break space
  EXPECT_EQ("\xEF\xBF\xBD", Cp1251ToUtf8("\x98"));          // undefined
}

TEST(EscapeMarkup, EscapesTheThreeMarkupCharacters) {
  EXPECT_EQ("Fish &amp; Chips &lt;b&gt; \"q\"", EscapeMarkup("Fish & Chips <b> \"q\""));
  EXPECT_EQ("", EscapeMarkup(""));
}

TEST(EscapeMarkup, QuotesTooForAttributeValues) {
  EXPECT_EQ("a=&quot;&amp;&lt;&gt;&quot; '", EscapeMarkup("a=\"&<>\" '", true));
}

TEST(UpperAscii, ChangesOnlyAsciiLetters) {
  EXPECT_EQ("AZ@[`{0\xE0\xFF", UpperCase("az@[`{0\xE0\xFF"));
  EXPECT_EQ("az@[`{0\xC0", LowerCase("AZ@[`{0\xC0"));
}

TEST(AppendCp1251ToUtf8, AppendsAndEscapesMarkupInOnePass) {
  std::string out = "<a>";
  AppendCp1251ToUtf8(out, "\xD0\xFB\xE1\xE0 & <\xF7\xE8\xEF\xF1>", true);
  EXPECT_EQ("<a>\xD0\xA0\xD1\x8B\xD0\xB1\xD0\xB0 &amp; &lt;\xD1\x87\xD0\xB8\xD0\xBF\xD1\x81&gt;",
            out);
  AppendCp1251ToUtf8(out, "&");
  EXPECT_EQ('&', out.back());
}

TEST(TrimView, DropsControlBytesAndBlanksAtBothEnds) {
  using namespace std::string_view_literals;
  EXPECT_EQ("a \x01 b", TrimView("\x00\t a \x01 b\r\n"sv));
  EXPECT_EQ("\xA0", TrimView(" \xA0 "));
  EXPECT_EQ("", TrimView(" \x1F "));
}
